#pragma once

#include "engine/TickTimer.h"
#include "model/ContextRecord.h"
#include "model/ContextState.h"
#include "model/FocusEvent.h"
#include "model/StateMachineConfiguration.h"

#include <QSet>
#include <QString>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

class ContextStore;

// Told about loop changes the user should hear of (the nudge engine listens).
class TransitionObserver {
public:
    virtual ~TransitionObserver() = default;
    // The loop as re-read after the change.
    virtual void loopDidTransition(const ContextRecord& record, ContextState state) = 0;
    virtual void loopWasDismissed(const QString& id) { Q_UNUSED(id); }
};

// Turns focus events, detector signals and the user's commands into loops and their states.
// Main thread only. Nothing throws out of it: store failures end the current step silently.
class StateMachine {
public:
    using Configuration = StateMachineConfiguration;
    using Clock = std::function<TimePoint()>;

    // `timer` may be null: loops then age only through events and commands. `clock` gives
    // the time for ticks the timer starts.
    StateMachine(
        ContextStore& store, Configuration configuration, TickTimer* timer,
        Clock clock = [] { return std::chrono::system_clock::now(); });
    ~StateMachine();
    StateMachine(const StateMachine&) = delete;
    StateMachine& operator=(const StateMachine&) = delete;

    // Held weakly: a released observer is no longer called.
    void setObserver(std::weak_ptr<TransitionObserver> observer) {
        m_observer = std::move(observer);
    }
    const Configuration& configuration() const { return m_configuration; }

    // --- focus and claiming -------------------------------------------------------------
    void ingest(const FocusEvent& event);
    // A detector saw work in an application window and needs a loop for it.
    std::optional<QString> claimLoop(const QString& bundleID, const std::optional<QString>& label,
                                     TimePoint at);
    // A detector follows a session with its own stable identity and needs a session loop.
    std::optional<QString> claimLoop(const QString& bundleID, const std::optional<QString>& label,
                                     const QString& identity, const QString& detectorKind,
                                     TimePoint at);
    // Repairs states left by a previous run (and after capture resumes).
    void reconcileOnLaunch(const std::optional<QString>& frontmostBundleID, TimePoint at);

    // --- detector signals -----------------------------------------------------------------
    void signalPending(const QString& contextID, const std::optional<QString>& detectorKind,
                       const std::optional<QString>& detail, TimePoint at);
    void signalReady(const QString& contextID, const std::optional<QString>& detectorKind,
                     const std::optional<QString>& detail, bool nudge, TimePoint at);

    // --- the user's commands ----------------------------------------------------------------
    void userDismiss(const QString& contextID, TimePoint at);
    void userSnooze(const QString& contextID, double seconds, TimePoint at);
    void userTogglePin(const QString& contextID);
    void userClearAll(TimePoint at);
    void userMarkNotReady(const QString& contextID, TimePoint at);

    // --- ageing ------------------------------------------------------------------------------
    // Promotes a long visit, ages old loops, re-arms; returns the next deadline.
    std::optional<TimePoint> tick(TimePoint now);

private:
    struct PendingVisit {
        QString bundleID;
        std::optional<QString> title;
        std::optional<QString> titleKey;
        TimePoint since;
    };
    struct LastLeft {
        QString contextID;
        QString bundleID;
        TimePoint at;
    };

    void handleFocusGained(const FocusEvent& event);
    void handleFocusLost(const FocusEvent& event);
    void handleTerminated(const FocusEvent& event);
    void handleTitleChanged(const FocusEvent& event);
    void focusIn(const QString& bundleID, const std::optional<QString>& title, TimePoint at);
    void startVisit(const QString& bundleID, const std::optional<QString>& title,
                    const std::optional<QString>& titleKey, TimePoint at);
    // Creates the visit's loop (created at its start) and backgrounds it with `reason`.
    void promoteLeftVisit(const PendingVisit& visit, const QString& reason, TimePoint at,
                          bool rememberAsLeft);
    bool visitCounts(const PendingVisit& visit, TimePoint at) const;
    std::optional<ContextRecord> legacyAppLevelContext(const QString& bundleID);
    void relabelIfChanged(const ContextRecord& loop, const std::optional<QString>& title);
    void notifyObserver(const QString& contextID, ContextState state);
    void notifyDismissed(const QString& contextID);
    std::optional<TimePoint> rearmTimer(TimePoint now);
    std::optional<TimePoint> earliestDeadline();

    std::weak_ptr<TransitionObserver> m_observer;
    ContextStore& m_store;
    Configuration m_configuration;
    TickTimer* m_timer;
    Clock m_clock;
    QSet<QString> m_pendingWhileActive;
    std::optional<PendingVisit> m_pendingVisit;
    std::optional<LastLeft> m_lastLeft;
    QSet<QString> m_dismissedWhileWaiting;
    // While ageing keeps failing (the store refuses writes), ticks wait this long instead of
    // firing again at a deadline already past; doubled per failed pass, up to kMaxBackoff.
    std::chrono::seconds m_ageingBackoff{0};
    static constexpr std::chrono::seconds kMaxBackoff{300};
    // Timer actions hold this weakly, so a tick never reaches a destroyed machine.
    std::shared_ptr<StateMachine*> m_self;
};
