#include "platform/linux/ToplevelWorkspace.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

namespace {

// How long "no window is active" must last to count as the front losing focus.
constexpr int kDeactivationGraceMs = 100;

// A handle for an application whose windows name no process: negative, from its identity.
qint64 syntheticHandle(const QString& identity) {
    return -static_cast<qint64>(qHash(identity) & 0x7fffffff) - 1;
}

} // namespace

struct ToplevelWorkspace::Window {
    quint64 id = 0;
    qint64 key = 0;            // the application's handle
    std::optional<qint64> pid; // when the window names its process
    std::optional<QString> title;
    bool isRegular = false;
};

struct ToplevelWorkspace::Application {
    RunningApplication info;
    QString identity; // what makes windows one application
    QSet<quint64> windows;
    quint64 focusedWindow = 0;
};

ToplevelWorkspace::ToplevelWorkspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent)
    : Workspace(parent)
    , m_ownPid(ownPid)
    , m_resolver(std::move(resolver)) {
    m_deactivation.setSingleShot(true);
    m_deactivation.setInterval(kDeactivationGraceMs);
    QObject::connect(&m_deactivation, &QTimer::timeout, this, [this] { deactivateFront(); });
}

AppIdentityResolver::Identity
ToplevelWorkspace::identify(std::optional<qint64> pid, AppIdentityResolver::Clues clues,
                            const std::function<void(AppIdentityResolver::Clues&)>& moreClues) {
    // One process is one application: resolve it once (the cgroup read is not free).
    if (pid) {
        if (const auto known = m_identities.constFind(*pid); known != m_identities.cend())
            return *known;
    }
    if (moreClues)
        moreClues(clues);
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

bool ToplevelWorkspace::addToplevel(
    Toplevel toplevel, const std::function<void(AppIdentityResolver::Clues&)>& moreClues) {
    const std::optional<qint64> pid = toplevel.pid;
    if (pid == m_ownPid || m_windows.contains(toplevel.id))
        return false; // our own windows are never reported
    // Windows of one identity are one application, whichever process shows them; a window
    // that names no process is known by its class or application id.
    const AppIdentityResolver::Identity identity = identify(pid, toplevel.clues, moreClues);
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

    auto record = std::make_shared<Window>();
    record->id = toplevel.id;
    record->key = key;
    record->pid = pid;
    record->title = toplevel.title;
    record->isRegular = toplevel.isRegular;
    m_windows.insert(toplevel.id, record);

    Application& application = *m_applications[key];
    const bool isNew = application.windows.isEmpty();
    application.windows.insert(toplevel.id);
    application.info.isRegular = application.info.isRegular || record->isRegular;
    if (pid && !application.info.processes.contains(*pid))
        application.info.processes.append(*pid);
    if (isNew)
        Q_EMIT applicationLaunched(application.info);
    else
        notifyObservers(key); // a new window of an application already running
    return true;
}

void ToplevelWorkspace::removeToplevel(quint64 id) {
    const std::shared_ptr<Window> record = m_windows.take(id);
    if (!record)
        return;
    const auto found = m_applications.find(record->key);
    if (found == m_applications.end())
        return;
    const std::shared_ptr<Application> application = *found;
    application->windows.remove(id);
    if (application->focusedWindow == id)
        application->focusedWindow = 0;
    if (record->pid) {
        bool stillShown = false;
        for (quint64 other : std::as_const(application->windows))
            stillShown = stillShown || m_windows.value(other)->pid == record->pid;
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

void ToplevelWorkspace::setToplevelTitle(quint64 id, const std::optional<QString>& title) {
    const auto found = m_windows.constFind(id);
    if (found == m_windows.cend() || (*found)->title == title)
        return; // unknown, or the same value again
    (*found)->title = title;
    notifyObservers((*found)->key);
}

void ToplevelWorkspace::setToplevelRegular(quint64 id, bool isRegular) {
    const auto found = m_windows.constFind(id);
    if (found == m_windows.cend())
        return;
    (*found)->isRegular = isRegular;
    if (const auto application = m_applications.value((*found)->key)) {
        bool regular = false;
        for (quint64 other : std::as_const(application->windows))
            regular = regular || (m_windows.contains(other) && m_windows.value(other)->isRegular);
        application->info.isRegular = regular;
    }
}

void ToplevelWorkspace::activateToplevel(quint64 id) {
    const auto window = m_windows.value(id);
    if (!window)
        return;
    m_deactivation.stop();
    const qint64 key = window->key;
    Application& application = *m_applications[key];
    const bool windowChanged = application.focusedWindow != id;
    application.focusedWindow = id;
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

void ToplevelWorkspace::deactivateFrontUnlessActivated() {
    if (!m_deactivation.isActive())
        m_deactivation.start();
}

void ToplevelWorkspace::deactivateFront() {
    m_deactivation.stop();
    if (!m_front || !m_applications.contains(*m_front))
        return;
    const RunningApplication previous = m_applications.value(*m_front)->info;
    m_front.reset();
    Q_EMIT applicationDeactivated(previous);
}

bool ToplevelWorkspace::isMinimized(quint64) const {
    return false;
}

QList<RunningApplication> ToplevelWorkspace::runningApplications() const {
    QList<RunningApplication> list;
    for (const auto& application : m_applications)
        list.append(application->info);
    return list;
}

std::optional<RunningApplication> ToplevelWorkspace::frontmostApplication() const {
    if (!m_front || !m_applications.contains(*m_front))
        return std::nullopt;
    return m_applications.value(*m_front)->info;
}

std::optional<quint64> ToplevelWorkspace::focusedWindowID(qint64 pid) const {
    const auto application = m_applications.value(pid);
    if (!application)
        return std::nullopt;
    quint64 window = application->focusedWindow;
    if (!window && !application->windows.isEmpty())
        window = *application->windows.cbegin();
    return window ? std::optional<quint64>(window) : std::nullopt;
}

std::optional<QString> ToplevelWorkspace::focusedWindowTitle(qint64 pid) const {
    const std::optional<quint64> window = focusedWindowID(pid);
    const auto record = window ? m_windows.value(*window) : nullptr;
    return record ? record->title : std::nullopt;
}

QList<WindowInfo> ToplevelWorkspace::windows(qint64 pid) const {
    QList<WindowInfo> list;
    const auto application = m_applications.value(pid);
    if (!application)
        return list;
    for (quint64 id : std::as_const(application->windows)) {
        const auto record = m_windows.value(id);
        list.append(WindowInfo{id, record ? record->title : std::nullopt, isMinimized(id),
                               record ? record->pid.value_or(0) : 0});
    }
    return list;
}

std::unique_ptr<Workspace::WindowObservation>
ToplevelWorkspace::observeWindows(qint64 pid, std::function<void()> changed) {
    if (!canReadWindows() || !m_applications.contains(pid))
        return nullptr;
    return m_observers.add(pid, std::move(changed));
}

bool ToplevelWorkspace::openURL(const QString& url) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {url});
}

bool ToplevelWorkspace::openFile(const QString& path) {
    return QFileInfo::exists(path) && QProcess::startDetached(QStringLiteral("xdg-open"), {path});
}

bool ToplevelWorkspace::launchApplication(const QString& bundleID,
                                          const std::optional<QString>& url) {
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

bool ToplevelWorkspace::activateOverDBus(const DesktopEntryExec::Entry& entry,
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

bool ToplevelWorkspace::copyText(const QString& text) {
    return m_copy && m_copy(text);
}
