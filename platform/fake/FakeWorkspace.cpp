#include "platform/fake/FakeWorkspace.h"

QList<RunningApplication> FakeWorkspace::runningApplications() const {
    QList<RunningApplication> list;
    for (const Application& application : m_applications)
        list.append(application.info);
    return list;
}

std::optional<RunningApplication> FakeWorkspace::frontmostApplication() const {
    if (!m_front || !m_applications.contains(*m_front))
        return std::nullopt;
    return m_applications.value(*m_front).info;
}

std::optional<QString> FakeWorkspace::focusedWindowTitle(qint64 pid) const {
    const auto found = m_applications.constFind(pid);
    if (found == m_applications.cend() || !found->focusedWindow)
        return std::nullopt;
    for (const WindowInfo& window : found->windows) {
        if (window.id == *found->focusedWindow)
            return window.title;
    }
    return std::nullopt;
}

std::optional<quint64> FakeWorkspace::focusedWindowID(qint64 pid) const {
    return m_applications.value(pid).focusedWindow;
}

QList<WindowInfo> FakeWorkspace::windows(qint64 pid) const {
    return m_applications.value(pid).windows;
}

std::unique_ptr<Workspace::WindowObservation>
FakeWorkspace::observeWindows(qint64 pid, std::function<void()> changed) {
    if (!m_canReadWindows || !m_applications.contains(pid))
        return nullptr;
    return m_observers.add(pid, std::move(changed));
}

bool FakeWorkspace::raiseWindow(quint64 windowID) {
    const std::optional<qint64> owner = ownerOf(windowID);
    if (!owner)
        return false;
    m_lastRaised = windowID;
    setMinimized(windowID, false); // window managers de-iconify on activation
    focusWindow(*owner, windowID);
    activate(*owner);
    return true;
}

void FakeWorkspace::launch(const RunningApplication& application) {
    RunningApplication launched = application;
    if (launched.processes.isEmpty() && launched.pid > 0)
        launched.processes.append(launched.pid);
    m_applications.insert(launched.pid, Application{launched, {}, std::nullopt});
    Q_EMIT applicationLaunched(launched);
}

void FakeWorkspace::activate(qint64 pid) {
    if (!m_applications.contains(pid) || m_front == pid)
        return;
    if (m_front && m_applications.contains(*m_front))
        Q_EMIT applicationDeactivated(m_applications.value(*m_front).info);
    m_front = pid;
    Q_EMIT applicationActivated(m_applications.value(pid).info);
}

void FakeWorkspace::terminate(qint64 pid) {
    if (!m_applications.contains(pid))
        return;
    const RunningApplication info = m_applications.take(pid).info;
    if (m_front == pid)
        m_front.reset();
    Q_EMIT applicationTerminated(info);
}

void FakeWorkspace::openWindow(qint64 pid, quint64 windowID, const std::optional<QString>& title,
                               std::optional<qint64> process) {
    if (!m_applications.contains(pid))
        return;
    Application& application = m_applications[pid];
    const qint64 shownBy = process.value_or(pid > 0 ? pid : 0);
    application.windows.append(WindowInfo{windowID, title, false, shownBy});
    if (shownBy > 0 && !application.info.processes.contains(shownBy))
        application.info.processes.append(shownBy);
    application.focusedWindow = windowID;
    notifyObservers(pid);
}

void FakeWorkspace::focusWindow(qint64 pid, quint64 windowID) {
    if (!m_applications.contains(pid) || m_applications[pid].focusedWindow == windowID)
        return;
    m_applications[pid].focusedWindow = windowID;
    notifyObservers(pid);
}

WindowInfo* FakeWorkspace::window(quint64 windowID, qint64& owner) {
    const std::optional<qint64> found = ownerOf(windowID);
    if (!found)
        return nullptr;
    owner = *found;
    for (WindowInfo& window : m_applications[owner].windows) {
        if (window.id == windowID)
            return &window;
    }
    return nullptr;
}

void FakeWorkspace::setWindowTitle(quint64 windowID, const std::optional<QString>& title) {
    qint64 owner = 0;
    if (WindowInfo* record = window(windowID, owner)) {
        record->title = title;
        notifyObservers(owner);
    }
}

void FakeWorkspace::setMinimized(quint64 windowID, bool minimized) {
    qint64 owner = 0;
    if (WindowInfo* record = window(windowID, owner))
        record->isMinimized = minimized;
}

int FakeWorkspace::observerCount(qint64 pid) const {
    return m_observers.count(pid);
}

std::optional<qint64> FakeWorkspace::ownerOf(quint64 windowID) const {
    for (auto it = m_applications.cbegin(); it != m_applications.cend(); ++it) {
        for (const WindowInfo& window : it->windows) {
            if (window.id == windowID)
                return it.key();
        }
    }
    return std::nullopt;
}

bool FakeWorkspace::openURL(const QString& url) {
    desktopRequests.append(u"open_url "_qs + url);
    return !refused.contains(url);
}

bool FakeWorkspace::openFile(const QString& path) {
    desktopRequests.append(u"open_file "_qs + path);
    return !refused.contains(path);
}

bool FakeWorkspace::launchApplication(const QString& bundleID, const std::optional<QString>& url) {
    if (!installed.contains(bundleID))
        return false;
    desktopRequests.append(u"launch "_qs + bundleID + (url ? u' ' + *url : QString()));
    return true;
}

bool FakeWorkspace::copyText(const QString& text) {
    if (!hasClipboard)
        return false;
    clipboard = text;
    desktopRequests.append(u"copy "_qs + text);
    return true;
}
