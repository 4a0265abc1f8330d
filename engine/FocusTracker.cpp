#include "engine/FocusTracker.h"

#include "model/Log.h"

FocusTracker::FocusTracker(Workspace& workspace, qint64 ownPid, Clock clock)
    : m_workspace(workspace)
    , m_ownPid(ownPid)
    , m_clock(std::move(clock)) {}

FocusTracker::~FocusTracker() {
    for (const auto& connection : m_observers)
        QObject::disconnect(connection);
}

void FocusTracker::start() {
    if (!m_observers.empty())
        return;
    observe(&Workspace::applicationActivated, FocusEvent::Kind::FocusGained);
    observe(&Workspace::applicationDeactivated, FocusEvent::Kind::FocusLost);
    observe(&Workspace::applicationLaunched, FocusEvent::Kind::AppLaunched);
    observe(&Workspace::applicationTerminated, FocusEvent::Kind::AppTerminated);
    qCInfo(lcFocus) << "FocusTracker started (event-driven, 4 workspace notifications)";
}

void FocusTracker::stop() {
    for (const auto& connection : m_observers)
        QObject::disconnect(connection);
    m_observers.clear();
    tearDownFrontObserver();
    qCInfo(lcFocus) << "FocusTracker stopped";
}

void FocusTracker::observe(void (Workspace::*notification)(const RunningApplication&),
                           FocusEvent::Kind kind) {
    // The tracker is the context: its destruction ends the registration.
    m_observers.push_back(QObject::connect(
        &m_workspace, notification, this, [this, kind](const RunningApplication& application) {
            // Agents, background processes and Tessarine itself never produce events; but
            // once one of them is in front, the previous application's titles are no
            // longer the front's.
            if (!application.isRegular || application.pid == m_ownPid) {
                if (kind == FocusEvent::Kind::FocusGained)
                    tearDownFrontObserver();
                return;
            }
            handle(kind, application);
        }));
}

bool FocusTracker::titleAllowed(const QString& bundleID) const {
    return mayReadTitle && mayReadTitle(bundleID);
}

void FocusTracker::handle(FocusEvent::Kind kind, const RunningApplication& application) {
    if (!application.bundleID)
        return;
    const QString& bundleID = *application.bundleID;
    std::optional<QString> title;
    // Only the front application's titles are followed: a background window retitling
    // itself (a shell prompt) must not read as a change of the window in front.
    if (kind == FocusEvent::Kind::FocusLost && application.pid == m_frontPid)
        tearDownFrontObserver();
    if (kind == FocusEvent::Kind::FocusGained) {
        // A negative handle is an application whose windows name no process (a legacy X
        // client): its titles are read all the same.
        if (application.pid != 0 && titleAllowed(bundleID)) {
            title = m_workspace.canReadWindows() ? m_workspace.focusedWindowTitle(application.pid)
                                                 : std::nullopt;
            setUpFrontObserver(application.pid, bundleID, application.displayName, title);
        } else {
            tearDownFrontObserver();
        }
    }
    // Delivered events are logged once, by their receiver.
    deliver(FocusEvent{kind, bundleID, application.displayName, title, m_clock()});
}

void FocusTracker::setUpFrontObserver(qint64 pid, const QString& bundleID,
                                      const std::optional<QString>& displayName,
                                      const std::optional<QString>& initialTitle) {
    if (!m_workspace.canReadWindows())
        return;
    if (m_frontPid == pid) {
        if (initialTitle)
            m_lastFrontTitle = initialTitle;
        return;
    }
    tearDownFrontObserver();
    auto observer = m_workspace.observeWindows(pid, [this] { frontTitleMayHaveChanged(); });
    if (!observer)
        return;
    m_frontObserver = std::move(observer);
    m_frontPid = pid;
    m_frontBundleID = bundleID;
    m_frontDisplayName = displayName;
    m_lastFrontTitle = initialTitle;
}

void FocusTracker::tearDownFrontObserver() {
    m_frontObserver.reset();
    m_frontPid = 0;
    m_frontBundleID.reset();
    m_frontDisplayName.reset();
    m_lastFrontTitle.reset();
}

void FocusTracker::frontTitleMayHaveChanged() {
    if (!m_frontBundleID || !titleAllowed(*m_frontBundleID) || !m_frontObserver ||
        !m_workspace.canReadWindows())
        return;
    const std::optional<QString> title = m_workspace.focusedWindowTitle(m_frontPid);
    if (!title || m_lastFrontTitle == title)
        return; // the only debouncing: the same title twice is one event
    m_lastFrontTitle = title;
    deliver(FocusEvent{FocusEvent::Kind::WindowTitleChanged, *m_frontBundleID, m_frontDisplayName,
                       title, m_clock()});
}

void FocusTracker::deliver(const FocusEvent& event) {
    if (onEvent)
        onEvent(event);
}
