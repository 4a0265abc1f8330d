#include "engine/NudgeEngine.h"

#include "model/Environment.h"
#include "model/RelativeTime.h"

#include <QCoreApplication>
#include <QTimer>

namespace {
const QString kReentryID = QStringLiteral("app.kestrune.reentry");
}

NudgeEngine::Timing NudgeEngine::Timing::fromEnvironment() {
    Timing timing;
    if (Environment::isSwitchOn("KESTRUNE_FAST_NUDGES"))
        timing.backgroundedDelay = 8.0;
    return timing;
}

NudgeEngine::Profile NudgeEngine::profileFromSetting(const std::optional<QString>& value) {
    if (value == u"nudge")
        return Profile::Nudge;
    if (value == u"coach")
        return Profile::Coach;
    return Profile::Whisper;
}

NudgeEngine::NudgeEngine(Profile profile, Timing timing, std::shared_ptr<Presenter> presenter,
                         Scheduler schedule, Clock now)
    : m_presenter(presenter ? std::move(presenter) : std::make_shared<NoopPresenter>())
    , m_timing(timing)
    , m_profile(profile)
    , m_schedule(std::move(schedule))
    , m_now(now ? std::move(now) : Clock([] { return std::chrono::system_clock::now(); }))
    , m_self(std::make_shared<NudgeEngine*>(this)) {
    if (!m_schedule) {
        m_schedule = [](double delay, std::function<void()> work) {
            QTimer::singleShot(static_cast<int>(delay * 1000), Qt::PreciseTimer,
                               QCoreApplication::instance(), std::move(work));
        };
    }
    if (m_profile != Profile::Whisper)
        m_presenter->requestAuthorization();
}

NudgeEngine::~NudgeEngine() {
    cancelAll();
}

void NudgeEngine::setProfile(Profile profile) {
    m_profile = profile;
    if (profile == Profile::Whisper)
        cancelAll();
    else
        m_presenter->requestAuthorization();
}

QString NudgeEngine::displayName(const ContextRecord& record) {
    for (const auto& candidate : {record.note, record.label, record.displayName}) {
        if (candidate)
            return *candidate;
    }
    return record.bundleID;
}

bool NudgeEngine::hasEvidence(const ContextRecord& record) {
    return record.hasWorkEvidence || record.isPinned || (record.note && !record.note->isEmpty()) ||
           (record.topic && !record.topic->isEmpty());
}

void NudgeEngine::loopDidTransition(const ContextRecord& record, ContextState state) {
    cancel(record.id);
    m_presenter->withdraw(record.id);
    switch (state) {
    case ContextState::Active:
    case ContextState::Waiting:
        return;
    case ContextState::Ready:
        if (m_profile == Profile::Nudge || m_profile == Profile::Coach)
            scheduleNudge(record, state, m_timing.readyDelay, [this](const ContextRecord& loop) {
                return std::pair{displayName(loop) + QStringLiteral(" is ready"),
                                 QStringLiteral("Finished ") +
                                     RelativeTime::ago(loop.readyAt, m_now()) +
                                     QStringLiteral(". Click to jump back.")};
            });
        return;
    case ContextState::Backgrounded:
        if (m_profile == Profile::Coach && hasEvidence(record))
            scheduleNudge(
                record, state, m_timing.backgroundedDelay, [this](const ContextRecord& loop) {
                    return std::pair{QStringLiteral("Still open: ") + displayName(loop),
                                     QStringLiteral("You left ") +
                                         RelativeTime::ago(loop.backgroundedAt, m_now()) +
                                         QStringLiteral(". It's in your Tessarine dropdown.")};
                });
        return;
    case ContextState::Stale:
        if (m_profile == Profile::Coach && (!isEngaged || isEngaged(record.id)) &&
            hasEvidence(record))
            m_presenter->present(record.id, QStringLiteral("Open loop went quiet"),
                                 displayName(record) + QStringLiteral(" has been waiting ") +
                                     RelativeTime::ago(record.stateChangedAt, m_now()) +
                                     QStringLiteral(". Tessarine is keeping it for you."));
        return;
    }
}

void NudgeEngine::loopWasDismissed(const QString& id) {
    cancel(id);
    m_presenter->withdraw(id);
}

void NudgeEngine::scheduleNudge(const ContextRecord& record, ContextState state, double delay,
                                MessageBuilder message) {
    auto cancelled = std::make_shared<bool>(false);
    m_scheduled.insert(record.id, cancelled);
    std::weak_ptr<NudgeEngine*> self = m_self;
    m_schedule(delay, [self, cancelled, record, state, message = std::move(message)] {
        const auto engine = self.lock();
        if (!engine || *cancelled)
            return;
        (*engine)->runScheduled(record.id, record, state, message);
    });
}

void NudgeEngine::runScheduled(const QString& id, const ContextRecord& captured, ContextState state,
                               const MessageBuilder& message) {
    m_scheduled.remove(id);
    std::optional<ContextRecord> current;
    if (m_freshLookup)
        current = m_freshLookup(id);
    const ContextRecord& loop = current ? *current : captured;
    if (loop.dismissedAt || loop.state != state ||
        (loop.snoozeUntil && *loop.snoozeUntil > m_now()))
        return;
    const auto [title, body] = message(loop);
    m_presenter->present(id, title, body);
}

void NudgeEngine::presentReentrySummary(const QList<ContextRecord>& ready, qsizetype openCount) {
    if (m_profile == Profile::Whisper || openCount < 1)
        return;
    const QString loops = openCount == 1 ? QStringLiteral("loop") : QStringLiteral("loops");
    QString body;
    if (!ready.isEmpty()) {
        QStringList names;
        for (qsizetype i = 0; i < std::min<qsizetype>(2, ready.size()); ++i)
            names.append(displayName(ready.at(i)));
        QString joined = names.join(QStringLiteral(", "));
        if (ready.size() >= 3)
            joined += QStringLiteral(" and %1 more").arg(ready.size() - 2);
        body = QStringLiteral("Finished while you were away: %1. %2 %3 open.")
                   .arg(joined)
                   .arg(openCount)
                   .arg(loops);
    } else {
        body = QStringLiteral("%1 open %2 waiting in your dropdown.").arg(openCount).arg(loops);
    }
    m_presenter->present(kReentryID, QStringLiteral("Welcome back"), body);
}

void NudgeEngine::cancel(const QString& id) {
    if (const auto flag = m_scheduled.take(id))
        *flag = true;
}

void NudgeEngine::cancelAll() {
    for (const auto& flag : std::as_const(m_scheduled))
        *flag = true;
    m_scheduled.clear();
}
