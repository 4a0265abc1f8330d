// Reading loops back from a well-used database: 1,000 open loops (plus 5,000 dismissed
// ones), 100,000 detector-state rows and 1,000,000 focus events.
#include "model/StateReason.h"
#include "store/ContextStore.h"
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

namespace {

constexpr int kApplications = 50;
constexpr int kOpenLoops = 1000;
constexpr int kDismissedLoops = 5000;
constexpr int kDetectorStates = 100'000;
constexpr int kEvents = 1'000'000;
constexpr qint64 kBase = 1'700'000'000'000;

QString appID(int i) {
    return QStringLiteral("org.example.App%1").arg(i % kApplications);
}

QString loopID(int i) {
    return QStringLiteral("LOOP-%1").arg(i, 6, 10, QLatin1Char('0'));
}

struct Fixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kestrune.db"));
    EphemeralKeyProvider key{EphemeralKeyProvider::developmentKey()};
    std::unique_ptr<ContextStore> store;

    Fixture() {
        { ContextStore create(path, key); }
        Database db(path);
        db.applyKey(EphemeralKeyProvider::developmentKey());
        db.execute(QStringLiteral("BEGIN"));
        for (int a = 0; a < kApplications; ++a)
            db.execute(QStringLiteral("INSERT INTO source (id, bundle_id, display_name, "
                                      "first_seen_at, last_seen_at) VALUES (?, ?, ?, ?, ?)"),
                       QStringLiteral("SRC-%1").arg(a), appID(a), QStringLiteral("App %1").arg(a),
                       kBase, kBase);
        static const char* states[] = {"active", "backgrounded", "waiting", "ready", "stale"};
        Statement context(
            db, QStringLiteral("INSERT INTO context (id, source_id, label, title_key, state, "
                               "state_reason, created_at, state_changed_at, dismissed_at) "
                               "VALUES (?, ?, ?, ?, ?, 'created_on_focus', ?, ?, ?)"));
        for (int i = 0; i < kOpenLoops + kDismissedLoops; ++i) {
            const bool open = i < kOpenLoops;
            context.bindAll(loopID(i), QStringLiteral("SRC-%1").arg(i % kApplications),
                            QStringLiteral("Window %1").arg(i), QStringLiteral("window %1").arg(i),
                            QString::fromLatin1(states[i % 5]), kBase + i * 1000, kBase + i * 1500,
                            open ? std::optional<qint64>() : std::optional<qint64>(kBase + i));
            context.step();
            context.reset();
        }
        Statement signal(db, QStringLiteral("INSERT INTO detector_state (id, context_id, "
                                            "detector_kind, signal, observed_at) VALUES (?, ?, "
                                            "'browser', 'pending', ?)"));
        for (int i = 0; i < kDetectorStates; ++i) {
            signal.bindAll(QStringLiteral("DS-%1").arg(i),
                           loopID(i % (kOpenLoops + kDismissedLoops)), kBase + i);
            signal.step();
            signal.reset();
        }
        Statement event(db, QStringLiteral("INSERT INTO event (id, source_id, context_id, type, "
                                           "window_title, occurred_at) VALUES (?, ?, ?, "
                                           "'focus_gained', 'A window title', ?)"));
        for (int i = 0; i < kEvents; ++i) {
            event.bindAll(QStringLiteral("EV-%1").arg(i),
                          QStringLiteral("SRC-%1").arg(i % kApplications), loopID(i % kOpenLoops),
                          kBase + i);
            event.step();
            event.reset();
        }
        db.execute(QStringLiteral("COMMIT"));
        printPlan(db, QStringLiteral("openContexts"),
                  QStringLiteral("SELECT c.id, c.has_evidence FROM context c JOIN source s ON "
                                 "s.id = c.source_id WHERE c.dismissed_at IS NULL ORDER BY "
                                 "c.state_changed_at DESC, c.rowid"));
        printPlan(db, QStringLiteral("ageingClocks (one of its three)"),
                  QStringLiteral("SELECT MIN(state_changed_at) FROM context WHERE state = "
                                 "'waiting' AND dismissed_at IS NULL"));
        printPlan(
            db, QStringLiteral("activeContext"),
            QStringLiteral("SELECT c.id FROM context c JOIN source s ON s.id = c.source_id "
                           "WHERE s.bundle_id = 'x' AND c.state = 'active' AND "
                           "c.dismissed_at IS NULL ORDER BY c.state_changed_at DESC LIMIT 1"));
        printPlan(db, QStringLiteral("openContext(bundleID:titleKey:)"),
                  QStringLiteral("SELECT c.id FROM context c JOIN source s ON s.id = c.source_id "
                                 "WHERE s.bundle_id = 'x' AND c.title_key = 'y' AND "
                                 "c.dismissed_at IS NULL ORDER BY c.created_at DESC LIMIT 1"));
        store = std::make_unique<ContextStore>(path, key);
    }

    static void printPlan(Database& db, const QString& name, const QString& sql) {
        Statement plan(db, QStringLiteral("EXPLAIN QUERY PLAN ") + sql);
        std::fprintf(stderr, "plan of %s:\n", qPrintable(name));
        while (plan.step())
            std::fprintf(stderr, "  %s\n", qPrintable(plan.text(3).value_or(QString())));
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

void BM_OpenContextsAndGrouping(benchmark::State& state) {
    ContextStore& store = *fixture().store;
    for (auto _ : state) {
        const GroupedLoops grouped =
            GroupedLoops::group(store.openContexts(), std::chrono::system_clock::now());
        benchmark::DoNotOptimize(grouped.openCount());
    }
    state.counters["loops"] = static_cast<double>(store.openContexts().size());
}
BENCHMARK(BM_OpenContextsAndGrouping)->Unit(benchmark::kMillisecond);

// The list read and decoded, not grouped: with the two rows around it, where the time goes.
void BM_OpenContextsOnly(benchmark::State& state) {
    ContextStore& store = *fixture().store;
    for (auto _ : state)
        benchmark::DoNotOptimize(store.openContexts().size());
}
BENCHMARK(BM_OpenContextsOnly)->Unit(benchmark::kMillisecond);

// Reference: the same open-loop statement stepped on a raw connection, nothing decoded.
void BM_ReferenceOpenLoopStatementOnly(benchmark::State& state) {
    Database db(fixture().path);
    db.applyKey(EphemeralKeyProvider::developmentKey());
    for (auto _ : state) {
        Statement statement(
            db, QStringLiteral(
                    "SELECT c.id, s.bundle_id, s.display_name, c.label, c.title_key, c.note, "
                    "c.state, c.is_pinned, c.created_at, c.state_changed_at, c.backgrounded_at, "
                    "c.ready_at, c.dismissed_at, c.snooze_until, c.interrupted_by_bundle, "
                    "c.interrupted_by_name, c.favicon, c.topic, c.prompt_line, c.is_session, "
                    "c.detector_kind, c.has_evidence FROM context c JOIN source s ON s.id "
                    "= c.source_id WHERE c.dismissed_at IS NULL ORDER BY c.state_changed_at "
                    "DESC, c.rowid"));
        int rows = 0;
        while (statement.step())
            ++rows;
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_ReferenceOpenLoopStatementOnly)->Unit(benchmark::kMillisecond);

void BM_ContextByID(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().store->context(loopID(++i % kOpenLoops)));
}
BENCHMARK(BM_ContextByID)->Unit(benchmark::kMicrosecond);

void BM_OpenContextForBundleID(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().store->openContext(appID(++i)));
}
BENCHMARK(BM_OpenContextForBundleID)->Unit(benchmark::kMicrosecond);

void BM_OpenContextForTitleKey(benchmark::State& state) {
    int i = 0;
    for (auto _ : state) {
        ++i;
        benchmark::DoNotOptimize(fixture().store->openContext(
            appID(i % kOpenLoops), QStringLiteral("window %1").arg(i % kOpenLoops)));
    }
}
BENCHMARK(BM_OpenContextForTitleKey)->Unit(benchmark::kMicrosecond);

void BM_ActiveContext(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(fixture().store->activeContext(appID(++i)));
}
BENCHMARK(BM_ActiveContext)->Unit(benchmark::kMicrosecond);

FocusEvent focusEvent(int i) {
    return FocusEvent{FocusEvent::Kind::FocusGained, appID(i), QStringLiteral("App"),
                      QStringLiteral("A window title"), std::chrono::system_clock::now()};
}

// One focus event written, with nobody observing the loop list.
void BM_RecordEvent(benchmark::State& state) {
    int i = 0;
    for (auto _ : state)
        fixture().store->record(focusEvent(++i));
}
BENCHMARK(BM_RecordEvent)->Unit(benchmark::kMicrosecond);

// The same write with the live loop list observed: a focus event changes only its
// application's last-seen time, which wakes no observer.
void BM_RecordEventWhileObserved(benchmark::State& state) {
    int deliveries = 0;
    LoopObservation observation =
        fixture().store->observeOpenLoops([&](const GroupedLoops&) { ++deliveries; });
    int i = 0;
    for (auto _ : state) {
        fixture().store->record(focusEvent(++i));
        QCoreApplication::processEvents();
    }
    state.counters["deliveries"] = deliveries;
}
BENCHMARK(BM_RecordEventWhileObserved)->Unit(benchmark::kMillisecond);

// A write that changes the list (a loop's state), observed: commit, re-read, delivery and
// grouping, each time.
void BM_TransitionWhileObserved(benchmark::State& state) {
    int deliveries = 0;
    LoopObservation observation =
        fixture().store->observeOpenLoops([&](const GroupedLoops&) { ++deliveries; });
    int i = 0;
    for (auto _ : state) {
        ++i;
        fixture().store->transitionContext(
            loopID(i % kOpenLoops), i % 2 ? ContextState::Waiting : ContextState::Backgrounded,
            QStringLiteral("focus_lost"), fromMillis(kBase + 10'000'000 + i));
        QCoreApplication::processEvents();
    }
    state.counters["deliveries"] = deliveries;
}
BENCHMARK(BM_TransitionWhileObserved)->Unit(benchmark::kMillisecond);

} // namespace
