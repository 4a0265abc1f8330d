// Focus tracking on a real X server (run through scripts/test-env.sh): the latency from a
// window switch to the tracker's event, and what the tracker costs while nothing happens.
#include "engine/FocusTracker.h"
#include "platform/linux/X11Workspace.h"

#include "ProcessCost.h"
#include "TestApplication.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

void BM_WindowSwitchToFocusEvent(benchmark::State& state) {
    X11Workspace workspace(QCoreApplication::applicationPid());
    FocusTracker tracker(workspace, QCoreApplication::applicationPid());
    tracker.mayReadTitle = [](const QString&) { return true; };
    QString lastGained;
    tracker.onEvent = [&](const FocusEvent& event) {
        if (event.kind == FocusEvent::Kind::FocusGained)
            lastGained = event.bundleID;
    };
    tracker.start();
    TestApplication alpha(QStringLiteral("BenchAlpha"));
    TestApplication beta(QStringLiteral("BenchBeta"));
    const auto settle = [] {
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    };
    settle();

    std::vector<double> latencies;
    int switches = 0;
    for (auto _ : state) {
        const bool toAlpha = switches++ % 2 == 0;
        const QString expected =
            toAlpha ? QStringLiteral("BenchAlpha") : QStringLiteral("BenchBeta");
        lastGained.clear();
        QElapsedTimer timer;
        timer.start();
        workspace.raiseWindow(toAlpha ? alpha.window : beta.window);
        while (lastGained != expected && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];

    // Idle: nothing changes on the desktop for two seconds.
    const double cpuBefore = processCpuSeconds();
    const long switchesBefore = voluntarySwitches();
    QTimer::singleShot(2000, QCoreApplication::instance(), [] { QCoreApplication::exit(); });
    QCoreApplication::exec();
    state.counters["idle_cpu_ms_per_2s"] = (processCpuSeconds() - cpuBefore) * 1000;
    state.counters["idle_wakeups_per_2s"] =
        static_cast<double>(voluntarySwitches() - switchesBefore);
    tracker.stop();
}
BENCHMARK(BM_WindowSwitchToFocusEvent)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
