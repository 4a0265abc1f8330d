#include "engine/NudgeEngine.h"
#include "model/RelativeTime.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono;

class RecordingPresenter final : public Presenter {
public:
    void requestAuthorization() override { ++authorizations; }
    void present(const QString& id, const QString& title, const QString& body) override {
        shown.append(id + u" | "_qs + title + u" | "_qs + body);
    }
    void withdraw(const QString& id) override { withdrawn.append(id); }

    int authorizations = 0;
    QStringList shown;
    QStringList withdrawn;
};

const TimePoint kNow = TimePoint(hours(24 * 20000));

ContextRecord loop(const char* id, ContextState state) {
    ContextRecord record;
    record.id = QString::fromLatin1(id);
    record.bundleID = u"com.example.Chat"_qs;
    record.label = u"Claude"_qs;
    record.state = state;
    record.stateChangedAt = kNow - minutes(3);
    record.readyAt = kNow - minutes(5);
    record.backgroundedAt = kNow - minutes(10);
    record.hasWorkEvidence = true;
    return record;
}

class NudgeEngineTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingPresenter> presenter = std::make_shared<RecordingPresenter>();
    struct Pending {
        double delay;
        std::function<void()> work;
    };
    QList<Pending> pending;
    TimePoint now = kNow;
    QHash<QString, ContextRecord> stored;

    std::unique_ptr<NudgeEngine> engine(NudgeEngine::Profile profile,
                                        NudgeEngine::Timing timing = {}) {
        auto built = std::make_unique<NudgeEngine>(
            profile, timing, presenter,
            [this](double delay, std::function<void()> work) {
                pending.append({delay, std::move(work)});
            },
            [this] { return now; });
        built->setFreshLookup([this](const QString& id) -> std::optional<ContextRecord> {
            if (!stored.contains(id))
                return std::nullopt;
            return stored.value(id);
        });
        return built;
    }
    void runPending() {
        const auto work = std::exchange(pending, {});
        for (const Pending& item : work)
            item.work();
    }
};

} // namespace

TEST_F(NudgeEngineTest, WhisperShowsNothingAndSwitchingToItCancels) {
    auto nudges = engine(NudgeEngine::Profile::Whisper);
    EXPECT_EQ(presenter->authorizations, 0);
    nudges->loopDidTransition(loop("A", ContextState::Ready), ContextState::Ready);
    EXPECT_TRUE(pending.isEmpty());

    nudges->setProfile(NudgeEngine::Profile::Nudge);
    EXPECT_EQ(presenter->authorizations, 1);
    nudges->loopDidTransition(loop("A", ContextState::Ready), ContextState::Ready);
    nudges->setProfile(NudgeEngine::Profile::Whisper);
    EXPECT_EQ(nudges->scheduledCount(), 0);
    runPending();
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST_F(NudgeEngineTest, AReadyLoopIsShownAfterFiveSecondsOnlyIfStillReady) {
    auto nudges = engine(NudgeEngine::Profile::Nudge);
    ContextRecord opened = loop("A", ContextState::Ready);
    ContextRecord waiting = loop("B", ContextState::Ready);
    waiting.label.reset();
    waiting.displayName = u"Chat"_qs;
    waiting.readyAt.reset();
    nudges->loopDidTransition(opened, ContextState::Ready);
    nudges->loopDidTransition(waiting, ContextState::Ready);
    ASSERT_EQ(pending.size(), 2);
    EXPECT_EQ(pending[0].delay, 5.0);
    opened.state = ContextState::Active; // the user opened it within the five seconds
    stored.insert(u"A"_qs, opened);
    runPending();
    EXPECT_EQ(presenter->shown,
              QStringList{u"B | Chat is ready | Finished a while ago. Click to jump back."_qs});
    EXPECT_EQ(presenter->withdrawn, (QStringList{u"A"_qs, u"B"_qs}));

    // Snoozed into the future, or dismissed meanwhile: nothing.
    ContextRecord snoozed = loop("C", ContextState::Ready);
    nudges->loopDidTransition(snoozed, ContextState::Ready);
    snoozed.snoozeUntil = now + minutes(1);
    stored.insert(u"C"_qs, snoozed);
    ContextRecord hidden = loop("D", ContextState::Ready);
    nudges->loopDidTransition(hidden, ContextState::Ready);
    nudges->loopWasDismissed(u"D"_qs);
    ContextRecord expired = loop("E", ContextState::Ready);
    nudges->loopDidTransition(expired, ContextState::Ready);
    expired.snoozeUntil = now;
    stored.insert(u"E"_qs, expired);
    runPending();
    EXPECT_EQ(presenter->shown.size(), 2);
    EXPECT_EQ(presenter->shown.last(),
              u"E | Claude is ready | Finished 5 minutes ago. Click to jump back."_qs);
}

TEST_F(NudgeEngineTest, CoachAlsoSurfacesBackgroundedAndQuietLoopsWithEvidence) {
    NudgeEngine::Timing fast;
    fast.backgroundedDelay = 8.0;
    auto nudge = engine(NudgeEngine::Profile::Nudge);
    nudge->loopDidTransition(loop("A", ContextState::Backgrounded), ContextState::Backgrounded);
    EXPECT_TRUE(pending.isEmpty()) << "nudge never surfaces backgrounded loops";

    auto coach = engine(NudgeEngine::Profile::Coach, fast);
    ContextRecord bare = loop("B", ContextState::Backgrounded);
    bare.hasWorkEvidence = false;
    coach->loopDidTransition(bare, ContextState::Backgrounded);
    EXPECT_TRUE(pending.isEmpty());
    ContextRecord noted = bare;
    noted.id = u"C"_qs;
    noted.note = u"reply to Ann"_qs;
    coach->loopDidTransition(noted, ContextState::Backgrounded);
    ASSERT_EQ(pending.size(), 1);
    EXPECT_EQ(pending[0].delay, 8.0);
    runPending();
    EXPECT_EQ(presenter->shown.last(), u"C | Still open: reply to Ann | You left 10 minutes ago. "
                                       "It's in your Tessarine dropdown."_qs);

    coach->isEngaged = [](const QString& id) { return id != u"E"; };
    coach->loopDidTransition(loop("D", ContextState::Stale), ContextState::Stale);
    coach->loopDidTransition(loop("E", ContextState::Stale), ContextState::Stale);
    ContextRecord quietBare = loop("F", ContextState::Stale);
    quietBare.hasWorkEvidence = false;
    coach->loopDidTransition(quietBare, ContextState::Stale);
    EXPECT_EQ(presenter->shown.last(), u"D | Open loop went quiet | Claude has been waiting 3 "
                                       "minutes ago. Tessarine is keeping it for you."_qs);
    EXPECT_EQ(presenter->shown.size(), 2);
}

TEST_F(NudgeEngineTest, WelcomeBackNamesWhatFinished) {
    auto nudges = engine(NudgeEngine::Profile::Nudge);
    QList<ContextRecord> ready;
    for (const char* name : {"A", "B", "C"}) {
        ContextRecord record = loop(name, ContextState::Ready);
        record.label = QString::fromLatin1(name);
        ready.append(record);
    }
    nudges->presentReentrySummary(ready, 5);
    nudges->presentReentrySummary(ready.mid(0, 1), 1);
    nudges->presentReentrySummary({}, 1);
    nudges->presentReentrySummary({}, 3);
    nudges->presentReentrySummary(ready, 0);
    EXPECT_EQ(
        presenter->shown,
        (QStringList{u"app.kestrune.reentry | Welcome back | Finished while you were away: A, "
                     "B and 1 more. 5 loops open."_qs,
                     u"app.kestrune.reentry | Welcome back | Finished while you were away: "
                     "A. 1 loop open."_qs,
                     u"app.kestrune.reentry | Welcome back | 1 open loop waiting in your "
                     "dropdown."_qs,
                     u"app.kestrune.reentry | Welcome back | 3 open loops waiting in your "
                     "dropdown."_qs}));
    engine(NudgeEngine::Profile::Whisper)->presentReentrySummary(ready, 5);
    EXPECT_EQ(presenter->shown.size(), 4);
}

TEST_F(NudgeEngineTest, WorkScheduledByAGoneEngineDoesNothing) {
    auto nudges = engine(NudgeEngine::Profile::Nudge);
    nudges->loopDidTransition(loop("A", ContextState::Ready), ContextState::Ready);
    nudges.reset();
    runPending();
    EXPECT_TRUE(presenter->shown.isEmpty());
}

TEST(NudgeSettingsTest, ProfilesTimingSurfacesAndRelativeTimes) {
    EXPECT_EQ(NudgeEngine::profileFromSetting(u"coach"_qs), NudgeEngine::Profile::Coach);
    EXPECT_EQ(NudgeEngine::profileFromSetting(u"Nudge"_qs), NudgeEngine::Profile::Whisper);
    EXPECT_EQ(NudgeEngine::profileFromSetting(std::nullopt), NudgeEngine::Profile::Whisper);

    MemoryUserDefaults settings;
    DropdownNotifier notifier(settings);
    int surfaced = 0;
    notifier.onSurface = [&] { ++surfaced; };
    notifier.present(u"A"_qs, u"t"_qs, u"b"_qs); // notch by default
    settings.setBool(u"settings.notchHUD"_qs, false);
    notifier.present(u"A"_qs, u"t"_qs, u"b"_qs);
    settings.setString(u"settings.primarySurface"_qs, u"notch"_qs);
    notifier.present(u"A"_qs, u"t"_qs, u"b"_qs);
    settings.setString(u"settings.primarySurface"_qs, u"menubar"_qs);
    settings.setBool(u"settings.notchHUD"_qs, true);
    notifier.present(u"A"_qs, u"t"_qs, u"b"_qs);
    EXPECT_EQ(surfaced, 2);

    EXPECT_EQ(RelativeTime::ago(std::nullopt, kNow), u"a while ago"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - seconds(1), kNow), u"1 second ago"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - minutes(5) - seconds(30), kNow), u"5 minutes ago"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - hours(1), kNow), u"1 hour ago"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - hours(30), kNow), u"yesterday"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - hours(24 * 3), kNow), u"3 days ago"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow - hours(24 * 8), kNow), u"last week"_qs);
    EXPECT_EQ(RelativeTime::ago(kNow + minutes(2), kNow), u"in 2 minutes"_qs);
}
