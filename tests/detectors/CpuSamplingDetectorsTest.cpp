#include "detectors/DetectorFixture.h"
#include "detectors/NativeAIDetector.h"
#include "detectors/WatchDetector.h"

#include <deque>

namespace {

using Verdict = NativeAIDetector::Verdict;
constexpr quint64 kSecond = 1'000'000'000;
const QString kLMStudio = u"ai.elementlabs.lmstudio"_qs;
const QString kChatGPT = u"com.openai.chat"_qs;

// CPU readings handed out one per sample; nothing once the script runs out (process gone).
struct ScriptedCpu {
    std::deque<std::optional<quint64>> readings;
    int reads = 0;
    std::optional<quint64> operator()(qint64) {
        ++reads;
        if (readings.empty())
            return std::nullopt;
        const auto next = readings.front();
        readings.pop_front();
        return next;
    }
};

// Cumulative readings for samples at the given CPU fractions of a 10 ms interval.
std::deque<std::optional<quint64>> readingsAt(std::initializer_list<double> fractions,
                                              bool thenExit = false) {
    std::deque<std::optional<quint64>> readings{quint64(1000) * kSecond};
    for (const double fraction : fractions)
        readings.push_back(*readings.back() + static_cast<quint64>(fraction * 0.01 * kSecond));
    if (!thenExit)
        for (int i = 0; i < 50; ++i) // stays quiet afterwards
            readings.push_back(readings.back());
    return readings;
}

class CpuSamplingDetectorsTest : public DetectorFixture {
protected:
    ScriptedCpu cpu;
    QHash<QString, qint64> running{{kLMStudio, 4242}, {kChatGPT, 4343}};
    bool trusted = false;
    NativeAIDetector* nativeAI = nullptr;
    WatchDetector* watcher = nullptr;

    CpuSamplingDetectorsTest() {
        const auto runningPID = [this](const QString& id) -> std::optional<qint64> {
            return running.contains(id) ? std::optional(running.value(id)) : std::nullopt;
        };
        const auto provider = [this](qint64 pid) { return cpu(pid); };
        auto ai = std::make_unique<NativeAIDetector>(
            NativeAIDetector::defaultBundleIDs(), NativeAIDetector::Tuning{0.01, 0.15, 0.03, 2},
            runningPID, provider, [this] { return trusted; }, [this] { return clock; });
        nativeAI = ai.get();
        registry.registerDetector(std::move(ai));
        auto watch = std::make_unique<WatchDetector>(
            WatchDetector::Tuning{0.01, 0.03, 2}, runningPID, provider, [this] { return clock; });
        watcher = watch.get();
        registry.registerDetector(std::move(watch));
    }
    void focus(FocusEvent::Kind kind, const QString& bundleID) {
        const FocusEvent event{kind, bundleID, u"LM Studio"_qs, {}, clock};
        shared->ingest(event);
        registry.dispatch(event, store->openContext(bundleID));
    }
    // Leaves the app and lets the watch sample until it ends.
    QString leaveAndSample(const QString& bundleID = kLMStudio) {
        focus(FocusEvent::Kind::FocusGained, bundleID);
        focus(FocusEvent::Kind::FocusLost, bundleID);
        const QString id = store->openContext(bundleID)->id;
        EXPECT_TRUE(nativeAI->isWatching(id));
        EXPECT_TRUE(waitUntil([&] { return !nativeAI->isWatching(id); }));
        return id;
    }
};

} // namespace

TEST(NativeAIStep, BusyAndQuietBoundaries) {
    const NativeAIDetector::Tuning tuning; // 0.15 busy, 0.03 quiet, 2 samples
    // Over a one-second interval, so the fractions are exact.
    const auto at = [&](double fraction, int quiet, bool sawBusy) {
        return NativeAIDetector::step(static_cast<quint64>(std::llround(fraction * 1e9)), 1, tuning,
                                      quiet, sawBusy);
    };
    EXPECT_EQ(at(0.15, 1, false), (Verdict{0, true, true, false})) << "exactly busy";
    EXPECT_EQ(at(2.5, 1, true), (Verdict{0, true, false, false})) << "busy again: no new pending";
    EXPECT_EQ(at(0.01, 3, false), (Verdict{3, false, false, false})) << "never busy: unchanged";
    EXPECT_EQ(at(0.0, 0, true), (Verdict{1, true, false, false}));
    EXPECT_EQ(NativeAIDetector::step(30 * 15 * 1'000'000ULL, 15, tuning, 0, true).quietSamples, 0)
        << "3 % of a 15 s interval is not quiet either";
    EXPECT_EQ(at(0.029, 1, true), (Verdict{2, true, false, true})) << "second quiet: ready";
    EXPECT_EQ(at(0.03, 1, true), (Verdict{0, true, false, false})) << "exactly quiet resets";
    EXPECT_EQ(at(0.149, 1, true), (Verdict{0, true, false, false})) << "moderate resets";
}

TEST_F(CpuSamplingDetectorsTest, BusyThenQuietIsPendingThenReady) {
    cpu.readings = readingsAt({0.5, 0.0, 0.0});
    const QString id = leaveAndSample();
    EXPECT_EQ(signalsOf(id), (QStringList{u"native_ai pending ai_working @0"_qs,
                                          u"native_ai ready ai_work_quiet @0"_qs}));
    EXPECT_EQ(stored(id).first, u"ready"_qs);
    EXPECT_EQ(cpu.reads, 4) << "baseline, busy, two quiet; then the watch is gone";
}

TEST_F(CpuSamplingDetectorsTest, AModerateSampleRestartsTheQuietCount) {
    cpu.readings = readingsAt({0.5, 0.0, 0.1, 0.0, 0.0});
    const QString id = leaveAndSample();
    EXPECT_EQ(signalsOf(id).size(), 2);
    EXPECT_EQ(cpu.reads, 6);
}

TEST_F(CpuSamplingDetectorsTest, AnExitCountsOnlyAfterBusy) {
    cpu.readings = readingsAt({0.01}, true);
    EXPECT_TRUE(signalsOf(leaveAndSample()).isEmpty()) << "exited before it was ever busy";

    cpu.readings = readingsAt({0.9}, true);
    const QString id = leaveAndSample();
    EXPECT_EQ(signalsOf(id).last(), u"native_ai ready ai_process_exited @0"_qs);
}

TEST_F(CpuSamplingDetectorsTest, ComingBackOrQuittingCancelsTheWatch) {
    cpu.readings = readingsAt({0.5});
    focus(FocusEvent::Kind::FocusGained, kLMStudio);
    focus(FocusEvent::Kind::FocusLost, kLMStudio);
    const QString id = store->openContext(kLMStudio)->id;
    focus(FocusEvent::Kind::FocusGained, kLMStudio);
    EXPECT_FALSE(nativeAI->isWatching(id));
    focus(FocusEvent::Kind::FocusLost, kLMStudio);
    EXPECT_TRUE(nativeAI->isWatching(id)) << "leaving again re-arms";
    focus(FocusEvent::Kind::AppTerminated, kLMStudio);
    EXPECT_FALSE(nativeAI->isWatching(id));
    drain(100);
    EXPECT_EQ(cpu.reads, 0);

    // Not running: nothing to watch.
    running.remove(kLMStudio);
    focus(FocusEvent::Kind::FocusGained, kLMStudio);
    focus(FocusEvent::Kind::FocusLost, kLMStudio);
    EXPECT_FALSE(nativeAI->isWatching(id));
}

TEST_F(CpuSamplingDetectorsTest, AccessibilityCoveredAppsAreLeftToTheChatDetectorWhenTrusted) {
    trusted = true;
    focus(FocusEvent::Kind::FocusGained, kChatGPT);
    focus(FocusEvent::Kind::FocusLost, kChatGPT);
    EXPECT_FALSE(nativeAI->isWatching(store->openContext(kChatGPT)->id));
    trusted = false;
    focus(FocusEvent::Kind::FocusGained, kChatGPT);
    focus(FocusEvent::Kind::FocusLost, kChatGPT);
    EXPECT_TRUE(nativeAI->isWatching(store->openContext(kChatGPT)->id));
    trusted = true;
    focus(FocusEvent::Kind::FocusGained, kLMStudio);
    focus(FocusEvent::Kind::FocusLost, kLMStudio);
    EXPECT_TRUE(nativeAI->isWatching(store->openContext(kLMStudio)->id)) << "not covered";
}

TEST_F(CpuSamplingDetectorsTest, AUserWatchIsPendingAtOnceAndReadyWhenQuietOrGone) {
    const QString editor = loop(u"com.example.Editor"_qs);
    EXPECT_FALSE(watcher->watch(editor, u"com.example.Editor"_qs)) << "not running";
    EXPECT_TRUE(signalsOf(editor).isEmpty());

    const QString id = loop(kLMStudio);
    cpu.readings = readingsAt({0.5, 0.01, 0.05, 0.0, 0.0});
    ASSERT_TRUE(watcher->watch(id, kLMStudio));
    EXPECT_EQ(signalsOf(id), QStringList{u"watch pending watching @0"_qs});
    ASSERT_TRUE(waitUntil([&] { return !watcher->isWatching(id); }));
    EXPECT_EQ(signalsOf(id).last(), u"watch ready watched_work_quiet @0"_qs);
    EXPECT_EQ(cpu.reads, 6) << "the 5 % sample reset the count";

    cpu.readings = readingsAt({0.5}, true);
    cpu.reads = 0;
    ASSERT_TRUE(watcher->watch(id, kLMStudio));
    ASSERT_TRUE(waitUntil([&] { return !watcher->isWatching(id); }));
    EXPECT_EQ(signalsOf(id).last(), u"watch ready watched_process_exited @0"_qs);

    // Back in the watched app: cancelled without a word.
    cpu.readings = readingsAt({0.5});
    ASSERT_TRUE(watcher->watch(id, kLMStudio));
    const qsizetype before = signalsOf(id).size();
    registry.dispatch(FocusEvent{FocusEvent::Kind::FocusGained, kLMStudio, {}, {}, clock},
                      std::nullopt);
    EXPECT_FALSE(watcher->isWatching(id));
    drain(100);
    EXPECT_EQ(signalsOf(id).size(), before);
}
