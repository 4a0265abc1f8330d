#pragma once

#include "model/FocusEvent.h"
#include "platform/Workspace.h"

#include <QObject>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The only source of focus events: application activation, deactivation, launch and
// termination, and title changes of the front application's windows. Event driven, main
// thread only. Titles are read only where `mayReadTitle` allows.
class FocusTracker : public QObject {
public:
    using Clock = std::function<TimePoint()>;

    FocusTracker(
        Workspace& workspace, qint64 ownPid,
        Clock clock = [] { return std::chrono::system_clock::now(); });
    ~FocusTracker() override;

    std::function<void(const FocusEvent&)> onEvent;
    std::function<bool(const QString& bundleID)> mayReadTitle;

    void start();
    void stop();
    bool isStarted() const { return !m_observers.empty(); }

private:
    void observe(void (Workspace::*notification)(const RunningApplication&), FocusEvent::Kind kind);
    void handle(FocusEvent::Kind kind, const RunningApplication& application);
    void setUpFrontObserver(qint64 pid, const QString& bundleID,
                            const std::optional<QString>& displayName,
                            const std::optional<QString>& initialTitle);
    void tearDownFrontObserver();
    void frontTitleMayHaveChanged();
    bool titleAllowed(const QString& bundleID) const;
    void deliver(const FocusEvent& event);

    Workspace& m_workspace;
    qint64 m_ownPid;
    Clock m_clock;
    std::vector<QMetaObject::Connection> m_observers;
    std::unique_ptr<Workspace::WindowObservation> m_frontObserver;
    qint64 m_frontPid = 0;
    std::optional<QString> m_frontBundleID;
    std::optional<QString> m_frontDisplayName;
    std::optional<QString> m_lastFrontTitle;
};
