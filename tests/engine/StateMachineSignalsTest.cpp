#include "engine/MainQueueTickTimer.h"
#include "engine/StateMachineFixture.h"
#include "model/StateReason.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

const QString chat = u"com.example.Chat"_qs;
const QString mail = u"com.example.Mail"_qs;
const std::optional<QString> browser = u"browser"_qs;

class StateMachineSignalsTest : public StateMachineFixture {
protected:
    StateMachineSignalsTest() { makeLoopsAtOnce(); }

    // A loop of its own application, put into `state` at `seconds`.
    QString loopIn(ContextState state, double seconds,
                   const QString& app = u"org.example.Work"_qs) {
        const auto id =
            store->createContext(app, u"work"_qs, u"work"_qs, false, std::nullopt, at(0));
        store->transitionContext(*id, state, u"setup"_qs, at(seconds));
        return *id;
    }
};

} // namespace

TEST_F(StateMachineSignalsTest, PendingWorkSeenWhileActiveDecidesHowTheUserLeaves) {
    gained(chat, 0, u"Claude"_qs);
    const QString id = onlyLoop(chat).id;
    machine->signalPending(id, browser, u"generating"_qs, at(5));
    EXPECT_EQ(stored(id), reason("active", StateReason::createdOnFocus)) << "nothing stored";
    EXPECT_EQ(store->latestDetectorSignal(id)->detail, u"generating"_qs);
    lost(chat, 10);
    EXPECT_EQ(stored(id), reason("waiting", StateReason::leftWithPendingWork));
    EXPECT_EQ(observer->transitions.last(), qMakePair(id, ContextState::Waiting));

    gained(mail, 20, u"Inbox"_qs);
    const QString other = onlyLoop(mail).id;
    machine->signalPending(other, browser, std::nullopt, at(21));
    machine->signalReady(other, browser, std::nullopt, true, at(22));
    EXPECT_EQ(stored(other).first, u"active"_qs) << "a loop in front never becomes ready";
    lost(mail, 30);
    EXPECT_EQ(stored(other), reason("backgrounded", StateReason::focusLost));
}

TEST_F(StateMachineSignalsTest, PendingSignalsMoveLoopsToWaiting) {
    const QString backgrounded = loopIn(ContextState::Backgrounded, 1, u"a.app"_qs);
    const QString stale = loopIn(ContextState::Stale, 1, u"b.app"_qs);
    const QString ready = loopIn(ContextState::Ready, 1, u"c.app"_qs);
    const QString waiting = loopIn(ContextState::Waiting, 1, u"d.app"_qs);
    for (const QString& id : {backgrounded, stale, ready, waiting})
        machine->signalPending(id, browser, std::nullopt, at(50));
    EXPECT_EQ(stored(backgrounded), reason("waiting", StateReason::detectorPending));
    EXPECT_EQ(stored(stale), reason("waiting", StateReason::detectorPending));
    EXPECT_EQ(stored(ready), reason("waiting", StateReason::resumedAfterReady));
    EXPECT_EQ(stored(waiting), reason("waiting", "setup"));
    EXPECT_EQ(store->context(waiting)->stateChangedAt, at(50)) << "its ageing clock restarts";
    EXPECT_EQ(observer->transitions.size(), 3);

    // Without a detector kind nothing is recorded as evidence.
    const QString quiet = loopIn(ContextState::Backgrounded, 1, u"e.app"_qs);
    machine->signalPending(quiet, std::nullopt, std::nullopt, at(60));
    EXPECT_EQ(stored(quiet).first, u"waiting"_qs);
    EXPECT_FALSE(store->context(quiet)->hasWorkEvidence);

    machine->signalPending(u"NO-SUCH-LOOP"_qs, browser, std::nullopt, at(70));
}

TEST_F(StateMachineSignalsTest, ReadySignalsFinishWorkAndQuietOnesTellNobody) {
    const QString backgrounded = loopIn(ContextState::Backgrounded, 1, u"a.app"_qs);
    const QString waiting = loopIn(ContextState::Waiting, 1, u"b.app"_qs);
    const QString stale = loopIn(ContextState::Stale, 1, u"c.app"_qs);
    const QString quiet = loopIn(ContextState::Waiting, 1, u"d.app"_qs);
    for (const QString& id : {backgrounded, waiting, stale})
        machine->signalReady(id, browser, u"done"_qs, true, at(10));
    machine->signalReady(quiet, browser, std::nullopt, false, at(10));
    for (const QString& id : {backgrounded, waiting, stale, quiet}) {
        EXPECT_EQ(stored(id), reason("ready", StateReason::detectorReady));
        EXPECT_EQ(store->context(id)->readyAt, at(10));
    }
    EXPECT_EQ(observer->transitions.size(), 3);
    for (const auto& [id, state] : observer->transitions) {
        EXPECT_NE(id, quiet);
        EXPECT_EQ(state, ContextState::Ready);
    }
    EXPECT_EQ(observer->records.first().state, ContextState::Ready) << "re-read after the change";

    machine->signalReady(backgrounded, browser, std::nullopt, true, at(20));
    EXPECT_EQ(store->context(backgrounded)->readyAt, at(10)) << "a ready loop stays as it was";
}

TEST_F(StateMachineSignalsTest, CompletionBringsBackALoopHiddenWhileItsWorkRan) {
    const QString waiting = loopIn(ContextState::Waiting, 1, u"a.app"_qs);
    const QString backgrounded = loopIn(ContextState::Backgrounded, 1, u"b.app"_qs);
    machine->userDismiss(waiting, at(5));
    machine->userDismiss(backgrounded, at(5));
    EXPECT_EQ(observer->dismissals, (QStringList{waiting, backgrounded}));

    machine->signalReady(waiting, browser, std::nullopt, true, at(10));
    machine->signalReady(backgrounded, browser, std::nullopt, true, at(10));
    EXPECT_EQ(stored(waiting), reason("ready", StateReason::detectorReadyAfterHide));
    EXPECT_FALSE(store->context(waiting)->dismissedAt.has_value());
    EXPECT_EQ(observer->transitions.last(), qMakePair(waiting, ContextState::Ready));
    EXPECT_EQ(stored(backgrounded), reason("backgrounded", StateReason::userDismissed));
    EXPECT_TRUE(store->context(backgrounded)->dismissedAt.has_value());

    // Only once: a second completion after another dismissal leaves it hidden.
    machine->userDismiss(waiting, at(20)); // it is ready now, not waiting
    machine->signalReady(waiting, browser, std::nullopt, true, at(30));
    EXPECT_TRUE(store->context(waiting)->dismissedAt.has_value());
}

TEST_F(StateMachineSignalsTest, ClearAllDismissesEverythingAndRemembersRunningWork) {
    const QString waiting = loopIn(ContextState::Waiting, 1, u"a.app"_qs);
    const QString pinned = loopIn(ContextState::Ready, 1, u"b.app"_qs);
    store->setPinned(pinned, true);
    machine->userClearAll(at(5));
    EXPECT_EQ(openLoops(), 0);
    EXPECT_EQ(stored(pinned), reason("ready", StateReason::clearAll));
    EXPECT_EQ(observer->dismissals.size(), 2);
    EXPECT_EQ(timer.deadline(), std::nullopt);
    machine->signalReady(waiting, browser, std::nullopt, true, at(9));
    EXPECT_EQ(stored(waiting), reason("ready", StateReason::detectorReadyAfterHide));
}

TEST_F(StateMachineSignalsTest, NotReadyCorrectionsApplyOnlyToReadyLoops) {
    const QString ready = loopIn(ContextState::Ready, 1, u"a.app"_qs);
    const QString waiting = loopIn(ContextState::Waiting, 1, u"b.app"_qs);
    machine->userMarkNotReady(waiting, at(5));
    machine->userMarkNotReady(ready, at(5));
    EXPECT_EQ(stored(ready), reason("waiting", StateReason::userCorrectionNotReady));
    EXPECT_EQ(stored(waiting), reason("waiting", "setup"));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM user_correction WHERE kind = 'false_ready' AND "
                    "previous_state = 'ready' AND note IS NULL"_qs),
              1);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM user_correction"_qs), 1);
    EXPECT_EQ(timer.deadline(), at(1 + 2700)) << "the waiting loop ages first";
}

TEST_F(StateMachineSignalsTest, SnoozeAndPinChangeNoStateAndSetNoTimer) {
    const QString id = loopIn(ContextState::Ready, 1);
    timer.cancel();
    machine->userSnooze(id, 3600, at(10));
    machine->userTogglePin(id);
    EXPECT_EQ(store->context(id)->snoozeUntil, at(3610));
    EXPECT_TRUE(store->context(id)->isPinned);
    machine->userTogglePin(id);
    EXPECT_FALSE(store->context(id)->isPinned);
    EXPECT_EQ(timer.deadline(), std::nullopt);
    EXPECT_TRUE(observer->transitions.isEmpty());
}

TEST_F(StateMachineSignalsTest, LoopsGoStaleExactlyAtTheirThresholdOnOneTimer) {
    const QString backgrounded = loopIn(ContextState::Backgrounded, 100, u"a.app"_qs);
    const QString waiting = loopIn(ContextState::Waiting, 100, u"b.app"_qs);
    machine->reconcileOnLaunch(std::nullopt, at(100));
    EXPECT_EQ(timer.deadline(), at(1300));

    // A tick a moment too early changes nothing and re-arms for the same moment.
    EXPECT_EQ(machine->tick(at(1299.999)), at(1300));
    EXPECT_EQ(stored(backgrounded).first, u"backgrounded"_qs);

    ASSERT_TRUE(timer.fire());
    EXPECT_EQ(stored(backgrounded), reason("stale", u"stale_after_1200s"_qs));
    EXPECT_EQ(observer->transitions.last(), qMakePair(backgrounded, ContextState::Stale));
    EXPECT_EQ(timer.deadline(), at(2800));

    // Work that keeps reporting never ages; once it goes quiet it does, 2700 s later.
    for (double t = 1000; t <= 4000; t += 1000)
        machine->signalPending(waiting, browser, std::nullopt, at(t));
    EXPECT_EQ(timer.deadline(), at(4000 + 2700));
    ASSERT_TRUE(timer.fire());
    EXPECT_EQ(stored(waiting), reason("stale", u"working_stale_after_2700s"_qs));
    EXPECT_EQ(timer.deadline(), std::nullopt) << "nothing left to age";
}

TEST_F(StateMachineSignalsTest, StaleReasonsCarryTheConfiguredWholeSeconds) {
    StateMachineConfiguration configuration;
    configuration.staleAfter = 90.5;
    configuration.engagementThreshold = 0;
    machine = makeMachine(configuration);
    const QString id = loopIn(ContextState::Ready, 0);
    EXPECT_EQ(machine->tick(at(90)), at(90.5));
    machine->tick(at(90.5));
    EXPECT_EQ(stored(id), reason("stale", u"stale_after_90s"_qs));
}

TEST_F(StateMachineSignalsTest, TheTimerIsArmedForTheEarliestDeadline) {
    StateMachineConfiguration configuration; // engagement 120 s
    machine = makeMachine(configuration);
    loopIn(ContextState::Ready, 0, u"a.app"_qs);          // 1200
    loopIn(ContextState::Waiting, 0, u"b.app"_qs);        // 2700
    loopIn(ContextState::Backgrounded, 500, u"c.app"_qs); // 1700
    loopIn(ContextState::Stale, 0, u"d.app"_qs);          // none
    machine->reconcileOnLaunch(u"x.app"_qs, at(0));
    EXPECT_EQ(timer.deadline(), at(1200));
    gained(chat, 1000, u"Claude"_qs);
    EXPECT_EQ(timer.deadline(), at(1120)) << "the visit's engagement comes first";
    ASSERT_TRUE(timer.fire());
    EXPECT_EQ(stored(onlyLoop(chat).id), reason("active", StateReason::createdOnFocus));
    EXPECT_EQ(timer.deadline(), at(1200));
}

TEST_F(StateMachineSignalsTest, AgeingThatKeepsFailingBacksOffInsteadOfSpinning) {
    const QString id = loopIn(ContextState::Backgrounded, 0, u"a.app"_qs);
    machine->reconcileOnLaunch(std::nullopt, at(0));
    raw()->execute(u"CREATE TRIGGER refuse BEFORE UPDATE ON context BEGIN SELECT RAISE(ABORT, "
                   "'the disk is full'); END"_qs);
    QList<double> waits;
    for (int i = 0; i < 12; ++i) {
        const TimePoint firedAt = *timer.deadline();
        ASSERT_TRUE(timer.fire());
        ASSERT_TRUE(timer.deadline());
        waits.append(std::chrono::duration<double>(*timer.deadline() - firedAt).count());
    }
    EXPECT_EQ(waits, (QList<double>{1, 2, 4, 8, 16, 32, 64, 128, 256, 300, 300, 300}));
    EXPECT_EQ(stored(id).first, u"backgrounded"_qs);

    raw()->execute(u"DROP TRIGGER refuse"_qs);
    ASSERT_TRUE(timer.fire());
    EXPECT_EQ(stored(id), reason("stale", u"stale_after_1200s"_qs));
    EXPECT_EQ(timer.deadline(), std::nullopt) << "healthy again: nothing left to age";
}

TEST_F(StateMachineSignalsTest, WithoutATimerLoopsAgeOnlyWhenTicked) {
    auto untimed = std::make_unique<StateMachine>(*store, StateMachineConfiguration{}, nullptr);
    const QString id = loopIn(ContextState::Ready, 0);
    untimed->reconcileOnLaunch(std::nullopt, at(5000));
    EXPECT_EQ(stored(id).first, u"ready"_qs);
    EXPECT_EQ(untimed->tick(at(5000)), std::nullopt);
    EXPECT_EQ(stored(id).first, u"stale"_qs);
}

TEST_F(StateMachineSignalsTest, ATimerFiringAfterTheMachineIsGoneDoesNothing) {
    TimePoint otherClock = at(0);
    ManualTickTimer orphanTimer(otherClock);
    auto doomed = std::make_unique<StateMachine>(*store, StateMachineConfiguration{}, &orphanTimer);
    loopIn(ContextState::Ready, 0);
    doomed->reconcileOnLaunch(std::nullopt, at(0));
    ASSERT_TRUE(orphanTimer.deadline().has_value());
    doomed.reset();
    EXPECT_FALSE(orphanTimer.fire()) << "the machine cancelled its timer";
}

TEST(MainQueueTickTimerTest, RunsOnTheEventLoopAndANewScheduleReplacesTheOld) {
    MainQueueTickTimer timer;
    QStringList ran;
    timer.schedule(std::chrono::system_clock::now() - std::chrono::hours(1),
                   [&] { ran.append(u"first"_qs); });
    EXPECT_TRUE(ran.isEmpty()) << "never inside schedule";
    timer.schedule(std::chrono::system_clock::now() - std::chrono::seconds(1),
                   [&] { ran.append(u"second"_qs); });
    for (int i = 0; i < 20 && ran.isEmpty(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(ran, QStringList{u"second"_qs});

    timer.schedule(std::chrono::system_clock::now() + std::chrono::milliseconds(30),
                   [&] { ran.append(u"cancelled"_qs); });
    timer.cancel();
    timer.schedule(std::chrono::system_clock::now() + std::chrono::milliseconds(40),
                   [&] { ran.append(u"later"_qs); });
    QElapsedTimer waited;
    waited.start();
    while (ran.size() < 2 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(ran, (QStringList{u"second"_qs, u"later"_qs}));
}

TEST_F(StateMachineFixture, TheRoadOfOneLoop) {
    // The user asks a question in a chat, then switches to mail while the answer streams.
    gained(chat, 0, u"Claude"_qs, u"Chat"_qs);
    ASSERT_TRUE(timer.fire()); // stayed past the engagement time: the chat becomes a loop
    const QString id = onlyLoop(chat).id;
    machine->signalPending(id, u"ax_chat"_qs, u"stop button visible"_qs, at(125));
    lost(chat, 130);
    gained(mail, 131, u"Inbox — Mail"_qs, u"Mail"_qs);
    EXPECT_EQ(stored(id), reason("waiting", StateReason::leftWithPendingWork));
    EXPECT_EQ(store->context(id)->interruptedByName, u"Mail"_qs);

    machine->signalReady(id, u"ax_chat"_qs, std::nullopt, true, at(190));
    EXPECT_EQ(stored(id), reason("ready", StateReason::detectorReady));
    ASSERT_FALSE(observer->records.isEmpty());
    EXPECT_EQ(observer->records.last().id, id);
    EXPECT_EQ(observer->records.last().state, ContextState::Ready);
    EXPECT_EQ(observer->records.last().label, u"Claude"_qs);
    EXPECT_TRUE(store->openLoopsGroupedByState(at(191)).ready.size() == 1);

    // The user comes back to the answer: the loop is done.
    lost(mail, 300);
    gained(chat, 301, u"Claude"_qs);
    EXPECT_EQ(stored(id), reason("ready", StateReason::revisitedAfterReady));
    EXPECT_EQ(observer->dismissals, QStringList{id});
}
