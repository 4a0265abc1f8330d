// The native-AI detector sampling a real process through /proc.
#include "detectors/DetectorFixture.h"
#include "detectors/NativeAIDetector.h"
#include "platform/linux/ProcProcessInfo.h"

#include <QProcess>

TEST(ProcProcessInfo, StatLinesAreReadFromTheLastParenthesis) {
    // utime 250 and stime 50 ticks; the name holds spaces and parentheses.
    EXPECT_EQ(ProcProcessInfo::cpuTicksFromStat(
                  "4242 (my (odd) app) S 1 4242 4242 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0"),
              300u);
    EXPECT_EQ(ProcProcessInfo::cpuTicksFromStat(
                  "4242 (gone) Z 1 4242 4242 0 -1 4194304 100 0 0 0 250 50 0 0 20 0 1 0"),
              std::nullopt)
        << "a zombie has exited";
    EXPECT_EQ(ProcProcessInfo::cpuTicksFromStat("4242 (cut) S 1 2"), std::nullopt);
    EXPECT_EQ(ProcProcessInfo::cpuTicksFromStat("no parenthesis"), std::nullopt);

    const ProcProcessInfo info;
    EXPECT_TRUE(info.cpuTimeNanos(QCoreApplication::applicationPid()));
    EXPECT_FALSE(info.cpuTimeNanos(0));
    EXPECT_FALSE(info.cpuTimeNanos(4'194'304 + 1)) << "beyond the largest pid";
}

class NativeAIProcessTest : public DetectorFixture {};

TEST_F(NativeAIProcessTest, AProcessThatBurnsThenSleepsIsPendingThenReady) {
    // Counts in the shell itself (no child does the work), then becomes `sleep` in place.
    QProcess worker;
    worker.start(
        u"/bin/sh"_qs,
        {u"-c"_qs, u"i=0; while [ $i -lt 3000000 ]; do i=$((i+1)); done; exec sleep 60"_qs});
    ASSERT_TRUE(worker.waitForStarted());
    const qint64 pid = worker.processId();
    const ProcProcessInfo info;
    const QString app = u"ai.elementlabs.lmstudio"_qs;
    registry.registerDetector(std::make_unique<NativeAIDetector>(
        NativeAIDetector::defaultBundleIDs(), NativeAIDetector::Tuning{0.2, 0.15, 0.03, 2},
        [&](const QString& id) { return id == app ? std::optional(pid) : std::nullopt; },
        [&](qint64 which) { return info.cpuTimeNanos(which); }, [] { return false; },
        [this] { return clock; }));

    for (const auto kind : {FocusEvent::Kind::FocusGained, FocusEvent::Kind::FocusLost}) {
        const FocusEvent event{kind, app, u"LM Studio"_qs, {}, clock};
        shared->ingest(event);
        registry.dispatch(event, store->openContext(app));
    }
    const QString id = store->openContext(app)->id;
    EXPECT_TRUE(waitUntil([&] { return signalsOf(id).size() == 2; }, 30000)) << "no verdict";
    EXPECT_EQ(signalsOf(id), (QStringList{u"native_ai pending ai_working @0"_qs,
                                          u"native_ai ready ai_work_quiet @0"_qs}));
    worker.kill();
    worker.waitForFinished();
}
