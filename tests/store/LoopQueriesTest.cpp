#include "model/StateReason.h"
#include "store/StoreFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {

class LoopQueriesTest : public StoreFixture {
protected:
    // Runs the event loop until `done` holds; gives up after a generous bound.
    template <typename Predicate> bool processUntil(Predicate done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    // Lets every already-posted delivery run.
    static void drainEvents() {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }
};

ContextRecord record(const QString& id, ContextState state, double changed) {
    ContextRecord r;
    r.id = id;
    r.bundleID = u"app"_qs;
    r.state = state;
    r.stateChangedAt = fromMillis(0) + std::chrono::seconds(static_cast<int>(changed));
    r.createdAt = r.stateChangedAt;
    r.hasWorkEvidence = true;
    return r;
}

QStringList ids(const QList<ContextRecord>& records) {
    QStringList list;
    for (const ContextRecord& r : records)
        list.append(r.id);
    return list;
}

} // namespace

TEST_F(LoopQueriesTest, LookupsFollowCreationOrStateChangeAsTheyShould) {
    const QString first = loop(u"com.example.Chat"_qs, 1, u"plan"_qs);
    const QString second = loop(u"com.example.Chat"_qs, 2, u"notes"_qs);
    loop(u"com.example.Other"_qs, 3);
    store->transitionContext(second, ContextState::Backgrounded, StateReason::focusLost, at(4));
    store->transitionContext(first, ContextState::Active, StateReason::focusGained, at(5));

    EXPECT_EQ(store->openContext(u"com.example.Chat"_qs)->id, second) << "newest created";
    EXPECT_EQ(store->activeContext(u"com.example.Chat"_qs)->id, first);
    EXPECT_EQ(store->openContext(u"com.example.Chat"_qs, u"plan"_qs)->id, first);
    EXPECT_EQ(store->openContext(u"com.example.Chat"_qs, u"Plan"_qs), std::nullopt)
        << "title keys compare exactly";
    EXPECT_EQ(ids(store->openContexts()).first(), first) << "most recent change first";

    const QString untitled = loop(u"com.example.Untitled"_qs, 6);
    EXPECT_EQ(store->openContext(u"com.example.Untitled"_qs)->id, untitled);
    EXPECT_EQ(store->openContext(u"com.example.Untitled"_qs, QString()), std::nullopt)
        << "loops without a key never match a key";

    store->dismissContext(second, StateReason::userDismissed, at(7));
    EXPECT_EQ(store->openContext(u"com.example.Chat"_qs)->id, first);
    EXPECT_EQ(store->context(second)->dismissedAt, at(7)) << "single lookup sees dismissed loops";
    EXPECT_EQ(store->context(u"missing"_qs), std::nullopt);
}

TEST_F(LoopQueriesTest, RowsWithAnUnknownStateAreSkippedSilently) {
    const QString good = loop(u"a.app"_qs, 1);
    const QString odd = loop(u"a.app"_qs, 2);
    raw()->execute(u"UPDATE context SET state = 'Paused' WHERE id = ?"_qs, odd);
    EXPECT_EQ(ids(store->openContexts()), QStringList{good});
    EXPECT_EQ(store->context(odd), std::nullopt);
    EXPECT_EQ(store->openContext(u"a.app"_qs), std::nullopt) << "the newest row is the odd one";

    raw()->execute(u"UPDATE context SET state = 'ready', is_pinned = 7 WHERE id = ?"_qs, odd);
    const auto decoded = store->context(odd);
    ASSERT_TRUE(decoded);
    EXPECT_TRUE(decoded->isPinned) << "any non-zero flag is true";
}

TEST_F(LoopQueriesTest, CapsuleBundlesTheLoopWithItsEvidenceActionsAndDocument) {
    EXPECT_EQ(store->capsule(u"missing"_qs), std::nullopt);
    const QString id = loop(u"a.app"_qs);
    store->recordDetectorSignal(id, u"browser"_qs, u"ready"_qs, std::nullopt, at(1));
    store->upsertReturnActions(id, {{ReturnActionKind::OpenURL, u"https://a.example/"_qs, {}}},
                               u"detector:browser"_qs, at(2));
    store->attachDocumentRef(id, u"url"_qs, u"https://a.example/doc"_qs, u"Doc"_qs, at(3));
    const auto capsule = store->capsule(id);
    ASSERT_TRUE(capsule);
    EXPECT_EQ(capsule->context.id, id);
    EXPECT_TRUE(capsule->context.hasWorkEvidence);
    EXPECT_EQ(capsule->latestSignal->signal, u"ready"_qs);
    EXPECT_EQ(capsule->returnActions.size(), 1);
    EXPECT_EQ(capsule->documentRef->title, u"Doc"_qs);
}

TEST(GroupingTest, SnoozedActiveAndDuplicateLoopsStayOut) {
    const TimePoint now = fromMillis(0) + std::chrono::hours(1);
    ContextRecord snoozed = record(u"snoozed"_qs, ContextState::Ready, 10);
    snoozed.snoozeUntil = now + std::chrono::minutes(1);
    ContextRecord expired = record(u"expired"_qs, ContextState::Ready, 9);
    expired.snoozeUntil = now;
    const QList<ContextRecord> input = {snoozed, expired,
                                        record(u"active"_qs, ContextState::Active, 8),
                                        record(u"expired"_qs, ContextState::Stale, 1)};

    const GroupedLoops grouped = GroupedLoops::group(input, now);
    EXPECT_EQ(ids(grouped.ready), QStringList{u"expired"_qs}) << "first occurrence wins";
    EXPECT_TRUE(grouped.stale.isEmpty());
    EXPECT_TRUE(grouped.alsoOpen.isEmpty() && grouped.backgrounded.isEmpty());
    EXPECT_EQ(grouped.openCount(), 1);

    const GroupedLoops later = GroupedLoops::group(input, now + std::chrono::minutes(1));
    EXPECT_EQ(ids(later.ready), (QStringList{u"snoozed"_qs, u"expired"_qs}));
}

TEST(GroupingTest, EvidencePinsNotesAndTopicsDecideWhatIsSurfaced) {
    ContextRecord waiting = record(u"waiting"_qs, ContextState::Waiting, 10);
    ContextRecord bare = record(u"bare"_qs, ContextState::Backgrounded, 9);
    bare.hasWorkEvidence = false;
    ContextRecord pinned = record(u"pinned"_qs, ContextState::Stale, 8);
    pinned.hasWorkEvidence = false;
    pinned.isPinned = true;
    ContextRecord emptyNote = record(u"emptyNote"_qs, ContextState::Stale, 7);
    emptyNote.hasWorkEvidence = false;
    emptyNote.note = QString();
    ContextRecord topic = record(u"topic"_qs, ContextState::Backgrounded, 6);
    topic.hasWorkEvidence = false;
    topic.topic = u"Refactor"_qs;
    ContextRecord readyBare = record(u"readyBare"_qs, ContextState::Ready, 5);
    readyBare.hasWorkEvidence = false;

    const auto grouped =
        GroupedLoops::group({waiting, bare, pinned, emptyNote, topic, readyBare}, fromMillis(0));
    EXPECT_EQ(ids(grouped.backgrounded), (QStringList{u"waiting"_qs, u"topic"_qs}));
    EXPECT_EQ(ids(grouped.stale), QStringList{u"pinned"_qs});
    EXPECT_EQ(ids(grouped.alsoOpen), (QStringList{u"bare"_qs, u"emptyNote"_qs}));
    EXPECT_EQ(ids(grouped.ready), QStringList{u"readyBare"_qs}) << "ready needs no evidence";
    EXPECT_EQ(grouped.openCount(), 4);
}

TEST(GroupingTest, SortsUseTheStateTimesAndAreStable) {
    const TimePoint base = fromMillis(0);
    ContextRecord readyAtTen = record(u"readyAt10"_qs, ContextState::Ready, 700);
    readyAtTen.readyAt = base + std::chrono::minutes(10);
    ContextRecord changedAtFive = record(u"changed10:05"_qs, ContextState::Ready, 605);
    EXPECT_EQ(ids(GroupedLoops::group({readyAtTen, changedAtFive}, base).ready),
              (QStringList{u"changed10:05"_qs, u"readyAt10"_qs}));

    ContextRecord a = record(u"a"_qs, ContextState::Backgrounded, 50);
    a.backgroundedAt = base + std::chrono::seconds(5);
    ContextRecord b = record(u"b"_qs, ContextState::Waiting, 40);
    ContextRecord c = record(u"c"_qs, ContextState::Backgrounded, 30);
    c.backgroundedAt = base + std::chrono::seconds(40); // ties with b's state change
    EXPECT_EQ(ids(GroupedLoops::group({a, b, c}, base).backgrounded),
              (QStringList{u"b"_qs, u"c"_qs, u"a"_qs}));

    ContextRecord s1 = record(u"s1"_qs, ContextState::Stale, 20);
    ContextRecord s2 = record(u"s2"_qs, ContextState::Stale, 20);
    ContextRecord s3 = record(u"s3"_qs, ContextState::Stale, 30);
    EXPECT_EQ(ids(GroupedLoops::group({s1, s2, s3}, base).stale),
              (QStringList{u"s3"_qs, u"s1"_qs, u"s2"_qs}));

    // Among loops not worth surfacing, a working one comes before a stale one of the same
    // time, whichever came first.
    ContextRecord staleBare = record(u"staleBare"_qs, ContextState::Stale, 20);
    staleBare.hasWorkEvidence = false;
    ContextRecord waitingBare = record(u"waitingBare"_qs, ContextState::Waiting, 20);
    waitingBare.hasWorkEvidence = false;
    ContextRecord newer = record(u"newer"_qs, ContextState::Stale, 25);
    newer.hasWorkEvidence = false;
    EXPECT_EQ(ids(GroupedLoops::group({staleBare, newer, waitingBare}, base).alsoOpen),
              (QStringList{u"newer"_qs, u"waitingBare"_qs, u"staleBare"_qs}));
}

TEST_F(LoopQueriesTest, ObservationDeliversLaterOnTheMainThreadInCommitOrder) {
    const QString id = loop(u"com.example.Chat"_qs, 1);
    store->transitionContext(id, ContextState::Ready, StateReason::detectorReady, at(2));

    QList<GroupedLoops> deliveries;
    LoopObservation observation =
        store->observeOpenLoops([&](const GroupedLoops& loops) { deliveries.append(loops); });
    EXPECT_TRUE(deliveries.isEmpty()) << "never delivered inside the call";
    ASSERT_TRUE(processUntil([&] { return deliveries.size() == 1; }));
    EXPECT_EQ(ids(deliveries[0].ready), QStringList{id});

    for (int i = 1; i <= 4; ++i)
        store->setTopic(id, QStringLiteral("topic %1").arg(i));
    ASSERT_TRUE(processUntil([&] { return deliveries.size() == 5; }));
    for (int i = 1; i <= 4; ++i)
        EXPECT_EQ(deliveries[i].ready.first().topic, QStringLiteral("topic %1").arg(i));
}

TEST_F(LoopQueriesTest, ObservationFollowsEvidenceButNotUnrelatedTables) {
    const QString id = loop(u"com.example.Chat"_qs, 1);
    store->transitionContext(id, ContextState::Waiting, StateReason::detectorPending, at(2));
    int deliveries = 0;
    GroupedLoops last;
    LoopObservation observation = store->observeOpenLoops([&](const GroupedLoops& loops) {
        ++deliveries;
        last = loops;
    });
    ASSERT_TRUE(processUntil([&] { return deliveries == 1; }));
    EXPECT_EQ(ids(last.alsoOpen), QStringList{id});

    store->upsertReturnActions(id, {{ReturnActionKind::CopyText, u"x"_qs, {}}}, u"ax"_qs, at(3));
    store->seedDefaultExclusions(TestSupport::seedFilePath());
    store->transitionContext(u"missing"_qs, ContextState::Ready, StateReason::detectorReady, at(3));
    drainEvents();
    EXPECT_EQ(deliveries, 1) << "return actions, privacy rules and no-op updates change no loop";

    store->recordDetectorSignal(id, u"browser"_qs, u"pending"_qs, std::nullopt, at(4));
    ASSERT_TRUE(processUntil([&] { return deliveries == 2; }));
    EXPECT_EQ(ids(last.backgrounded), QStringList{id}) << "the evidence moved it";
    store->recordDetectorSignal(id, u"browser"_qs, u"ready"_qs, std::nullopt, at(5));
    drainEvents();
    EXPECT_EQ(deliveries, 2) << "a further signal changes nothing the list shows";
}

TEST_F(LoopQueriesTest, CancelledOrDroppedObservationsStopDelivering) {
    const QString id = loop(u"a.app"_qs, 1);
    int cancelledCount = 0;
    int droppedCount = 0;
    int keptCount = 0;
    LoopObservation cancelled =
        store->observeOpenLoops([&](const GroupedLoops&) { ++cancelledCount; });
    auto dropped = std::make_unique<LoopObservation>(
        store->observeOpenLoops([&](const GroupedLoops&) { ++droppedCount; }));
    LoopObservation kept = store->observeOpenLoops([&](const GroupedLoops&) { ++keptCount; });
    ASSERT_TRUE(processUntil([&] { return keptCount == 1; }));
    EXPECT_EQ(cancelledCount, 1);
    EXPECT_EQ(droppedCount, 1);

    store->setPinned(id, true); // posted to all three
    cancelled.cancel();
    dropped.reset();
    EXPECT_FALSE(cancelled.isActive());
    store->setPinned(id, false);
    ASSERT_TRUE(processUntil([&] { return keptCount == 3; }));
    EXPECT_EQ(cancelledCount, 1) << "a delivery already posted is dropped too";
    EXPECT_EQ(droppedCount, 1);

    // A store that goes away takes its pending deliveries with it.
    store->setPinned(id, true);
    store.reset();
    drainEvents();
    EXPECT_EQ(keptCount, 3);
}
