// Focus handling, claiming and launch reconciliation.
#include "engine/StateMachine.h"

#include "model/Log.h"

#include "model/StateReason.h"
#include "model/TitleKey.h"
#include "store/ContextStore.h"

#include <exception>

namespace {

constexpr auto kInterruptionWindow = std::chrono::seconds(5);

QString reason(const char* text) {
    return QString::fromLatin1(text);
}

} // namespace

StateMachine::StateMachine(ContextStore& store, Configuration configuration, TickTimer* timer,
                           Clock clock)
    : m_store(store)
    , m_configuration(configuration)
    , m_timer(timer)
    , m_clock(std::move(clock))
    , m_self(std::make_shared<StateMachine*>(this)) {}

StateMachine::~StateMachine() {
    if (m_timer)
        m_timer->cancel();
}

void StateMachine::ingest(const FocusEvent& event) {
    const PrivacyRules rules = m_store.privacyRules();
    if (rules.excludesBundleID(event.bundleID) ||
        (event.windowTitle && rules.excludesWindowTitle(*event.windowTitle)))
        return; // never handled, recorded or timed

    // The event's transitions and its event row go to disk as one commit. The event ends
    // at a failing step; what was written before it stays (each write is its own savepoint).
    // The store says why a write failed.
    try {
        m_store.inOneCommit([&] {
            try {
                switch (event.kind) {
                case FocusEvent::Kind::FocusGained:
                    handleFocusGained(event);
                    break;
                case FocusEvent::Kind::FocusLost:
                    handleFocusLost(event);
                    break;
                case FocusEvent::Kind::AppTerminated:
                    handleTerminated(event);
                    break;
                case FocusEvent::Kind::WindowTitleChanged:
                    handleTitleChanged(event);
                    break;
                case FocusEvent::Kind::AppLaunched:
                    break;
                }
                m_store.record(event);
            } catch (const std::exception&) {
                // A failing step: the steps before it still commit below.
            }
        });
    } catch (const std::exception&) {
        // The commit itself failed (a full disk, a lost file): the event is not stored.
    }
    rearmTimer(event.occurredAt);
}

void StateMachine::handleFocusGained(const FocusEvent& event) {
    if (m_lastLeft) {
        const LastLeft left = *std::exchange(m_lastLeft, std::nullopt);
        if (left.bundleID != event.bundleID && event.occurredAt - left.at <= kInterruptionWindow)
            m_store.setInterruptedBy(left.contextID, event.bundleID, event.displayName);
    }
    focusIn(event.bundleID, event.windowTitle, event.occurredAt);
}

void StateMachine::focusIn(const QString& bundleID, const std::optional<QString>& title,
                           TimePoint at) {
    const std::optional<QString> key = TitleKey::normalize(title);
    std::optional<ContextRecord> loop;
    if (key) {
        loop = m_store.openContext(bundleID, *key);
        if (!loop)
            loop = legacyAppLevelContext(bundleID);
    } else {
        loop = m_store.openContext(bundleID);
    }
    if (!loop) {
        startVisit(bundleID, title, key, at);
        return;
    }

    m_pendingVisit.reset();
    switch (loop->state) {
    case ContextState::Active:
        return;
    case ContextState::Ready:
        if (!loop->isPinned) {
            // The finished work has been seen; a new visit begins for the same window.
            m_store.dismissContext(loop->id, reason(StateReason::revisitedAfterReady), at);
            notifyDismissed(loop->id);
            m_pendingWhileActive.remove(loop->id);
            startVisit(bundleID, title, key, at);
            return;
        }
        break;
    case ContextState::Backgrounded:
    case ContextState::Waiting:
    case ContextState::Stale:
        break;
    }
    m_store.transitionContext(loop->id, ContextState::Active, reason(StateReason::focusGained), at);
    relabelIfChanged(*loop, title);
    notifyObserver(loop->id, ContextState::Active);
}

void StateMachine::startVisit(const QString& bundleID, const std::optional<QString>& title,
                              const std::optional<QString>& titleKey, TimePoint at) {
    if (m_configuration.engagementThreshold > 0) {
        m_pendingVisit = PendingVisit{bundleID, title, titleKey, at};
        return;
    }
    m_store.createContext(bundleID, title, titleKey, false, std::nullopt, at);
}

bool StateMachine::visitCounts(const PendingVisit& visit, TimePoint at) const {
    return std::chrono::duration<double>(at - visit.since).count() >=
           m_configuration.engagementThreshold;
}

void StateMachine::promoteLeftVisit(const PendingVisit& visit, const QString& why, TimePoint at,
                                    bool rememberAsLeft) {
    const std::optional<QString> id = m_store.createContext(
        visit.bundleID, visit.title, visit.titleKey, false, std::nullopt, visit.since);
    if (!id)
        return;
    m_store.transitionContext(*id, ContextState::Backgrounded, why, at);
    if (rememberAsLeft)
        m_lastLeft = LastLeft{*id, visit.bundleID, at};
    notifyObserver(*id, ContextState::Backgrounded);
}

std::optional<ContextRecord> StateMachine::legacyAppLevelContext(const QString& bundleID) {
    std::optional<ContextRecord> loop = m_store.openContext(bundleID);
    if (loop && !loop->titleKey)
        return loop;
    return std::nullopt;
}

void StateMachine::relabelIfChanged(const ContextRecord& loop,
                                    const std::optional<QString>& title) {
    if (title && loop.label != title)
        m_store.updateContextLabel(loop.id, *title);
}

void StateMachine::handleFocusLost(const FocusEvent& event) {
    if (m_pendingVisit && m_pendingVisit->bundleID == event.bundleID) {
        const PendingVisit visit = *std::exchange(m_pendingVisit, std::nullopt);
        if (visitCounts(visit, event.occurredAt)) {
            promoteLeftVisit(visit, reason(StateReason::focusLost), event.occurredAt, true);
            return;
        }
    }
    const std::optional<ContextRecord> loop = m_store.activeContext(event.bundleID);
    if (!loop)
        return;
    const bool hadPendingWork = m_pendingWhileActive.remove(loop->id);
    const ContextState next = hadPendingWork ? ContextState::Waiting : ContextState::Backgrounded;
    m_store.transitionContext(
        loop->id, next,
        reason(hadPendingWork ? StateReason::leftWithPendingWork : StateReason::focusLost),
        event.occurredAt);
    notifyObserver(loop->id, next);
    m_lastLeft = LastLeft{loop->id, event.bundleID, event.occurredAt};
}

void StateMachine::handleTitleChanged(const FocusEvent& event) {
    const std::optional<QString> newKey = TitleKey::normalize(event.windowTitle);
    if (m_pendingVisit && m_pendingVisit->bundleID == event.bundleID) {
        if (m_pendingVisit->titleKey == newKey) {
            if (event.windowTitle)
                m_pendingVisit->title = event.windowTitle;
            m_pendingVisit->titleKey = newKey;
            return;
        }
        const PendingVisit visit = *std::exchange(m_pendingVisit, std::nullopt);
        if (visitCounts(visit, event.occurredAt)) {
            bool alreadyLooped = false;
            if (visit.titleKey) {
                try {
                    alreadyLooped =
                        m_store.openContext(visit.bundleID, *visit.titleKey).has_value();
                } catch (const std::exception&) {
                    // counts as no loop
                }
            }
            if (!alreadyLooped)
                promoteLeftVisit(visit, reason(StateReason::switchedWithinApp), event.occurredAt,
                                 false);
        }
        focusIn(event.bundleID, event.windowTitle, event.occurredAt);
        return;
    }

    const std::optional<ContextRecord> loop = m_store.activeContext(event.bundleID);
    if (!loop) {
        focusIn(event.bundleID, event.windowTitle, event.occurredAt);
        return;
    }
    if (loop->titleKey && newKey && loop->titleKey != newKey) {
        const bool hadPendingWork = m_pendingWhileActive.remove(loop->id);
        const ContextState next =
            hadPendingWork ? ContextState::Waiting : ContextState::Backgrounded;
        m_store.transitionContext(loop->id, next,
                                  reason(hadPendingWork ? StateReason::switchedWithinAppPending
                                                        : StateReason::switchedWithinApp),
                                  event.occurredAt);
        notifyObserver(loop->id, next);
        focusIn(event.bundleID, event.windowTitle, event.occurredAt);
        return;
    }
    relabelIfChanged(*loop, event.windowTitle);
}

void StateMachine::handleTerminated(const FocusEvent& event) {
    if (m_pendingVisit && m_pendingVisit->bundleID == event.bundleID)
        m_pendingVisit.reset();
    for (const ContextRecord& loop : m_store.openContexts()) {
        if (loop.bundleID != event.bundleID || loop.isSession)
            continue;
        m_pendingWhileActive.remove(loop.id);
        if (!loop.isPinned) {
            m_store.dismissContext(loop.id, reason(StateReason::appTerminated), event.occurredAt);
            notifyDismissed(loop.id);
        } else if (loop.state != ContextState::Backgrounded) {
            m_store.transitionContext(loop.id, ContextState::Backgrounded,
                                      reason(StateReason::appTerminatedPinned), event.occurredAt);
        }
    }
}

std::optional<QString> StateMachine::claimLoop(const QString& bundleID,
                                               const std::optional<QString>& label, TimePoint at) {
    const std::optional<QString> key = TitleKey::normalize(label);
    try {
        if (key) {
            if (const auto keyed = m_store.openContext(bundleID, *key))
                return keyed->id;
        }
    } catch (const std::exception&) {
        return std::nullopt;
    }

    std::optional<ContextRecord> appWide;
    try {
        appWide = m_store.openContext(bundleID);
    } catch (const std::exception&) {
        // counts as none
    }
    if (appWide && (!key || (appWide->state == ContextState::Active && !appWide->titleKey)))
        return appWide->id;

    const std::optional<PendingVisit> visit =
        (m_pendingVisit && m_pendingVisit->bundleID == bundleID) ? m_pendingVisit : std::nullopt;
    const std::optional<QString> loopLabel = label ? label : (visit ? visit->title : std::nullopt);
    try {
        const std::optional<QString> id =
            m_store.createContext(bundleID, loopLabel, TitleKey::normalize(loopLabel), false,
                                  std::nullopt, visit ? visit->since : at);
        if (!id)
            return std::nullopt;
        if (visit)
            m_pendingVisit.reset(); // the user is still on it: it stays active
        else
            m_store.transitionContext(*id, ContextState::Backgrounded,
                                      reason(StateReason::claimedAfterLeave), at);
        rearmTimer(at);
        return id;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<QString> StateMachine::claimLoop(const QString& bundleID,
                                               const std::optional<QString>& label,
                                               const QString& identity, const QString& detectorKind,
                                               TimePoint at) {
    try {
        if (const auto existing = m_store.openContext(bundleID, identity))
            return existing->id;
        const std::optional<QString> id =
            m_store.createContext(bundleID, label, identity, true, detectorKind, at);
        if (!id)
            return std::nullopt;
        m_store.transitionContext(*id, ContextState::Backgrounded,
                                  reason(StateReason::sessionClaimed), at);
        rearmTimer(at);
        return id;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void StateMachine::reconcileOnLaunch(const std::optional<QString>& frontmostBundleID,
                                     TimePoint at) {
    const TimePoint cutOff =
        at - std::chrono::duration_cast<TimePoint::duration>(
                 std::chrono::duration<double>(m_configuration.workingStaleAfter));
    try {
        for (const ContextRecord& loop : m_store.openContexts()) {
            if (loop.state == ContextState::Waiting && loop.stateChangedAt <= cutOff)
                m_store.transitionContext(loop.id, ContextState::Stale,
                                          reason(StateReason::reconciledStaleWaitingOnLaunch), at);
            else if (loop.state == ContextState::Active && frontmostBundleID != loop.bundleID)
                m_store.transitionContext(loop.id, ContextState::Backgrounded,
                                          reason(StateReason::reconciledOnLaunch), at);
        }
    } catch (const std::exception&) {
        // the rest waits for the next launch or resume
    }
    rearmTimer(at);
}

void StateMachine::notifyObserver(const QString& contextID, ContextState state) {
    const std::shared_ptr<TransitionObserver> observer = m_observer.lock();
    if (!observer)
        return;
    std::optional<ContextRecord> record;
    try {
        record = m_store.context(contextID);
    } catch (const std::exception&) {
        return;
    }
    if (record)
        observer->loopDidTransition(*record, state);
}

void StateMachine::notifyDismissed(const QString& contextID) {
    if (const std::shared_ptr<TransitionObserver> observer = m_observer.lock())
        observer->loopWasDismissed(contextID);
}
