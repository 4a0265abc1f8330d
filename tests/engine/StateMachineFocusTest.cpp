#include "engine/StateMachineFixture.h"
#include "model/StateReason.h"

namespace {

const QString chat = u"com.example.Chat"_qs;
const QString mail = u"com.example.Mail"_qs;
const QString editor = u"com.example.Editor"_qs;

class StateMachineFocusTest : public StateMachineFixture {};

class ImmediateLoopsTest : public StateMachineFixture {
protected:
    ImmediateLoopsTest() { makeLoopsAtOnce(); }
};

} // namespace

TEST_F(StateMachineFocusTest, AVisitBecomesALoopOnlyAfterTheEngagementTime) {
    gained(chat, 0, u"Draft"_qs);
    EXPECT_EQ(openLoops(), 0);
    EXPECT_EQ(timer.deadline(), at(120)) << "armed for the visit";
    lost(chat, 119);
    EXPECT_EQ(openLoops(), 0) << "119 s is not enough";
    EXPECT_EQ(timer.deadline(), std::nullopt);

    gained(chat, 200, u"Draft"_qs);
    lost(chat, 320);
    const ContextRecord loop = onlyLoop(chat);
    EXPECT_EQ(loop.createdAt, at(200)) << "born when the visit began";
    EXPECT_EQ(stored(loop.id), reason("backgrounded", StateReason::focusLost));
    EXPECT_EQ(loop.label, u"Draft"_qs);
    EXPECT_EQ(loop.titleKey, u"draft"_qs);
    ASSERT_EQ(observer->transitions.size(), 1);
    EXPECT_EQ(observer->transitions[0].second, ContextState::Backgrounded);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event"_qs), 4);
}

TEST_F(StateMachineFocusTest, TheTimerPromotesAVisitTheUserIsStillOn) {
    gained(chat, 10, u"Question"_qs);
    ASSERT_TRUE(timer.fire());
    const ContextRecord loop = onlyLoop(chat);
    EXPECT_EQ(stored(loop.id), reason("active", StateReason::createdOnFocus));
    EXPECT_EQ(loop.createdAt, at(10));
    EXPECT_EQ(timer.deadline(), std::nullopt) << "an active loop does not age";
    lost(chat, 500);
    EXPECT_EQ(stored(loop.id), reason("backgrounded", StateReason::focusLost));
}

TEST_F(ImmediateLoopsTest, WithoutEngagementTimeAFocusedWindowIsALoopAtOnce) {
    gained(chat, 0, u"Claude"_qs);
    const ContextRecord loop = onlyLoop(chat);
    EXPECT_EQ(stored(loop.id), reason("active", StateReason::createdOnFocus));
    EXPECT_TRUE(observer->transitions.isEmpty()) << "creation is not announced";
}

TEST_F(ImmediateLoopsTest, TheInterrupterIsTheNextApplicationWithinFiveSeconds) {
    gained(chat, 0, u"Claude"_qs);
    const QString id = onlyLoop(chat).id;
    lost(chat, 10);
    gained(mail, 15, u"Inbox"_qs, u"Mail"_qs);
    EXPECT_EQ(store->context(id)->interruptedByBundle, mail);
    EXPECT_EQ(store->context(id)->interruptedByName, u"Mail"_qs);

    gained(chat, 20, u"Claude"_qs);
    lost(chat, 30);
    gained(editor, 35.5, u"main.cpp"_qs, u"Editor"_qs);
    EXPECT_EQ(store->context(id)->interruptedByBundle, mail) << "5.5 s is too late";

    gained(chat, 40, u"Claude"_qs);
    lost(chat, 50);
    gained(chat, 51, u"Claude"_qs);
    EXPECT_EQ(store->context(id)->interruptedByBundle, mail) << "coming back is no interruption";
}

TEST_F(ImmediateLoopsTest, RevisitingAReadyLoopEndsItUnlessItIsPinned) {
    gained(chat, 0, u"Claude"_qs);
    const QString first = onlyLoop(chat).id;
    lost(chat, 10);
    machine->signalReady(first, u"browser"_qs, std::nullopt, true, at(20));
    gained(chat, 30, u"Claude"_qs);
    EXPECT_EQ(stored(first), reason("ready", StateReason::revisitedAfterReady));
    EXPECT_TRUE(store->context(first)->dismissedAt.has_value());
    EXPECT_EQ(observer->dismissals, QStringList{first});
    const ContextRecord second = onlyLoop(chat);
    EXPECT_NE(second.id, first) << "a fresh loop for the same window";
    EXPECT_EQ(stored(second.id), reason("active", StateReason::createdOnFocus));

    store->setPinned(second.id, true);
    lost(chat, 40);
    machine->signalReady(second.id, u"browser"_qs, std::nullopt, true, at(50));
    gained(chat, 60, u"● Claude — Browser"_qs);
    EXPECT_EQ(stored(second.id), reason("active", StateReason::focusGained));
    EXPECT_EQ(store->context(second.id)->label, u"● Claude — Browser"_qs) << "relabelled";
    EXPECT_EQ(observer->transitions.last(), qMakePair(second.id, ContextState::Active));
}

TEST_F(ImmediateLoopsTest, FocusOnTheActiveLoopChangesNothing) {
    gained(chat, 0, u"Claude"_qs);
    const ContextRecord before = onlyLoop(chat);
    gained(chat, 5, u"(2) Claude"_qs);
    const ContextRecord after = onlyLoop(chat);
    EXPECT_EQ(after.label, u"Claude"_qs);
    EXPECT_EQ(after.stateChangedAt, before.stateChangedAt);
    EXPECT_TRUE(observer->transitions.isEmpty());
}

TEST_F(ImmediateLoopsTest, ComingBackToABackgroundedWaitingOrStaleLoopMakesItActive) {
    for (ContextState state :
         {ContextState::Backgrounded, ContextState::Waiting, ContextState::Stale}) {
        const QString app = u"app."_qs + ContextStates::rawValue(state);
        gained(app, 0, u"Window"_qs);
        const QString id = onlyLoop(app).id;
        store->transitionContext(id, state, u"test"_qs, at(1));
        gained(app, 2, u"Window"_qs);
        EXPECT_EQ(stored(id), reason("active", StateReason::focusGained)) << app.toStdString();
    }
}

TEST_F(ImmediateLoopsTest, TitleChangesKeepSwitchOrRelabelLoops) {
    gained(editor, 0, u"main.cpp — Editor"_qs);
    const QString main = onlyLoop(editor).id;

    retitled(editor, 5, u"● main.cpp — Editor"_qs); // only an unsaved mark
    EXPECT_EQ(onlyLoop(editor).id, main);
    EXPECT_EQ(store->context(main)->label, u"● main.cpp — Editor"_qs);

    retitled(editor, 10, u"util.cpp — Editor"_qs);
    EXPECT_EQ(stored(main), reason("backgrounded", StateReason::switchedWithinApp));
    EXPECT_EQ(observer->transitions.last(), qMakePair(main, ContextState::Backgrounded));
    const auto util = store->openContext(editor, u"util.cpp"_qs);
    ASSERT_TRUE(util);
    EXPECT_EQ(stored(util->id), reason("active", StateReason::createdOnFocus));

    machine->signalPending(util->id, u"terminal"_qs, std::nullopt, at(12));
    retitled(editor, 15, u"main.cpp — Editor"_qs);
    EXPECT_EQ(stored(util->id), reason("waiting", StateReason::switchedWithinAppPending));
    EXPECT_EQ(stored(main), reason("active", StateReason::focusGained));
}

TEST_F(ImmediateLoopsTest, ALoopWithoutAKeyIsOnlyRelabelled) {
    gained(editor, 0); // no title readable
    const QString id = onlyLoop(editor).id;
    retitled(editor, 5, u"notes.md — Editor"_qs);
    EXPECT_EQ(onlyLoop(editor).id, id);
    EXPECT_EQ(store->context(id)->label, u"notes.md — Editor"_qs);
    EXPECT_EQ(stored(id).first, u"active"_qs);

    // Later, a titled window of the application picks up the application-wide loop.
    lost(editor, 10);
    gained(editor, 20, u"other.md — Editor"_qs);
    EXPECT_EQ(onlyLoop(editor).id, id);
    EXPECT_EQ(stored(id), reason("active", StateReason::focusGained));
}

TEST_F(StateMachineFocusTest, AVisitFollowsItsWindowAcrossTitleChanges) {
    gained(editor, 0, u"(1) plan — Editor"_qs);
    retitled(editor, 50, u"(2) plan — Editor"_qs);
    EXPECT_EQ(openLoops(), 0) << "same key: the visit goes on";
    retitled(editor, 130, u"budget — Editor"_qs);
    const auto plan = store->openContext(editor, u"plan"_qs);
    ASSERT_TRUE(plan);
    EXPECT_EQ(plan->createdAt, at(0));
    EXPECT_EQ(plan->label, u"(2) plan — Editor"_qs) << "the latest title of the visit";
    EXPECT_EQ(stored(plan->id), reason("backgrounded", StateReason::switchedWithinApp));
    EXPECT_EQ(timer.deadline(), at(250)) << "a new visit for the budget window";

    retitled(editor, 200, u"plan — Editor"_qs); // short visit, back to a window with a loop
    EXPECT_EQ(stored(plan->id), reason("active", StateReason::focusGained));
    EXPECT_FALSE(store->openContext(editor, u"budget"_qs).has_value());
}

TEST_F(ImmediateLoopsTest, QuittingAnApplicationEndsOnlyItsOrdinaryLoops) {
    gained(chat, 0, u"one"_qs);
    const QString plain = onlyLoop(chat).id;
    retitled(chat, 1, u"two"_qs);
    const QString pinnedActive = store->openContext(chat, u"two"_qs)->id;
    store->setPinned(pinnedActive, true);
    retitled(chat, 2, u"three"_qs);
    const QString pinnedBackgrounded = store->openContext(chat, u"three"_qs)->id;
    store->setPinned(pinnedBackgrounded, true);
    store->transitionContext(pinnedBackgrounded, ContextState::Backgrounded, u"kept"_qs, at(3));
    store->transitionContext(pinnedActive, ContextState::Active, u"kept"_qs, at(3));
    const auto session =
        machine->claimLoop(chat, u"Session"_qs, u"session-1"_qs, u"claude_desktop"_qs, at(3));
    ASSERT_TRUE(session);

    send(FocusEvent::Kind::AppTerminated, chat, 10);
    EXPECT_EQ(stored(plain), reason("backgrounded", StateReason::appTerminated));
    EXPECT_TRUE(store->context(plain)->dismissedAt.has_value());
    EXPECT_EQ(stored(pinnedActive), reason("backgrounded", StateReason::appTerminatedPinned));
    EXPECT_EQ(stored(pinnedBackgrounded), reason("backgrounded", "kept"));
    EXPECT_EQ(stored(*session), reason("backgrounded", StateReason::sessionClaimed));
    EXPECT_FALSE(store->context(*session)->dismissedAt.has_value());
    EXPECT_EQ(observer->dismissals, QStringList{plain});
}

TEST_F(StateMachineFocusTest, AQuitApplicationsVisitLeavesNoTrace) {
    gained(chat, 0, u"Claude"_qs);
    send(FocusEvent::Kind::AppTerminated, chat, 500);
    EXPECT_EQ(openLoops(), 0);
    EXPECT_EQ(timer.deadline(), std::nullopt);
}

TEST_F(StateMachineFocusTest, ExcludedApplicationsAndTitlesLeaveNothingBehind) {
    addRule(u"app"_qs, u"org.keepassxc.KeePassXC"_qs);
    addRule(u"window_pattern"_qs, u"*private browsing*"_qs);
    gained(chat, 0, u"Claude"_qs);
    const auto armed = timer.deadline();
    gained(u"org.keepassxc.KeePassXC"_qs, 200, u"Passwords"_qs);
    lost(u"org.keepassxc.KeePassXC"_qs, 400);
    retitled(chat, 500, u"Docs — Private Browsing"_qs);
    EXPECT_EQ(timer.deadline(), armed) << "dropped events do not touch the timer";
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event"_qs), 1);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM source WHERE bundle_id LIKE '%KeePass%'"_qs), 0);
    EXPECT_EQ(openLoops(), 0);
}

TEST_F(StateMachineFocusTest, ClaimingFindsOrCreatesTheLoopForDetectedWork) {
    // Work found in a window the user already left.
    const auto left = machine->claimLoop(chat, u"(1) Weekly report — Chat"_qs, at(10));
    ASSERT_TRUE(left);
    EXPECT_EQ(stored(*left), reason("backgrounded", StateReason::claimedAfterLeave));
    EXPECT_EQ(machine->claimLoop(chat, u"Weekly report"_qs, at(11)), left) << "found by key";
    EXPECT_EQ(timer.deadline(), at(10 + 1200));

    // Work found in the window the user is on: the visit becomes the loop, still active.
    gained(mail, 20, u"Reply to Ann"_qs);
    const auto current = machine->claimLoop(mail, std::nullopt, at(30));
    ASSERT_TRUE(current);
    EXPECT_EQ(stored(*current), reason("active", StateReason::createdOnFocus));
    EXPECT_EQ(store->context(*current)->createdAt, at(20));
    EXPECT_EQ(store->context(*current)->label, u"Reply to Ann"_qs);
    lost(mail, 40);
    EXPECT_EQ(stored(*current), reason("backgrounded", StateReason::focusLost))
        << "the visit was consumed";

    // An application-wide active loop stands for keyed work too.
    const auto appWide =
        store->createContext(editor, std::nullopt, std::nullopt, false, std::nullopt, at(50));
    EXPECT_EQ(machine->claimLoop(editor, u"build.log"_qs, at(51)), appWide);
    EXPECT_EQ(machine->claimLoop(editor, std::nullopt, at(52)), appWide);

    addRule(u"app"_qs, u"org.excluded.App"_qs);
    EXPECT_EQ(machine->claimLoop(u"org.excluded.App"_qs, u"x"_qs, at(60)), std::nullopt);
}

TEST_F(StateMachineFocusTest, SessionClaimsAreKeyedByTheDetectorsIdentity) {
    const auto id =
        machine->claimLoop(chat, u"Fix the build"_qs, u"abc-123"_qs, u"claude_desktop"_qs, at(5));
    ASSERT_TRUE(id);
    const auto loop = store->context(*id);
    EXPECT_EQ(stored(*id), reason("backgrounded", StateReason::sessionClaimed));
    EXPECT_TRUE(loop->isSession);
    EXPECT_EQ(loop->titleKey, u"abc-123"_qs);
    EXPECT_EQ(loop->detectorKind, u"claude_desktop"_qs);
    EXPECT_EQ(
        machine->claimLoop(chat, u"Other label"_qs, u"abc-123"_qs, u"claude_desktop"_qs, at(6)),
        id);
    EXPECT_TRUE(observer->transitions.isEmpty());
}

TEST_F(ImmediateLoopsTest, LaunchReconciliationRepairsStatesFromThePreviousRun) {
    gained(chat, 0, u"Claude"_qs);
    gained(mail, 1, u"Inbox"_qs);
    gained(editor, 2, u"main.cpp"_qs);
    const QString chatLoop = onlyLoop(chat).id;
    const QString mailLoop = onlyLoop(mail).id;
    const QString editorLoop = onlyLoop(editor).id;
    const auto oldWaiting =
        store->createContext(u"old.app"_qs, u"old"_qs, u"old"_qs, false, std::nullopt, at(3));
    const auto freshWaiting =
        store->createContext(u"fresh.app"_qs, u"fresh"_qs, u"fresh"_qs, false, std::nullopt, at(3));
    store->transitionContext(*oldWaiting, ContextState::Waiting, u"w"_qs, at(100));
    store->transitionContext(*freshWaiting, ContextState::Waiting, u"w"_qs, at(101));
    store->transitionContext(editorLoop, ContextState::Backgrounded, u"b"_qs, at(4));

    machine = makeMachine(StateMachineConfiguration{});
    machine->reconcileOnLaunch(mail, at(100 + 2700));
    EXPECT_EQ(stored(*oldWaiting), reason("stale", StateReason::reconciledStaleWaitingOnLaunch));
    EXPECT_EQ(stored(*freshWaiting).first, u"waiting"_qs);
    EXPECT_EQ(stored(chatLoop), reason("backgrounded", StateReason::reconciledOnLaunch));
    EXPECT_EQ(stored(mailLoop).first, u"active"_qs) << "its application is in front";
    EXPECT_EQ(stored(editorLoop), reason("backgrounded", "b"));
    EXPECT_EQ(timer.deadline(), at(100 + 2700)) << "an overdue loop: the timer fires at once";

    machine->reconcileOnLaunch(std::nullopt, at(3000));
    EXPECT_EQ(stored(mailLoop), reason("backgrounded", StateReason::reconciledOnLaunch));
    EXPECT_TRUE(observer->transitions.isEmpty());
}

TEST_F(ImmediateLoopsTest, AStepThatFailsIsUndoneAloneAndTheStepsBeforeItAreKept) {
    gained(chat, 0, u"Claude"_qs);
    const QString id = onlyLoop(chat).id;
    // The event row cannot be written: the transition of the same event still commits.
    raw()->execute(u"CREATE TRIGGER refuse BEFORE INSERT ON event BEGIN SELECT RAISE(ABORT, "
                   "'the disk is full'); END"_qs);
    lost(chat, 10);
    EXPECT_EQ(stored(id), reason("backgrounded", StateReason::focusLost));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event"_qs), 1) << "only the first event";
    raw()->execute(u"DROP TRIGGER refuse"_qs);

    // The relabel fails after the transition: the transition stays, the event ends there.
    raw()->execute(u"CREATE TRIGGER refuse BEFORE UPDATE OF label ON context BEGIN SELECT "
                   "RAISE(ABORT, 'refused'); END"_qs);
    gained(chat, 20, u"● Claude"_qs);
    EXPECT_EQ(stored(id), reason("active", StateReason::focusGained));
    EXPECT_EQ(store->context(id)->label, u"Claude"_qs);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event"_qs), 1) << "the event ended at the failing step";
    raw()->execute(u"DROP TRIGGER refuse"_qs);

    lost(chat, 30);
    gained(mail, 31, u"Inbox"_qs);
    EXPECT_EQ(stored(id), reason("backgrounded", StateReason::focusLost));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event"_qs), 3) << "healthy again";
}
