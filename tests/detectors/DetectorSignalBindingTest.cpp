#include "detectors/DetectorSignalBinding.h"
#include "engine/StateMachineFixture.h"
#include "model/StateReason.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"

namespace {

class DetectorSignalBindingTest : public StateMachineFixture {
protected:
    MemoryUserDefaults settings;
    std::shared_ptr<StateMachine> shared = std::make_shared<StateMachine>(
        *store, StateMachineConfiguration{}, &timer, [this] { return clock; });
    DetectorSignals signals =
        DetectorSignalBinding::signalsFor(u"codex"_qs, shared, *store, settings);
    QString id = loop(u"com.openai.codex"_qs);
};

} // namespace

TEST_F(DetectorSignalBindingTest, SignalsReachTheStateMachineWithTheirKind) {
    store->transitionContext(id, ContextState::Backgrounded, u"left"_qs, at(1));
    signals.pending(id, u"codex_turn_started"_qs, at(2));
    EXPECT_EQ(stored(id), reason("waiting", StateReason::detectorPending));
    EXPECT_EQ(store->latestDetectorSignal(id)->detectorKind, u"codex"_qs);
    signals.readyQuiet(id, u"codex_task_complete"_qs, at(3));
    EXPECT_EQ(stored(id), reason("ready", StateReason::detectorReady));
    EXPECT_EQ(store->latestDetectorSignal(id)->detail, u"codex_task_complete"_qs);

    const auto claimed = signals.claim(u"com.example.Term"_qs, u"build"_qs, at(4));
    ASSERT_TRUE(claimed);
    EXPECT_EQ(stored(*claimed), reason("backgrounded", StateReason::claimedAfterLeave));

    shared.reset(); // the state machine is gone
    signals.pending(id, std::nullopt, at(5));
    EXPECT_EQ(stored(id).first, u"ready"_qs);
    EXPECT_EQ(signals.claim(u"com.example.Term"_qs, u"other"_qs, at(6)), std::nullopt);
    EXPECT_EQ(signals.claimSession(u"com.example.Term"_qs, std::nullopt, u"s1"_qs, at(6)),
              std::nullopt);
}

TEST_F(DetectorSignalBindingTest, SessionClaimsFindOrCreateOneLoopPerSession) {
    const auto first =
        signals.claimSession(u"com.openai.codex"_qs, u"Refactor"_qs, u"session-42"_qs, at(10));
    ASSERT_TRUE(first);
    EXPECT_EQ(stored(*first), reason("backgrounded", StateReason::sessionClaimed));
    EXPECT_EQ(store->context(*first)->detectorKind, u"codex"_qs);
    EXPECT_TRUE(store->context(*first)->isSession);
    const qsizetype loops = openLoops();
    EXPECT_EQ(signals.claimSession(u"com.openai.codex"_qs, std::nullopt, u"session-42"_qs, at(11)),
              first);
    EXPECT_EQ(openLoops(), loops);
    EXPECT_EQ(timer.deadline(), at(10 + 1200)) << "the timer was re-armed";
}

TEST_F(DetectorSignalBindingTest, StoreWritesAreFilteredAndNeverThrow) {
    signals.suggestReturnActions(id, {{ReturnActionKind::OpenFile, u"/tmp/plan.md"_qs, {}}}, at(1));
    EXPECT_EQ(store->returnActions(id).first().provenance, u"detector:codex"_qs);

    signals.attachDocumentRef(id, u"folder"_qs, u"/tmp"_qs, std::nullopt, at(2));
    EXPECT_EQ(store->documentRef(id), std::nullopt);
    signals.attachDocumentRef(id, u"url"_qs, u"https://chatgpt.com/c/1?x=2"_qs, u"Chat"_qs, at(2));
    EXPECT_EQ(store->documentRef(id)->locator, u"https://chatgpt.com/c/1"_qs);

    signals.setIcon(id, u"https://example.com/icon.png"_qs);
    signals.setIcon(id, u"data:image/png;base64,"_qs + QString(65536, u'A'));
    EXPECT_EQ(store->context(id)->favicon, std::nullopt);
    signals.setIcon(id, u"data:image/png;base64,AAAA"_qs);
    EXPECT_EQ(store->context(id)->favicon, u"data:image/png;base64,AAAA"_qs);

    // A failing write (unknown loop: foreign key) is swallowed.
    EXPECT_NO_THROW(signals.suggestReturnActions(
        u"missing"_qs, {{ReturnActionKind::CopyText, u"x"_qs, {}}}, at(3)));
}

TEST_F(DetectorSignalBindingTest, PromptLinesAreKeptOnlyWithSmartSummariesOn) {
    signals.summarize(id, u"User: Why does the build fail?"_qs);
    EXPECT_EQ(store->context(id)->promptLine, std::nullopt);
    settings.setBool(u"settings.smartSummaries"_qs, true);
    signals.summarize(id, u"\n\nUser:   Why does   the build fail?\nmore"_qs);
    EXPECT_EQ(store->context(id)->promptLine, u"Why does the build fail?"_qs);
    EXPECT_EQ(store->context(id)->topic, std::nullopt) << "the topic is asked for elsewhere";
}

TEST_F(DetectorSignalBindingTest, TheEnvironmentLooksThingsUpSafely) {
    FakeWorkspace workspace;
    const DetectorEnvironment environment = DetectorSignalBinding::environment(*store, workspace);
    EXPECT_EQ(environment.openContext(u"com.openai.codex"_qs)->id, id);
    EXPECT_EQ(environment.openContexts().size(), 1);
    EXPECT_EQ(environment.frontmostBundleID(), std::nullopt);
    workspace.launch(RunningApplication{u"com.openai.codex"_qs, {}, 5, true});
    workspace.activate(5);
    EXPECT_EQ(environment.frontmostBundleID(), u"com.openai.codex"_qs);
}
