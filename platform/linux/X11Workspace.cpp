#include "platform/linux/X11Workspace.h"

#include "model/Log.h"
#include "platform/linux/Xcb.h"

#include <QSocketNotifier>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

struct X11Workspace::Atoms {
    xcb_ewmh_connection_t ewmh{};
    xcb_atom_t gtkApplicationID = XCB_ATOM_NONE;
    xcb_atom_t wmState = XCB_ATOM_NONE;
    xcb_atom_t timestamp = XCB_ATOM_NONE; // a property of ours, for asking the server's time
};

X11Workspace::X11Workspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent)
    : ToplevelWorkspace(ownPid, std::move(resolver), parent)
    , m_atoms(std::make_unique<Atoms>()) {
    const std::optional<XcbDisplay> display = connectDisplay();
    if (!display)
        return;
    m_connection = display->connection;
    const int screenNumber = display->screen;
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
    for (quint64 window : toplevelIDs()) {
        if (!current.contains(static_cast<quint32>(window)))
            removeToplevel(window);
    }
    for (quint32 window : current) {
        if (!hasToplevel(window))
            addWindow(window);
    }
}

bool X11Workspace::addWindow(quint32 window) {
    uint32_t pidValue = 0;
    std::optional<qint64> pid;
    if (xcb_ewmh_get_wm_pid_reply(&m_atoms->ewmh, xcb_ewmh_get_wm_pid(&m_atoms->ewmh, window),
                                  &pidValue, nullptr) &&
        pidValue > 0)
        pid = pidValue;
    if (pid == ownPid())
        return false; // our own windows are never reported

    Toplevel toplevel;
    toplevel.id = window;
    toplevel.pid = pid;
    xcb_icccm_get_wm_class_reply_t wmClass{};
    if (xcb_icccm_get_wm_class_reply(m_connection, xcb_icccm_get_wm_class(m_connection, window),
                                     &wmClass, nullptr)) {
        toplevel.clues.wmClassInstance = QString::fromUtf8(wmClass.instance_name);
        toplevel.clues.wmClassName = QString::fromUtf8(wmClass.class_name);
        xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    } else if (!pid) {
        return false; // vanished, or nothing to know it by
    }
    const auto gtkApplicationID = [this, window](AppIdentityResolver::Clues& clues) {
        if (m_atoms->gtkApplicationID == XCB_ATOM_NONE)
            return;
        const ReplyPtr<xcb_get_property_reply_t> gtk(xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, m_atoms->gtkApplicationID,
                             m_atoms->ewmh.UTF8_STRING, 0, 256),
            nullptr));
        if (gtk && xcb_get_property_value_length(gtk.get()) > 0)
            clues.gtkApplicationID =
                QString::fromUtf8(static_cast<const char*>(xcb_get_property_value(gtk.get())),
                                  xcb_get_property_value_length(gtk.get()));
    };
    // Changes are watched before the title is read: a title set in between (a shell's first
    // prompt, just after its terminal appears) would otherwise be missed until the next one.
    const quint32 mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(m_connection, window, XCB_CW_EVENT_MASK, &mask);
    toplevel.title = readTitle(window);
    toplevel.isRegular = readIsRegular(window);
    return addToplevel(std::move(toplevel), gtkApplicationID);
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
    if (!hasToplevel(window) && !addWindow(window)) {
        // Not remembered: a stale value can name a destroyed window whose id the server
        // later hands to a new window, which must not look like a repeat.
        m_activeWindow = XCB_WINDOW_NONE;
        // One of our own windows, or one that vanished.
        deactivateFront();
        return;
    }
    activateToplevel(window);
}

void X11Workspace::windowPropertyChanged(quint32 window, quint32 atom) {
    if (!hasToplevel(window))
        return;
    if (atom == m_atoms->ewmh._NET_WM_NAME || atom == XCB_ATOM_WM_NAME)
        setToplevelTitle(window, readTitle(window));
    else if (atom == m_atoms->ewmh._NET_WM_STATE || atom == m_atoms->ewmh._NET_WM_WINDOW_TYPE)
        setToplevelRegular(window, readIsRegular(window));
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

bool X11Workspace::isMinimized(quint64 id) const {
    bool hidden = false;
    xcb_ewmh_get_atoms_reply_t states{};
    if (xcb_ewmh_get_wm_state_reply(&m_atoms->ewmh,
                                    xcb_ewmh_get_wm_state(&m_atoms->ewmh, static_cast<quint32>(id)),
                                    &states, nullptr)) {
        for (uint32_t i = 0; i < states.atoms_len; ++i)
            hidden = hidden || states.atoms[i] == m_atoms->ewmh._NET_WM_STATE_HIDDEN;
        xcb_ewmh_get_atoms_reply_wipe(&states);
    }
    return hidden;
}

QList<WindowInfo> X11Workspace::windows(qint64 pid) const {
    QList<WindowInfo> list = ToplevelWorkspace::windows(pid);
    const_cast<X11Workspace*>(this)->scheduleRead();
    return list;
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
    if (!isConnected() || !hasToplevel(windowID))
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
