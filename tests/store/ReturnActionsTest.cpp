#include "model/StateReason.h"
#include "store/StoreFixture.h"

namespace {

class ReturnActionsTest : public StoreFixture {
protected:
    QString id = loop(u"com.example.Browser"_qs);
    const QString detector = u"detector:browser"_qs;

    static ReturnActionSuggestion url(const QString& payload,
                                      std::optional<QString> label = std::nullopt) {
        return {ReturnActionKind::OpenURL, payload, std::move(label)};
    }
    QStringList payloads() {
        QStringList list;
        for (const ReturnActionRecord& action : store->returnActions(id))
            list.append(action.provenance + u' ' + action.payload);
        return list;
    }
};

} // namespace

TEST_F(ReturnActionsTest, ResuggestingMergesIntoOneRow) {
    store->upsertReturnActions(id,
                               {url(u"https://a.example/x"_qs), url(u"https://a.example/y"_qs),
                                url(u"https://a.example/page?q=1"_qs, u"Page"_qs)},
                               detector, at(1));
    // Within one call a later URL of the same provenance replaces the earlier ones.
    auto actions = store->returnActions(id);
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0].payload, u"https://a.example/page"_qs);
    EXPECT_EQ(actions[0].rank, 2);
    EXPECT_EQ(actions[0].label, u"Page"_qs);
    const QString firstID = actions[0].id;
    store->setReturnActionValidity(firstID, false, at(2));
    EXPECT_FALSE(store->returnActions(id)[0].isValid);
    EXPECT_EQ(store->returnActions(id)[0].lastValidatedAt, at(2));

    store->upsertReturnActions(id, {url(u"https://a.example/page#other"_qs)}, detector, at(3));
    actions = store->returnActions(id);
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0].id, firstID);
    EXPECT_EQ(actions[0].rank, 0) << "the smaller rank wins";
    EXPECT_EQ(actions[0].label, u"Page"_qs) << "no new label keeps the old one";
    EXPECT_TRUE(actions[0].isValid);
    EXPECT_EQ(actions[0].createdAt, at(1));
    EXPECT_EQ(actions[0].provenance, detector);
}

TEST_F(ReturnActionsTest, ANewPageReplacesOnlyTheSameProvenancesPage) {
    // The tab address read through accessibility came first; the detector's identical
    // suggestion merges into that row, which keeps its provenance.
    store->upsertReturnActions(id, {url(u"https://a.example/A"_qs)}, u"ax"_qs, at(1));
    store->upsertReturnActions(id, {url(u"https://a.example/A"_qs)}, detector, at(2));
    EXPECT_EQ(payloads(), QStringList{u"ax https://a.example/A"_qs});
    store->upsertReturnActions(id, {url(u"https://a.example/C"_qs)}, detector, at(2));
    store->upsertReturnActions(id, {url(u"https://a.example/B"_qs)}, detector, at(3));
    EXPECT_EQ(payloads(), (QStringList{u"detector:browser https://a.example/B"_qs,
                                       u"ax https://a.example/A"_qs}));

    // Kinds without a single place accumulate: five texts in one call keep the best three.
    store->upsertReturnActions(id,
                               {{ReturnActionKind::CopyText, u"one"_qs, {}},
                                {ReturnActionKind::CopyText, u"two"_qs, {}},
                                {ReturnActionKind::CopyText, u"three"_qs, {}},
                                {ReturnActionKind::CopyText, u"four"_qs, {}},
                                {ReturnActionKind::CopyText, u"five"_qs, {}}},
                               u"detector:terminal"_qs, at(4));
    const auto actions = store->returnActions(id);
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[0].payload, u"one"_qs) << "equal rank: the newer first";
    EXPECT_EQ(actions[1].payload, u"https://a.example/B"_qs);
    EXPECT_EQ(actions[2].payload, u"two"_qs);
}

TEST_F(ReturnActionsTest, RankingIsProvenanceThenRankThenNewestAndPruningKeepsThree) {
    store->upsertReturnActions(id,
                               {{ReturnActionKind::CopyText, u"c0"_qs, {}},
                                {ReturnActionKind::CopyText, u"c1"_qs, {}},
                                {ReturnActionKind::CopyText, u"c2"_qs, {}}},
                               detector, at(1));
    store->upsertReturnActions(id, {{ReturnActionKind::ActivateWindow, u"org.app"_qs, {}}},
                               u"ax"_qs, at(2));
    EXPECT_EQ(store->returnActions(id).size(), 3);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM return_action WHERE provenance = 'ax'"_qs), 0)
        << "a lower-priority action is pruned at once";

    store->upsertReturnActions(id, {{ReturnActionKind::RunCommand, u"make test"_qs, {}}},
                               u"user"_qs, at(3));
    store->upsertReturnActions(id, {{ReturnActionKind::CopyText, u"late0"_qs, {}}}, detector,
                               at(4));
    EXPECT_EQ(payloads(), (QStringList{u"user make test"_qs, u"detector:browser late0"_qs,
                                       u"detector:browser c0"_qs}));
}

TEST_F(ReturnActionsTest, NeverTrackAddressesAndBadPayloadsAreDroppedFromTheBatch) {
    addRule(u"url_pattern"_qs, u"*secret*"_qs);
    store->upsertReturnActions(
        id,
        {{ReturnActionKind::DeepLink, u"notes://secret/page"_qs, {}},
         {ReturnActionKind::OpenURL, u"https://secret.example/"_qs, {}},
         {ReturnActionKind::OpenURL, u"ftp://example.com"_qs, {}},
         {ReturnActionKind::OpenFile, u"/home/me/secret/plan.md"_qs, u"  Plan  "_qs},
         {ReturnActionKind::CopyText, u"   "_qs, {}}},
        detector, at(1));
    const auto actions = store->returnActions(id);
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0].kind, ReturnActionKind::OpenFile);
    EXPECT_EQ(actions[0].rank, 0) << "its place among the suggestions that were kept";
    EXPECT_EQ(actions[0].label, u"Plan"_qs);
}

TEST_F(ReturnActionsTest, UnknownExcludedAndDismissedLoops) {
    store->upsertReturnActions(u"missing"_qs, {url(u"https://a.example/"_qs)}, detector, at(1));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM return_action"_qs), 0);

    // A dismissed loop still takes actions; an excluded application does not.
    store->dismissContext(id, StateReason::userDismissed, at(1));
    store->upsertReturnActions(id, {url(u"https://a.example/"_qs)}, detector, at(2));
    EXPECT_EQ(store->returnActions(id).size(), 1);
    addRule(u"app"_qs, u"com.example.Browser"_qs);
    store->upsertReturnActions(id, {url(u"https://b.example/"_qs)}, detector, at(3));
    EXPECT_EQ(payloads(), QStringList{u"detector:browser https://a.example/"_qs});
}

TEST_F(ReturnActionsTest, AnEmptyBatchTouchesNothingAndUnknownKindsAreSkipped) {
    raw()->execute(
        u"INSERT INTO return_action (id, context_id, kind, payload, provenance, rank, "
        "created_at) VALUES ('1', ?, 'copy_text', 'a', 'ax', 0, 1), "
        "('2', ?, 'copy_text', 'b', 'ax', 1, 1), ('3', ?, 'copy_text', 'c', 'ax', 2, 1), "
        "('4', ?, 'teleport', 'd', 'ax', 3, 1)"_qs,
        id, id, id, id);
    store->upsertReturnActions(id, {}, detector, at(1));
    store->upsertReturnActions(id, {url(u"not a url"_qs)}, detector, at(1));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM return_action"_qs), 4) << "no pruning either";
    EXPECT_EQ(store->returnActions(id).size(), 3);
}
