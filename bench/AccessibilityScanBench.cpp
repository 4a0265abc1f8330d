// Reading another application's controls over AT-SPI (run through scripts/test-env.sh): one
// scan of a 6,000-element tree in our Qt Quick test chat, against one round trip to the same
// application measured in the same run, and a press through the chat detector's path; then
// a 6,000-element page in a real Chromium read through its own search, against the walk in
// the same run.
#include "Percentile.h"
#include "platform/linux/A11yBusSwitch.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiControls.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <csignal>
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

// Scans of one application, timed, with the calls they sent.
struct Scans {
    std::vector<double> milliseconds;
    qint64 calls = 0;
    int labels = 0;
};

Scans scanRepeatedly(AtspiControls::Search search, qint64 pid, int times) {
    AtspiBus bus;
    AtspiControls controls(bus, search);
    controls.read(pid); // the first reading of an application always walks
    Scans scans;
    for (int i = 0; i < times; ++i) {
        const qint64 before = bus.callsSent();
        QElapsedTimer timer;
        timer.start();
        const AtspiControls::Reading reading = controls.read(pid);
        scans.milliseconds.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        scans.calls = bus.callsSent() - before;
        scans.labels = static_cast<int>(reading.labels.size());
    }
    return scans;
}

void BM_ScanOfAChromiumPage(benchmark::State& state) {
    if (!A11yBusSwitch().enable()) {
        state.SkipWithError("no accessibility switch");
        return;
    }
    // A long chat: each answer a paragraph and two buttons, about four elements, in sections
    // of 25 (a container with thousands of direct children makes Chromium answer past the
    // call timeout).
    QTemporaryDir folder;
    QFile page(folder.filePath(QStringLiteral("chat.html")));
    page.open(QIODevice::WriteOnly);
    QByteArray html = "<!doctype html><html><body><main>";
    for (int i = 0; i < state.range(0) / 4; ++i)
        html += QByteArray(i % 25 == 0 ? (i > 0 ? "</section><section>" : "<section>") : "") +
                "<div><p>Answer " + QByteArray::number(i) +
                "</p><button>Copy</button><button aria-label='Retry'>R</button></div>";
    html += "</section>";
    page.write(html + "<textarea>Draft</textarea><button>Stop generating</button></main></body>"
                      "</html>");
    page.close();
    QProcess chromium;
    chromium.start(QStringLiteral("setsid"),
                   {QStringLiteral("chromium"), QStringLiteral("--no-sandbox"),
                    QStringLiteral("--disable-gpu"), QStringLiteral("--no-first-run"),
                    QStringLiteral("--force-renderer-accessibility"),
                    QStringLiteral("--disable-backgrounding-occluded-windows"),
                    QStringLiteral("--user-data-dir=") + folder.filePath(QStringLiteral("p")),
                    QUrl::fromLocalFile(page.fileName()).toString()});
    chromium.waitForStarted();
    // Ready once a reading fills the label budget with the page's controls.
    QElapsedTimer waited;
    waited.start();
    bool ready = false;
    AtspiBus bus;
    AtspiControls controls(bus);
    while (!ready && waited.elapsed() < 60000) {
        ready = controls.read(chromium.processId()).labels.size() == AtspiControls::Budget().labels;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
    }
    Scans searched;
    Scans walked;
    for (auto _ : state) {
        searched = scanRepeatedly(AtspiControls::Search::Batched, chromium.processId(), 20);
        walked = scanRepeatedly(AtspiControls::Search::Walk, chromium.processId(), 20);
    }
    ::kill(-static_cast<pid_t>(chromium.processId()), SIGKILL);
    chromium.waitForFinished(5000);
    if (!ready) {
        state.SkipWithError("Chromium's page never showed on the accessibility bus");
        return;
    }
    state.counters["search_p50_ms"] = percentile(searched.milliseconds, 50);
    state.counters["search_p99_ms"] = percentile(searched.milliseconds, 99);
    state.counters["search_calls"] = static_cast<double>(searched.calls);
    state.counters["search_labels"] = searched.labels;
    state.counters["walk_p50_ms"] = percentile(walked.milliseconds, 50);
    state.counters["walk_p99_ms"] = percentile(walked.milliseconds, 99);
    state.counters["walk_calls"] = static_cast<double>(walked.calls);
    state.counters["walk_labels"] = walked.labels;
}

} // namespace

BENCHMARK(BM_ScanOfAChromiumPage)->Arg(6000)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ScanOfALargeTree)->Arg(6000)->Iterations(20)->Unit(benchmark::kMillisecond);
