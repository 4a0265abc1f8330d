// Following coding-agent session logs: the launch scan over 200 MB of logs, incremental
// ingest, each against a plain read of the same bytes, and the time from an appended line
// to its signal with the real inotify watcher.
#include "Percentile.h"
#include "detectors/SessionLogDetector.h"
#include "platform/fake/FakeDirectoryWatcher.h"
#include "platform/linux/InotifyDirectoryWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr int kFiles = 200;
constexpr qint64 kBytesPerFile = 1024 * 1024;

QByteArray assistantLine() {
    return QByteArray(
               R"({"type":"assistant","cwd":"/home/me/shop","message":{"role":"assistant","stop_reason":"tool_use","content":[{"type":"text","text":")") +
           QByteArray(380, 'w') + "\"}]}}\n";
}

QByteArray userLine() {
    return R"({"type":"user","cwd":"/home/me/shop","message":{"role":"user","content":"Refactor the cart"}})"
           "\n";
}

struct Logs {
    QTemporaryDir dir;
    QString root = dir.filePath(QStringLiteral("projects"));
    qint64 bytes = 0;

    Logs() {
        const QByteArray filler = assistantLine();
        for (int i = 0; i < kFiles; ++i) {
            const QString path = root + QStringLiteral("/-home-me-p%1/s%1.jsonl").arg(i);
            QDir().mkpath(QFileInfo(path).absolutePath());
            QFile file(path);
            file.open(QIODevice::WriteOnly);
            QByteArray contents = userLine();
            while (contents.size() < kBytesPerFile)
                contents += filler;
            file.write(contents);
            bytes += contents.size();
        }
    }
};

Logs& logs() {
    static Logs instance;
    return instance;
}

DetectorSignalsPtr countingSignals(int& count) {
    auto signals = std::make_shared<DetectorSignals>();
    signals->pending = [&count](const QString&, const DetectorSignals::Detail&, TimePoint) {
        ++count;
    };
    signals->ready = signals->pending;
    signals->readyQuiet = signals->pending;
    int next = 0;
    signals->claimSession = [next](const QString&, const std::optional<QString>&,
                                   const QString& key,
                                   TimePoint) mutable -> std::optional<QString> {
        ++next;
        return key;
    };
    return signals;
}

// The launch as the user waits for it: `start` returns once each log's end has been read on
// the main thread; logs whose latest turn lies further back (here all: one prompt, then 1 MB
// of tool calls) are finished on a thread of their own. Both are timed.
void BM_LaunchScan200MB(benchmark::State& state) {
    logs(); // written before the first measure
    std::vector<double> blocking;
    std::vector<double> adopted;
    int signalsSent = 0;
    for (auto _ : state) {
        FakeDirectoryWatcher watcher;
        signalsSent = 0;
        SessionLogDetector detector(
            SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"),
                                           logs().root),
            watcher);
        QElapsedTimer timer;
        timer.start();
        detector.start(countingSignals(signalsSent), DetectorEnvironment{});
        blocking.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        while (detector.logsBeingRead() > 0)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        adopted.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    state.SetBytesProcessed(state.iterations() * logs().bytes);
    state.counters["start_returns_p50_ms"] = percentile(blocking, 50);
    state.counters["all_adopted_p50_ms"] = percentile(adopted, 50);
    state.counters["adopted"] = signalsSent;
}
BENCHMARK(BM_LaunchScan200MB)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

void BM_ReferenceReadSameBytes(benchmark::State& state) {
    for (auto _ : state) {
        for (int i = 0; i < kFiles; ++i) {
            QFile file(logs().root + QStringLiteral("/-home-me-p%1/s%1.jsonl").arg(i));
            file.open(QIODevice::ReadOnly);
            benchmark::DoNotOptimize(file.readAll());
        }
    }
    state.SetBytesProcessed(state.iterations() * logs().bytes);
}
BENCHMARK(BM_ReferenceReadSameBytes)->Unit(benchmark::kMillisecond)->Iterations(3);

// Lines appended to a followed log, 1 MB per change.
void BM_IncrementalIngest(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("projects"));
    const QString path = root + QStringLiteral("/-home-me-x/live.jsonl");
    QDir().mkpath(QFileInfo(path).absolutePath());
    { QFile(path).open(QIODevice::WriteOnly); }
    FakeDirectoryWatcher watcher;
    int signalsSent = 0;
    SessionLogDetector detector(
        SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"), root),
        watcher);
    detector.start(countingSignals(signalsSent), DetectorEnvironment{});
    QByteArray chunk = userLine();
    while (chunk.size() < kBytesPerFile)
        chunk += assistantLine();
    const QString key = QFileInfo(path).canonicalFilePath();
    for (auto _ : state) {
        state.PauseTiming();
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        file.write(chunk);
        file.close();
        state.ResumeTiming();
        watcher.announce(root, {key});
    }
    state.SetBytesProcessed(state.iterations() * chunk.size());
    state.counters["signals"] = signalsSent;
}
BENCHMARK(BM_IncrementalIngest)->Unit(benchmark::kMillisecond)->Iterations(50);

// From a prompt line appended to the pending signal, with the real watcher (0.3 s latency).
void BM_AppendToSignalLatency(benchmark::State& state) {
    QTemporaryDir dir;
    const QString root = dir.filePath(QStringLiteral("projects"));
    const QString path = root + QStringLiteral("/-home-me-x/live.jsonl");
    QDir().mkpath(QFileInfo(path).absolutePath());
    { QFile(path).open(QIODevice::WriteOnly); }
    InotifyDirectoryWatcher watcher;
    int signalsSent = 0;
    SessionLogDetector detector(
        SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"), root),
        watcher);
    detector.start(countingSignals(signalsSent), DetectorEnvironment{});
    for (auto _ : state) {
        const int before = signalsSent;
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Append);
        file.write(userLine());
        file.close();
        QElapsedTimer waited;
        waited.start();
        while (signalsSent == before && waited.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
}
BENCHMARK(BM_AppendToSignalLatency)->Unit(benchmark::kMillisecond)->Iterations(10)->UseRealTime();

} // namespace
