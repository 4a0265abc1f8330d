// Opening the encrypted database: what start-up pays before the first loop can be read.
#include "store/ContextStore.h"
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

struct Fixture {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("kestrune.db"));
    QByteArray key = EphemeralKeyProvider::developmentKey();

    Fixture() {
        EphemeralKeyProvider provider(key);
        ContextStore store(path, provider);
        store.seedDefaultExclusions(
            QStringLiteral(TESSARINE_SOURCE_DIR "/resources/default-exclusions.json"));
    }
};

Fixture& fixture() {
    static Fixture instance;
    return instance;
}

// The whole open of an existing store: passphrase key derivation, schema check, rule cache.
void BM_OpenExistingStore(benchmark::State& state) {
    EphemeralKeyProvider provider(fixture().key);
    for (auto _ : state) {
        ContextStore store(fixture().path, provider);
        benchmark::DoNotOptimize(store.privacyRules());
    }
}
BENCHMARK(BM_OpenExistingStore)->Unit(benchmark::kMillisecond);

// A raw connection up to its first answered query (the key is derived on that query).
void BM_ConnectionFirstQuery(benchmark::State& state) {
    for (auto _ : state) {
        Database db(fixture().path);
        db.applyKey(fixture().key);
        benchmark::DoNotOptimize(
            db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM sqlite_master")));
    }
}
BENCHMARK(BM_ConnectionFirstQuery)->Unit(benchmark::kMillisecond);

// A query on a store that is already open: what every later read costs.
void BM_QueryOnOpenStore(benchmark::State& state) {
    EphemeralKeyProvider provider(fixture().key);
    ContextStore store(fixture().path, provider);
    for (auto _ : state)
        benchmark::DoNotOptimize(store.tableCounts());
}
BENCHMARK(BM_QueryOnOpenStore)->Unit(benchmark::kMicrosecond);

// Reference: reading the same file's bytes without any decryption.
void BM_ReadFileReference(benchmark::State& state) {
    for (auto _ : state) {
        QFile file(fixture().path);
        file.open(QIODevice::ReadOnly);
        benchmark::DoNotOptimize(file.readAll());
    }
}
BENCHMARK(BM_ReadFileReference)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
