// The native-messaging host as the browser drives it: frames per second from standard input
// to Tessarine's endpoint, against `cat` moving the same bytes, and the host's start-up.
#include "platform/MessagePortNames.h"
#include "platform/linux/UnixDatagramMessagePort.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>

namespace {

constexpr int kFrames = 5000;

QByteArray frames() {
    const QByteArray body =
        QJsonDocument(
            QJsonObject{{QStringLiteral("site"), QStringLiteral("claude")},
                        {QStringLiteral("event"), QStringLiteral("response_complete")},
                        {QStringLiteral("url"), QStringLiteral("https://claude.ai/chat/1?x")},
                        {QStringLiteral("title"), QString(120, QLatin1Char('t'))},
                        {QStringLiteral("prompt"), QString(200, QLatin1Char('p'))},
                        {QStringLiteral("tabId"), 7}})
            .toJson(QJsonDocument::Compact);
    QByteArray one(4, '\0');
    const auto length = static_cast<quint32>(body.size());
    std::memcpy(one.data(), &length, 4);
    one += body;
    return one.repeated(kFrames);
}

// Runs `program` on `input` to completion, serving the event loop meanwhile; returns the
// bytes it wrote.
qint64 pump(const QString& program, const QByteArray& input, const QString& runtime) {
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    process.setProcessEnvironment(environment);
    qint64 output = 0;
    QObject::connect(&process, &QProcess::readyReadStandardOutput,
                     [&] { output += process.readAllStandardOutput().size(); });
    process.start(program);
    process.waitForStarted();
    process.write(input);
    process.closeWriteChannel();
    while (process.state() != QProcess::NotRunning)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    output += process.readAllStandardOutput().size();
    return output;
}

void BM_HostFramesIntoTessarine(benchmark::State& state) {
    QTemporaryDir runtime;
    UnixDatagramMessagePort port(runtime.path() + QStringLiteral("/kestrune"));
    qint64 forwarded = 0;
    auto endpoint =
        port.listen(MessagePortNames::tabContext(), [&](const QByteArray&) { ++forwarded; });
    const QByteArray input = frames();
    for (auto _ : state)
        benchmark::DoNotOptimize(pump(QStringLiteral(KESTRUNE_NATIVE_HOST), input, runtime.path()));
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(kFrames) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
    state.counters["forwarded"] = static_cast<double>(forwarded);
}
BENCHMARK(BM_HostFramesIntoTessarine)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// Reference: the same bytes through `cat`.
void BM_ReferenceCatSameBytes(benchmark::State& state) {
    QTemporaryDir runtime;
    const QByteArray input = frames();
    for (auto _ : state)
        benchmark::DoNotOptimize(pump(QStringLiteral("/bin/cat"), input, runtime.path()));
    state.counters["frames_per_s"] =
        benchmark::Counter(static_cast<double>(kFrames) * static_cast<double>(state.iterations()),
                           benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceCatSameBytes)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

// From start to exit on an immediately closed input: what each browser connection pays.
void BM_HostStartUpAndExit(benchmark::State& state) {
    QTemporaryDir runtime;
    for (auto _ : state)
        pump(QStringLiteral(KESTRUNE_NATIVE_HOST), QByteArray(), runtime.path());
}
BENCHMARK(BM_HostStartUpAndExit)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

void BM_ReferenceCatStartUpAndExit(benchmark::State& state) {
    QTemporaryDir runtime;
    for (auto _ : state)
        pump(QStringLiteral("/bin/cat"), QByteArray(), runtime.path());
}
BENCHMARK(BM_ReferenceCatStartUpAndExit)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30)
    ->UseRealTime();

} // namespace
