// Focus events through the state machine on a real encrypted database, with 10, 1,000 and
// 10,000 open loops. Every event runs on the main thread, so its latency is what the user's
// desktop waits on.
#include "engine/StateMachine.h"
#include "model/StateReason.h"
#include "store/ContextStore.h"
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <thread>
#include <vector>

namespace {

constexpr int kApplications = 50;

// Mean, median and 99th percentile, all in microseconds.
void report(benchmark::State& state, std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    double total = 0;
    for (double latency : latencies)
        total += latency;
    state.counters["mean_us"] = total / static_cast<double>(latencies.size());
    state.counters["p50_us"] = latencies[latencies.size() / 2];
    state.counters["p99_us"] = latencies[latencies.size() * 99 / 100];
}

// Counts schedules; never fires (ageing is not what is measured).
class IdleTimer final : public TickTimer {
public:
    void schedule(TimePoint, std::function<void()>) override {}
    void cancel() override {}
};

void BM_IngestFocusEvents(benchmark::State& state) {
    const int openLoops = static_cast<int>(state.range(0));
    QTemporaryDir dir;
    EphemeralKeyProvider key(EphemeralKeyProvider::developmentKey());
    ContextStore store(dir.filePath(QStringLiteral("kestrune.db")), key);
    IdleTimer timer;
    StateMachine machine(store, StateMachineConfiguration{}, &timer);

    const TimePoint start = std::chrono::system_clock::now();
    for (int i = 0; i < openLoops; ++i) {
        const QString app = QStringLiteral("org.example.App%1").arg(i % kApplications);
        const QString title = QStringLiteral("Window %1").arg(i);
        const auto id =
            store.createContext(app, title, title.toLower(), false, std::nullopt, start);
        store.transitionContext(*id, ContextState::Backgrounded, QStringLiteral("focus_lost"),
                                start);
    }

    // The set-up's log is folded back while nothing happens, as between a user's bursts.
    std::this_thread::sleep_for(WalCheckpointer::kQuietFor * 4);

    // The user walks through existing windows: focus gained on one (it becomes active),
    // then lost (it goes back to backgrounded).
    std::vector<double> latencies;
    int event = 0;
    for (auto _ : state) {
        const int window = event / 2 % openLoops;
        const bool gaining = event % 2 == 0;
        const FocusEvent focus{
            gaining ? FocusEvent::Kind::FocusGained : FocusEvent::Kind::FocusLost,
            QStringLiteral("org.example.App%1").arg(window % kApplications), QStringLiteral("App"),
            QStringLiteral("Window %1").arg(window), start + std::chrono::seconds(1 + event)};
        const auto before = std::chrono::steady_clock::now();
        machine.ingest(focus);
        latencies.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before)
                .count());
        ++event;
    }
    report(state, latencies);
}

// Reference, same process and same kind of file: one synced commit of one small row, the
// floor under any event that writes at all.
void BM_ReferenceOneCommit(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("reference.db"));
    { // the store's own settings (WAL, its synchronous level)
        EphemeralKeyProvider key(EphemeralKeyProvider::developmentKey());
        ContextStore store(path, key);
    }
    Database db(path);
    db.applyKey(EphemeralKeyProvider::developmentKey());
    db.execute(QStringLiteral("PRAGMA journal_mode = WAL"));
    db.execute(QStringLiteral("PRAGMA synchronous = ") + QString::number(state.range(0)));
    db.execute(QStringLiteral("CREATE TABLE reference (id INTEGER PRIMARY KEY, at INTEGER)"));
    std::vector<double> latencies;
    qint64 row = 0;
    for (auto _ : state) {
        const auto before = std::chrono::steady_clock::now();
        Transaction transaction(db, Transaction::Kind::Write);
        db.execute(QStringLiteral("INSERT INTO reference (at) VALUES (?)"), ++row);
        transaction.commit();
        latencies.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - before)
                .count());
    }
    report(state, latencies);
}
BENCHMARK(BM_ReferenceOneCommit)
    ->ArgName("synchronous")
    ->Arg(1) // NORMAL, as the store runs
    ->Arg(2) // FULL
    ->Iterations(400)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_IngestFocusEvents)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(400)
    ->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
