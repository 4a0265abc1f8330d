#pragma once

#include "engine/StateMachine.h"
#include "engine/Presenter.h"

#include <QHash>
#include <QList>
#include <functional>
#include <memory>
#include <optional>

// Decides whether and when the user hears about a loop, by profile: nothing (whisper),
// ready loops a few seconds after they finish (nudge), and also loops left in the
// background or gone quiet (coach). Each message is checked against the stored loop just
// before it is shown. Main thread only.
class NudgeEngine final : public TransitionObserver {
public:
    enum class Profile { Whisper, Nudge, Coach };

    struct Timing {
        double readyDelay = 5.0;
        double backgroundedDelay = 600.0;
        // 8 s backgrounded delay when KESTRUNE_FAST_NUDGES is "1".
        static Timing fromEnvironment();
    };

    using Scheduler = std::function<void(double delaySeconds, std::function<void()> work)>;
    using Clock = std::function<TimePoint()>;

    // The profile from "settings.sensoryProfile"; anything unknown is whisper.
    static Profile profileFromSetting(const std::optional<QString>& value);

    // Without a presenter nothing is shown; without a scheduler work runs on the main
    // event loop after its delay.
    NudgeEngine(Profile profile, Timing timing, std::shared_ptr<Presenter> presenter = nullptr,
                Scheduler schedule = {}, Clock now = {});
    ~NudgeEngine() override;

    Profile currentProfile() const { return m_profile; }
    void setProfile(Profile profile);
    void setFreshLookup(std::function<std::optional<ContextRecord>(const QString&)> lookup) {
        m_freshLookup = std::move(lookup);
    }
    // Whether the user engaged with a loop's work; absent counts every loop as engaged.
    std::function<bool(const QString& contextID)> isEngaged;

    void loopDidTransition(const ContextRecord& record, ContextState state) override;
    void loopWasDismissed(const QString& id) override;
    // "Welcome back" after a long absence.
    void presentReentrySummary(const QList<ContextRecord>& ready, qsizetype openCount);

    qsizetype scheduledCount() const { return m_scheduled.size(); }
    static QString displayName(const ContextRecord& record);

private:
    using MessageBuilder = std::function<std::pair<QString, QString>(const ContextRecord&)>;

    void scheduleNudge(const ContextRecord& record, ContextState state, double delay,
                       MessageBuilder message);
    void runScheduled(const QString& id, const ContextRecord& captured, ContextState state,
                      const MessageBuilder& message);
    void cancel(const QString& id);
    void cancelAll();
    static bool hasEvidence(const ContextRecord& record);

    std::shared_ptr<Presenter> m_presenter;
    Timing m_timing;
    Profile m_profile;
    // Per loop, the flag that cancels its pending message.
    QHash<QString, std::shared_ptr<bool>> m_scheduled;
    Scheduler m_schedule;
    Clock m_now;
    std::function<std::optional<ContextRecord>(const QString&)> m_freshLookup;
    std::shared_ptr<NudgeEngine*> m_self; // scheduled work holds this weakly
};
