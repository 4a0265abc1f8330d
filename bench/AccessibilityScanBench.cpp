// Reading another application's controls over AT-SPI (run through scripts/test-env.sh): one
// scan of a 6,000-element tree in our Qt Quick test chat, against one round trip to the same
// application measured in the same run, and a press through the chat detector's path.
#include "Percentile.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiControls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

class Chat {
public:
    explicit Chat(int extraButtons) {
        m_process.start(QStringLiteral(TESSARINE_TEST_CHAT));
        m_process.waitForReadyRead(10000);
        m_process.readAll();
        send(QByteArray("many ") + QByteArray::number(extraButtons));
        send("ask on");
    }
    ~Chat() {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(5000))
            m_process.kill();
    }
    // One command at a time: the chat reads a line each time its input becomes readable.
    void send(const QByteArray& command) {
        m_process.write(command + '\n');
        QByteArray said;
        while (!said.contains("done\n") && m_process.waitForReadyRead(10000))
            said += m_process.readAll();
    }
    qint64 pid() const { return m_process.processId(); }
    QByteArray said() { return m_process.readAll(); }

private:
    QProcess m_process;
};

void BM_ScanOfALargeTree(benchmark::State& state) {
    Chat chat(static_cast<int>(state.range(0)));
    // The chat builds its accessibility objects on the first reads: wait until a scan sees
    // them all (a fresh bus each time, so a first slow answer does not leave it skipped).
    QElapsedTimer waited;
    waited.start();
    double firstScan = -1;
    for (int seen = 0; seen < state.range(0) && waited.elapsed() < 30000;) {
        AtspiBus warmUp;
        QElapsedTimer timer;
        timer.start();
        seen = AtspiControls(warmUp).read(chat.pid()).elements;
        if (firstScan < 0 && seen > 1)
            firstScan = static_cast<double>(timer.nsecsElapsed()) / 1e6;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    state.counters["first_scan_ms"] = firstScan;
    AtspiBus bus;
    AtspiControls controls(bus);
    const QString service = *bus.applicationOf(chat.pid());
    std::vector<double> scans;
    std::vector<double> roundTrips;
    qint64 calls = 0;
    int elements = 0;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        bus.call({service, AtspiBus::rootPath, AtspiBus::accessibleInterface,
                  QStringLiteral("GetRole")});
        roundTrips.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        const qint64 before = bus.callsSent();
        timer.restart();
        const AtspiControls::Reading reading = controls.read(chat.pid());
        scans.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        calls = bus.callsSent() - before;
        elements = reading.elements;
    }
    state.counters["scan_p50_ms"] = percentile(scans, 50);
    state.counters["scan_p99_ms"] = percentile(scans, 99);
    state.counters["round_trip_p50_ms"] = percentile(roundTrips, 50);
    state.counters["calls_per_scan"] = static_cast<double>(calls);
    state.counters["elements"] = elements;

    // A press as the chat detector does it: find the button, press it.
    AtspiAccessibility accessibility(bus, [] { return true; });
    QElapsedTimer press;
    press.start();
    bool pressed = false;
    const QList<AtspiControls::Button> buttons = controls.buttons(chat.pid());
    state.counters["buttons"] = static_cast<double>(buttons.size());
    for (const AtspiControls::Button& button : buttons) {
        if (button.label == u"Allow once") {
            pressed = accessibility.performAction(
                AXElement::remote(chat.pid(), button.element.service, button.element.path),
                QStringLiteral("AXPress"));
            break;
        }
    }
    state.counters["press_ms"] = static_cast<double>(press.nsecsElapsed()) / 1e6;
    state.counters["pressed"] = pressed ? 1 : 0;
}

} // namespace

BENCHMARK(BM_ScanOfALargeTree)->Arg(6000)->Iterations(20)->Unit(benchmark::kMillisecond);
