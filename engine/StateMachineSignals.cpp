// Detector signals, the user's commands, ageing and the timer.
#include "engine/StateMachine.h"

#include "model/Log.h"
#include "model/StateReason.h"
#include "store/ContextStore.h"

#include <algorithm>
#include <exception>

namespace {

TimePoint::duration seconds(double value) {
    return std::chrono::duration_cast<TimePoint::duration>(std::chrono::duration<double>(value));
}

QString reason(const char* text) {
    return QString::fromLatin1(text);
}

} // namespace

void StateMachine::signalPending(const QString& contextID,
                                 const std::optional<QString>& detectorKind,
                                 const std::optional<QString>& detail, TimePoint at) {
    std::optional<ContextRecord> loop;
    try {
        loop = m_store.context(contextID);
    } catch (const std::exception&) {
        rearmTimer(at);
        return;
    }
    if (!loop || loop->dismissedAt)
        return;
    try {
        if (detectorKind)
            m_store.recordDetectorSignal(contextID, *detectorKind, QStringLiteral("pending"),
                                         detail, at);
    } catch (const std::exception&) {
        rearmTimer(at);
        return;
    }
    try {
        switch (loop->state) {
        case ContextState::Active:
            // The user is looking at it; leaving it later makes it waiting.
            m_pendingWhileActive.insert(contextID);
            break;
        case ContextState::Backgrounded:
        case ContextState::Stale:
            m_store.transitionContext(contextID, ContextState::Waiting,
                                      reason(StateReason::detectorPending), at);
            notifyObserver(contextID, ContextState::Waiting);
            break;
        case ContextState::Waiting:
            try {
                m_store.touchWorkingActivity(contextID, at); // work continues: restart ageing
            } catch (const std::exception&) {
            }
            break;
        case ContextState::Ready:
            m_store.transitionContext(contextID, ContextState::Waiting,
                                      reason(StateReason::resumedAfterReady), at);
            notifyObserver(contextID, ContextState::Waiting);
            break;
        }
    } catch (const std::exception&) {
        return;
    }
    rearmTimer(at);
}

void StateMachine::signalReady(const QString& contextID, const std::optional<QString>& detectorKind,
                               const std::optional<QString>& detail, bool nudge, TimePoint at) {
    std::optional<ContextRecord> loop;
    try {
        loop = m_store.context(contextID);
    } catch (const std::exception&) {
        return;
    }
    if (!loop)
        return;
    const QString ready = QStringLiteral("ready");
    if (!loop->dismissedAt) {
        try {
            if (detectorKind)
                m_store.recordDetectorSignal(contextID, *detectorKind, ready, detail, at);
        } catch (const std::exception&) {
            rearmTimer(at);
            return;
        }
        m_pendingWhileActive.remove(contextID);
        if (loop->state == ContextState::Backgrounded || loop->state == ContextState::Waiting ||
            loop->state == ContextState::Stale) {
            // A loop the user is looking at never becomes ready; a ready one stays ready.
            try {
                m_store.transitionContext(contextID, ContextState::Ready,
                                          reason(StateReason::detectorReady), at);
            } catch (const std::exception&) {
                return;
            }
            if (nudge)
                notifyObserver(contextID, ContextState::Ready);
        }
        rearmTimer(at);
        return;
    }
    if (!m_dismissedWhileWaiting.remove(contextID))
        return; // any other dismissed loop stays dismissed
    // Hidden while its work still ran: the completion brings it back.
    try {
        m_store.reopenDismissed(contextID);
        if (detectorKind)
            m_store.recordDetectorSignal(contextID, *detectorKind, ready, detail, at);
        m_store.transitionContext(contextID, ContextState::Ready,
                                  reason(StateReason::detectorReadyAfterHide), at);
    } catch (const std::exception&) {
        return;
    }
    if (nudge)
        notifyObserver(contextID, ContextState::Ready);
    rearmTimer(at);
}

void StateMachine::userDismiss(const QString& contextID, TimePoint at) {
    m_pendingWhileActive.remove(contextID);
    try {
        const std::optional<ContextRecord> loop = m_store.context(contextID);
        if (loop && loop->state == ContextState::Waiting)
            m_dismissedWhileWaiting.insert(contextID);
    } catch (const std::exception&) {
    }
    try {
        m_store.dismissContext(contextID, reason(StateReason::userDismissed), at);
    } catch (const std::exception&) {
    }
    notifyDismissed(contextID);
    rearmTimer(at);
}

void StateMachine::userSnooze(const QString& contextID, double duration, TimePoint at) {
    try {
        m_store.setSnooze(contextID, at + seconds(duration));
    } catch (const std::exception&) {
    }
}

void StateMachine::userTogglePin(const QString& contextID) {
    try {
        if (const std::optional<ContextRecord> loop = m_store.context(contextID))
            m_store.setPinned(contextID, !loop->isPinned);
    } catch (const std::exception&) {
    }
}

void StateMachine::userClearAll(TimePoint at) {
    m_pendingWhileActive.clear();
    QList<ContextRecord> loops;
    try {
        loops = m_store.openContexts();
    } catch (const std::exception&) {
    }
    for (const ContextRecord& loop : loops) {
        if (loop.state == ContextState::Waiting)
            m_dismissedWhileWaiting.insert(loop.id);
    }
    try {
        m_store.dismissAllOpenContexts(reason(StateReason::clearAll), at);
    } catch (const std::exception&) {
    }
    for (const ContextRecord& loop : loops)
        notifyDismissed(loop.id);
    rearmTimer(at);
}

void StateMachine::userMarkNotReady(const QString& contextID, TimePoint at) {
    try {
        const std::optional<ContextRecord> loop = m_store.context(contextID);
        if (!loop || loop->dismissedAt || loop->state != ContextState::Ready)
            return;
        m_store.recordCorrection(contextID, QStringLiteral("false_ready"), ContextState::Ready,
                                 std::nullopt, at);
        m_store.transitionContext(contextID, ContextState::Waiting,
                                  reason(StateReason::userCorrectionNotReady), at);
        notifyObserver(contextID, ContextState::Waiting);
        rearmTimer(at);
    } catch (const std::exception&) {
    }
}

std::optional<TimePoint> StateMachine::tick(TimePoint now) {
    if (m_pendingVisit && std::chrono::duration<double>(now - m_pendingVisit->since).count() >=
                              m_configuration.engagementThreshold) {
        // The user is still there: the loop is born active.
        const PendingVisit visit = *std::exchange(m_pendingVisit, std::nullopt);
        try {
            m_store.createContext(visit.bundleID, visit.title, visit.titleKey, false, std::nullopt,
                                  visit.since);
        } catch (const std::exception&) {
        }
    }

    const TimePoint staleCutOff = now - seconds(m_configuration.staleAfter);
    const TimePoint workingCutOff = now - seconds(m_configuration.workingStaleAfter);
    bool failed = false;
    try {
        for (const ContextRecord& loop : m_store.openContexts()) {
            std::optional<QString> why;
            if ((loop.state == ContextState::Backgrounded || loop.state == ContextState::Ready) &&
                loop.stateChangedAt <= staleCutOff)
                why = StateReason::staleAfter(m_configuration.staleAfter);
            else if (loop.state == ContextState::Waiting && loop.stateChangedAt <= workingCutOff)
                why = StateReason::workingStaleAfter(m_configuration.workingStaleAfter);
            if (!why)
                continue;
            m_store.transitionContext(loop.id, ContextState::Stale, *why, now);
            notifyObserver(loop.id, ContextState::Stale);
        }
    } catch (const std::exception&) {
        failed = true; // the pass stops; a later tick picks up the rest
    }
    // A deadline still due after the pass means a loop could not be aged: firing again at
    // once would spin, so wait, longer each time, until a pass gets through.
    const std::optional<TimePoint> stillDue = earliestDeadline();
    if (failed || (stillDue && *stillDue <= now)) {
        if (m_ageingBackoff.count() == 0)
            qCWarning(lcApp) << "Loops could not be aged (the database refused the change);"
                             << "retrying with a growing delay of up to" << kMaxBackoff.count()
                             << "s";
        m_ageingBackoff = m_ageingBackoff.count() == 0 ? std::chrono::seconds(1)
                                                       : std::min(m_ageingBackoff * 2, kMaxBackoff);
    } else if (m_ageingBackoff.count() != 0) {
        m_ageingBackoff = std::chrono::seconds(0);
        qCInfo(lcApp) << "Loops are aged again";
    }
    return rearmTimer(now);
}

std::optional<TimePoint> StateMachine::earliestDeadline() {
    std::optional<TimePoint> next;
    const auto consider = [&next](TimePoint deadline) {
        if (!next || deadline < *next)
            next = deadline;
    };
    // The earliest loop deadline is the oldest state change of each ageing kind plus its
    // threshold; the store answers that without reading every open loop.
    try {
        const AgeingClocks clocks = m_store.ageingClocks();
        if (clocks.oldestBackgroundedOrReady)
            consider(*clocks.oldestBackgroundedOrReady + seconds(m_configuration.staleAfter));
        if (clocks.oldestWaiting)
            consider(*clocks.oldestWaiting + seconds(m_configuration.workingStaleAfter));
    } catch (const std::exception&) {
        next.reset(); // without the loops, only the visit's deadline is known
    }
    if (m_pendingVisit)
        consider(m_pendingVisit->since + seconds(m_configuration.engagementThreshold));
    return next;
}

std::optional<TimePoint> StateMachine::rearmTimer(TimePoint now) {
    std::optional<TimePoint> next = earliestDeadline();
    if (next && m_ageingBackoff.count() != 0)
        next = std::max(*next, now + m_ageingBackoff);

    if (!m_timer)
        return next;
    m_timer->cancel();
    if (next) {
        std::weak_ptr<StateMachine*> self = m_self;
        m_timer->schedule(std::max(now, *next), [self] {
            if (const auto machine = self.lock())
                (*machine)->tick((*machine)->m_clock());
        });
    }
    return next;
}
