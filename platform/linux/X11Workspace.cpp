#include "platform/linux/X11Workspace.h"

#include "model/Log.h"
#include "platform/linux/DesktopEntryExec.h"
#include "platform/linux/Xcb.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

namespace {

// A handle for an application whose windows name no process: negative, from its identity.
qint64 syntheticHandle(const QString& identity) {
    return -static_cast<qint64>(qHash(identity) & 0x7fffffff) - 1;
}

} // namespace

struct X11Workspace::Atoms {
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t gtkApplicationID = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t timestamp = XCB_ATOM_NONE; // a property of ours, for asking the server's time
};

struct X11Workspace::Window {
    quint32 id = 0;
    qint64 key = 0;            // the application's handle
    std::optional<qint64> pid; // _NET_WM_PID, when the window names its process
    std::optional<QString> title;
    bool isRegular = false;
};

struct X11Workspace::Application {
    RunningApplication info;
    QString identity; // what makes windows one application
    QSet<quint32> windows;
    quint32 focusedWindow = 0;
};

X11Workspace::X11Workspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent)
    : Workspace(parent)
    , m_atoms(std::make_unique<Atoms>())
    , m_ownPid(ownPid)
    , m_resolver(std::move(resolver)) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection)) {
        xcb_disconnect(connection);
        return;
    }
    m_connection = connection;
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(m_connection, &m_atoms->ewmh);
    if (!xcb_ewmh_init_atoms_replies(&m_atoms->ewmh, cookies, nullptr)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    m_atoms->gtkApplicationID = internAtom(m_connection, "_GTK_APPLICATION_ID");
    m_atoms->wmState = internAtom(m_connection, "WM_STATE");
    m_atoms->timestamp = internAtom(m_connection, "_KESTRUNE_TIMESTAMP");

    m_root = m_atoms->ewmh.screens[screenNumber]->root;
    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);

    // What is already on screen is the starting point, not news.
    const QSignalBlocker quiet(this);
    clientListChanged();
    activeWindowChanged();
    xcb_flush(m_connection);

    m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                   QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    scheduleRead();
}

void X11Workspace::scheduleRead() {
    // Round trips can pull events into xcb's queue without waking the socket notifier.
    QMetaObject::invokeMethod(
        this, [this] { readEvents(); }, Qt::QueuedConnection);
}

X11Workspace::~X11Workspace() {
    m_notifier.reset();
    if (m_connection) {
        xcb_ewmh_connection_wipe(&m_atoms->ewmh);
        xcb_disconnect(m_connection);
    }
}

bool X11Workspace::isFollowing() const {
    return m_notifier && m_notifier->isEnabled();
}

bool X11Workspace::isConnected() const {
    return m_connection && !xcb_connection_has_error(m_connection);
}

void X11Workspace::readEvents() {
    if (!m_connection || !m_notifier || !m_notifier->isEnabled())
        return;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        handleEvent(event->response_type, property->window, property->atom);
        std::free(event);
    }
    xcb_flush(m_connection);
    if (xcb_connection_has_error(m_connection)) {
        // The socket stays readable at its end: left enabled, the notifier would fire forever.
        m_notifier->setEnabled(false);
        qCWarning(lcFocus) << "The X display went away; window switches are no longer followed."
                           << "Start Tessarine again in the new session.";
    }
}

void X11Workspace::handleEvent(quint8 responseType, quint32 window, quint32 atom) {
    // Errors (response type 0) are windows that vanished under us (BadWindow): nothing to do.
    if ((responseType & 0x7f) != XCB_PROPERTY_NOTIFY)
        return;
    if (window == m_root) {
        if (atom == m_atoms->ewmh._NET_CLIENT_LIST)
            clientListChanged();
        else if (atom == m_atoms->ewmh._NET_ACTIVE_WINDOW)
            activeWindowChanged();
        return;
    }
    windowPropertyChanged(window, atom);
}

void X11Workspace::clientListChanged() {
    xcb_ewmh_get_windows_reply_t list{};
    QSet<quint32> current;
    if (xcb_ewmh_get_client_list_reply(&m_atoms->ewmh, xcb_ewmh_get_client_list(&m_atoms->ewmh, 0),
                                       &list, nullptr)) {
        for (uint32_t i = 0; i < list.windows_len; ++i)
            current.insert(list.windows[i]);
        xcb_ewmh_get_windows_reply_wipe(&list);
    }
    const auto known = m_windows.keys();
    for (quint32 window : known) {
        if (!current.contains(window))
            removeWindow(window);
    }
    for (quint32 window : current) {
        if (!m_windows.contains(window))
            addWindow(window);
    }
}

AppIdentityResolver::Identity X11Workspace::identify(quint32 window, std::optional<qint64> pid,
                                                     AppIdentityResolver::Clues clues) {
    // One process is one application: resolve it once (the cgroup read is not free).
    if (pid) {
        if (const auto known = m_identities.constFind(*pid); known != m_identities.cend())
            return *known;
    }
    if (m_atoms->gtkApplicationID != XCB_ATOM_NONE) {
        const ReplyPtr<xcb_get_property_reply_t> gtk(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_atoms->gtkApplicationID,
                             m_atoms->ewmh.UTF8_STRING, 0, 256),
            nullptr));
        if (gtk && xcb_get_property_value_length(gtk.get()) > 0)
            clues.gtkApplicationID =
                QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(gtk.get())),
                                  xcb_get_property_value_length(gtk.get()));
    }
    if (pid) {
        QFile cgroup(QStringLiteral("/proc/%1/cgroup").arg(*pid));
        if (cgroup.open(QIODevice::ReadOnly))
            clues.cgroup = QString::fromUtf8(cgroup.readAll());
    }
    const AppIdentityResolver::Identity identity = m_resolver.resolve(clues);
    if (pid)
        m_identities.insert(*pid, identity);
    return identity;
}

bool X11Workspace::addWindow(quint32 window) {
    uint32_t pidValue = 0;
    std::optional<qint64> pid;
    if (xcb_ewmh_get_wm_pid_reply(&m_atoms->ewmh, xcb_ewmh_get_wm_pid(&m_atoms->ewmh, window),
                                  &pidValue, nullptr) &&
        pidValue > 0)
        pid = pidValue;
    if (pid == m_ownPid)
        return false; // our own windows are never reported

    AppIdentityResolver::Clues clues;
    xcb_icccm_get_wm_class_reply_t wmClass{};
    if (xcb_icccm_get_wm_class_reply(m_connection, xcb_icccm_get_wm_class(m_connection, window),
                                     &wmClass, nullptr)) {
        clues.wmClassInstance = QString::fromUtf8(wmClass.instance_name);
        clues.wmClassName = QString::fromUtf8(wmClass.class_name);
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    } else if (!pid) {
        return false; // vanished, or nothing to know it by
    }
    // Windows of one identity are one application, whichever process shows them; a
    // legacy window without _NET_WM_PID is known by its WM_CLASS.
    const AppIdentityResolver::Identity identity = identify(window, pid, clues);
    const QString identityKey =
        identity.bundleID.value_or(pid ? QStringLiteral("pid:%1").arg(*pid) : QString());
    if (identityKey.isEmpty())
        return false;
    qint64 key = m_handles.value(identityKey, 0);
    if (key == 0) {
        key = pid.value_or(0);
        if (key == 0 || m_applications.contains(key))
            key = syntheticHandle(identityKey);
        while (m_applications.contains(key))
            --key; // two identities whose names hash alike
        auto application = std::make_shared<Application>();
        application->identity = identityKey;
        application->info =
            RunningApplication{identity.bundleID, identity.displayName, key, false, {}};
        m_applications.insert(key, application);
        m_handles.insert(identityKey, key);
    }

    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    auto record = std::make_shared<Window>();
    record->id = window;
    record->key = key;
    record->pid = pid;
    record->title = readTitle(window);
    record->isRegular = readIsRegular(window);
    m_windows.insert(window, record);

    Application& application = *m_applications[key];
    const bool isNew = application.windows.isEmpty();
    const bool wasRegular = application.info.isRegular;
    application.windows.insert(window);
    application.info.isRegular = wasRegular || record->isRegular;
    if (pid && !application.info.processes.contains(*pid))
        application.info.processes.append(*pid);
    if (isNew)
        Q_EMIT applicationLaunched(application.info);
    else
        notifyObservers(key); // a new window of an application already running
    return true;
}

void X11Workspace::removeWindow(quint32 window) {
    const std::shared_ptr<Window> record = m_windows.take(window);
    if (!record)
        return;
    const auto found = m_applications.find(record->key);
    if (found == m_applications.end())
        return;
    const std::shared_ptr<Application> application = *found;
    application->windows.remove(window);
    if (application->focusedWindow == window)
        application->focusedWindow = 0;
    if (m_activeWindow == window)
        m_activeWindow = 0;
    if (record->pid) {
        bool stillShown = false;
        for (quint32 id : std::as_const(application->windows))
            stillShown = stillShown || m_windows.value(id)->pid == record->pid;
        if (!stillShown) {
            application->info.processes.removeOne(*record->pid);
            m_identities.remove(*record->pid); // the pid may be reused by another program
        }
    }
    if (!application->windows.isEmpty()) {
        notifyObservers(record->key); // one of its windows went
        return;
    }
    // The last window of the application: it has ended, whichever process showed it.
    m_applications.erase(found);
    m_handles.remove(application->identity);
    if (m_front == record->key)
        m_front.reset();
    Q_EMIT applicationTerminated(application->info);
}

void X11Workspace::activeWindowChanged() {
    xcb_window_t window = XCB_WINDOW_NONE;
    if (!xcb_ewmh_get_active_window_reply(
            &m_atoms->ewmh, xcb_ewmh_get_active_window(&m_atoms->ewmh, 0), &window, nullptr))
        return;
    // Window managers pass through "no window" between two windows, and repeat values.
    if (window == XCB_WINDOW_NONE || window == m_activeWindow)
        return;
    m_activeWindow = window;
    if (!m_windows.contains(window) && !addWindow(window)) {
        // Not remembered: a stale value can name a destroyed window whose id the server
        // later hands to a new window, which must not look like a repeat.
        m_activeWindow = XCB_WINDOW_NONE;
        // One of our own windows, or one that vanished: whoever was in front lost focus.
        if (m_front && m_applications.contains(*m_front)) {
            const RunningApplication previous = m_applications.value(*m_front)->info;
            m_front.reset();
            Q_EMIT applicationDeactivated(previous);
        }
        return;
    }
    const qint64 key = m_windows.value(window)->key;
    Application& application = *m_applications[key];
    const bool windowChanged = application.focusedWindow != window;
    application.focusedWindow = window;
    if (m_front == key) {
        if (windowChanged)
            notifyObservers(key); // another window of the front application
        return;
    }
    if (m_front && m_applications.contains(*m_front))
        Q_EMIT applicationDeactivated(m_applications.value(*m_front)->info);
    m_front = key;
    Q_EMIT applicationActivated(application.info);
}

void X11Workspace::windowPropertyChanged(quint32 window, quint32 atom) {
    const auto found = m_windows.constFind(window);
    if (found == m_windows.cend())
        return;
    Window& record = **found;
    if (atom == m_atoms->ewmh._NET_WM_NAME || atom == XCB_ATOM_WM_NAME) {
        const std::optional<QString> title = readTitle(window);
        if (title == record.title)
            return; // the same value again
        record.title = title;
        notifyObservers(record.key);
    } else if (atom == m_atoms->ewmh._NET_WM_STATE || atom == m_atoms->ewmh._NET_WM_WINDOW_TYPE) {
        record.isRegular = readIsRegular(window);
        if (auto application = m_applications.value(record.key)) {
            bool regular = false;
            for (quint32 id : std::as_const(application->windows))
                regular = regular || (m_windows.contains(id) && m_windows.value(id)->isRegular);
            application->info.isRegular = regular;
        }
    }
}

std::optional<QString> X11Workspace::readTitle(quint32 window) const {
    xcb_ewmh_get_utf8_strings_reply_t name{};
    if (xcb_ewmh_get_wm_name_reply(&m_atoms->ewmh, xcb_ewmh_get_wm_name(&m_atoms->ewmh, window),
                                   &name, nullptr)) {
        const QString title = QString::fromUtf8(name.strings, name.strings_len);
        xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        return title;
    }
    xcb_icccm_get_text_property_reply_t legacy{};
    if (xcb_icccm_get_wm_name_reply(m_connection, xcb_icccm_get_wm_name(m_connection, window),
                                    &legacy, nullptr)) {
        const QString title = QString::fromLatin1(legacy.name, legacy.name_len);
        xcb_icccm_get_text_property_reply_wipe(&legacy);
        return title;
    }
    return std::nullopt;
}

bool X11Workspace::readIsRegular(quint32 window) const {
    xcb_ewmh_get_atoms_reply_t types{};
    bool normal = true; // managed windows without a type are normal
    if (xcb_ewmh_get_wm_window_type_reply(
            &m_atoms->ewmh, xcb_ewmh_get_wm_window_type(&m_atoms->ewmh, window), &types, nullptr)) {
        normal = false;
        for (uint32_t i = 0; i < types.atoms_len; ++i)
            normal = normal || types.atoms[i] == m_atoms->ewmh._NET_WM_WINDOW_TYPE_NORMAL;
        xcb_ewmh_get_atoms_reply_wipe(&types);
    }
    xcb_ewmh_get_atoms_reply_t states{};
    if (normal &&
        xcb_ewmh_get_wm_state_reply(&m_atoms->ewmh, xcb_ewmh_get_wm_state(&m_atoms->ewmh, window),
                                    &states, nullptr)) {
        for (uint32_t i = 0; i < states.atoms_len; ++i)
            normal = normal && states.atoms[i] != m_atoms->ewmh._NET_WM_STATE_SKIP_TASKBAR;
        xcb_ewmh_get_atoms_reply_wipe(&states);
    }
    return normal;
}

QList<RunningApplication> X11Workspace::runningApplications() const {
    QList<RunningApplication> list;
    for (const auto& application : m_applications)
        list.append(application->info);
    return list;
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() const {
    if (!m_front || !m_applications.contains(*m_front))
        return std::nullopt;
    return m_applications.value(*m_front)->info;
}

std::optional<quint64> X11Workspace::focusedWindowID(qint64 pid) const {
    const auto application = m_applications.value(pid);
    if (!application)
        return std::nullopt;
    quint32 window = application->focusedWindow;
    if (!window && !application->windows.isEmpty())
        window = *application->windows.cbegin();
    return window ? std::optional<quint64>(window) : std::nullopt;
}

std::optional<QString> X11Workspace::focusedWindowTitle(qint64 pid) const {
    const std::optional<quint64> window = focusedWindowID(pid);
    const auto record = window ? m_windows.value(static_cast<quint32>(*window)) : nullptr;
    return record ? record->title : std::nullopt;
}

QList<WindowInfo> X11Workspace::windows(qint64 pid) const {
    QList<WindowInfo> list;
    const auto application = m_applications.value(pid);
    if (!application)
        return list;
    for (quint32 id : std::as_const(application->windows)) {
        const auto record = m_windows.value(id);
        bool hidden = false;
        xcb_ewmh_get_atoms_reply_t states{};
        if (xcb_ewmh_get_wm_state_reply(&m_atoms->ewmh, xcb_ewmh_get_wm_state(&m_atoms->ewmh, id),
                                        &states, nullptr)) {
            for (uint32_t i = 0; i < states.atoms_len; ++i)
                hidden = hidden || states.atoms[i] == m_atoms->ewmh._NET_WM_STATE_HIDDEN;
            xcb_ewmh_get_atoms_reply_wipe(&states);
        }
        list.append(WindowInfo{id, record ? record->title : std::nullopt, hidden,
                               record ? record->pid.value_or(0) : 0});
    }
    const_cast<X11Workspace*>(this)->scheduleRead();
    return list;
}

std::unique_ptr<Workspace::WindowObservation>
X11Workspace::observeWindows(qint64 pid, std::function<void()> changed) {
    if (!isConnected() || !m_applications.contains(pid))
        return nullptr;
    return m_observers.add(pid, std::move(changed));
}

quint32 X11Workspace::serverTime() {
    // A zero-length append to a property of the root window changes nothing but makes the
    // server send a PropertyNotify stamped with its current time.
    xcb_change_property(m_connection, XCB_PROP_MODE_APPEND, m_root, m_atoms->timestamp,
                        XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(m_connection);
    while (xcb_generic_event_t* event = xcb_wait_for_event(m_connection)) {
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        const bool stamp = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                           property->window == m_root && property->atom == m_atoms->timestamp;
        const quint32 time = property->time;
        if (!stamp)
            handleEvent(event->response_type, property->window, property->atom);
        std::free(event);
        if (stamp)
            return time;
    }
    return XCB_CURRENT_TIME;
}

std::optional<quint32> X11Workspace::firstWord(quint32 window, quint32 atom, quint32 type) const {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        m_connection, xcb_get_property(m_connection, 0, window, atom, type, 0, 1), nullptr));
    if (!reply || xcb_get_property_value_length(reply.get()) < 4)
        return std::nullopt;
    return *static_cast<const quint32*>(xcb_get_property_value(reply.get()));
}

bool X11Workspace::raiseWindow(quint64 windowID) {
    if (!isConnected() || !m_windows.contains(static_cast<quint32>(windowID)))
        return false;
    const auto window = static_cast<xcb_window_t>(windowID);
    // On another desktop: go there first (0xFFFFFFFF is "on every desktop").
    const std::optional<quint32> desktop =
        firstWord(window, m_atoms->ewmh._NET_WM_DESKTOP, XCB_ATOM_CARDINAL);
    const std::optional<quint32> current =
        firstWord(m_root, m_atoms->ewmh._NET_CURRENT_DESKTOP, XCB_ATOM_CARDINAL);
    if (desktop && *desktop != 0xFFFFFFFF && current && *desktop != *current)
        xcb_ewmh_request_change_current_desktop(&m_atoms->ewmh, 0, *desktop, XCB_CURRENT_TIME);
    // ICCCM: a client leaves the iconic state by mapping its window again.
    constexpr quint32 kIconicState = 3;
    if (firstWord(window, m_atoms->wmState, m_atoms->wmState) == kIconicState)
        xcb_map_window(m_connection, window);
    // As a pager would ask (source 2) with a real time, which window managers with
    // focus-stealing prevention obey; they de-iconify on activation.
    xcb_ewmh_request_change_active_window(&m_atoms->ewmh, 0, window,
                                          XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER, serverTime(),
                                          XCB_WINDOW_NONE);
    xcb_flush(m_connection);
    scheduleRead();
    return true;
}

bool X11Workspace::openURL(const QString& url) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

bool X11Workspace::openFile(const QString& path) {
    return QFileInfo::exists(path) && QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

bool X11Workspace::launchApplication(const QString& bundleID, const std::optional<QString>& url) {
    const std::optional<AppIdentityResolver::DesktopEntry> installed =
        m_resolver.desktopEntry(bundleID);
    if (!installed)
        return false;
    const std::optional<DesktopEntryExec::Entry> entry = DesktopEntryExec::read(installed->path);
    if (entry && entry->dbusActivatable && activateOverDBus(*entry, url))
        return true; // else its Exec line, when it has one
    const std::optional<QStringList> command =
        entry ? DesktopEntryExec::arguments(*entry, url) : std::nullopt;
    if (!command) {
        qCWarning(lcFocus).noquote()
            << "Cannot start" << installed->path << ": its Exec line cannot be read";
        return false;
    }
    return QProcess::startDetached(command->constFirst(), command->mid(1));
}

bool X11Workspace::activateOverDBus(const DesktopEntryExec::Entry& entry,
                                    const std::optional<QString>& url) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // Never wait on another application: sent when its name is there or can be activated.
    const QString name = DesktopEntryExec::busName(entry);
    QDBusConnectionInterface* daemon = bus.interface();
    if (!daemon->isServiceRegistered(name).value() &&
        !daemon->activatableServiceNames().value().contains(name))
        return false;
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, DesktopEntryExec::objectPath(entry), QStringLiteral("org.freedesktop.Application"),
        url ? QStringLiteral("Open") : QStringLiteral("Activate"));
    if (url)
        call << QStringList{*url} << QVariantMap{};
    else
        call << QVariantMap{};
    bus.asyncCall(call);
    return true;
}

bool X11Workspace::copyText(const QString& text) {
    return m_copy && m_copy(text);
}
