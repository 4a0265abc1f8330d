// Focus tracking on a real X server (run through scripts/test-env.sh): the latency from a
// window switch to the tracker's event, against the window manager's own announcement of
// the switch (the root window's _NET_ACTIVE_WINDOW changing, seen on a second connection)
// in the same run, and what the tracker costs while nothing happens.
#include "Percentile.h"
#include "engine/FocusTracker.h"
#include "platform/linux/X11Workspace.h"

#include "ProcessCost.h"
#include "TestApplication.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>
#include <xcb/xcb.h>

namespace {

// The reference: when the window manager announced a window as active, on a connection of
// its own (woken by the event loop like the tracker's).
class ActiveWindowWatch {
public:
    ActiveWindowWatch()
        : m_connection(xcb_connect(nullptr, nullptr)) {
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const char name[] = "_NET_ACTIVE_WINDOW";
        xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            m_connection, xcb_intern_atom(m_connection, 0, sizeof name - 1, name), nullptr);
        m_atom = atom ? atom->atom : xcb_atom_t{XCB_ATOM_NONE};
        free(atom);
        const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(m_connection, m_root, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(m_connection);
        m_notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(m_connection),
                                                       QSocketNotifier::Read);
        QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { drain(); });
    }
    ~ActiveWindowWatch() {
        m_notifier.reset();
        xcb_disconnect(m_connection);
    }
    // Forgets the last announcement and starts the clock of the next one.
    void expect(quint64 window, const QElapsedTimer& timer) {
        m_expected = window;
        m_timer = &timer;
        m_seenAt.reset();
    }
    std::optional<double> seenAt() const { return m_seenAt; }

private:
    void drain() {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection)) {
            if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == m_atom && m_timer &&
                !m_seenAt) {
                const double at = static_cast<double>(m_timer->nsecsElapsed()) / 1e6;
                if (activeWindow() == m_expected)
                    m_seenAt = at;
            }
            free(event);
        }
    }
    quint64 activeWindow() {
        xcb_get_property_reply_t* reply = xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, m_root, m_atom, XCB_ATOM_WINDOW, 0, 1),
            nullptr);
        quint64 window = 0;
        if (reply && xcb_get_property_value_length(reply) >= 4)
            window = *static_cast<const xcb_window_t*>(xcb_get_property_value(reply));
        free(reply);
        return window;
    }

    xcb_connection_t* m_connection;
    xcb_window_t m_root = 0;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint64 m_expected = 0;
    const QElapsedTimer* m_timer = nullptr;
    std::optional<double> m_seenAt;
};

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

    // Beta in front first, so every measured switch is a change.
    workspace.raiseWindow(beta.window);
    QElapsedTimer settling;
    settling.start();
    while (lastGained != QStringLiteral("BenchBeta") && settling.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);

    ActiveWindowWatch windowManager;
    std::vector<double> latencies;
    std::vector<double> reference;
    int missing = 0;
    int switches = 0;
    for (auto _ : state) {
        const bool toAlpha = switches++ % 2 == 0;
        const QString expected =
            toAlpha ? QStringLiteral("BenchAlpha") : QStringLiteral("BenchBeta");
        const quint64 window = toAlpha ? alpha.window : beta.window;
        lastGained.clear();
        QElapsedTimer timer;
        timer.start();
        windowManager.expect(window, timer);
        workspace.raiseWindow(window);
        while (lastGained != expected && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        if (lastGained != expected) {
            ++missing; // never seen: counted, not timed
            continue;
        }
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        if (const std::optional<double> announced = windowManager.seenAt())
            reference.push_back(*announced);
    }
    state.counters["median_ms"] = percentile(latencies, 50);
    state.counters["p99_ms"] = percentile(latencies, 99);
    state.counters["reference_median_ms"] = percentile(reference, 50);
    state.counters["reference_p99_ms"] = percentile(reference, 99);
    state.counters["missing"] = missing;

    // Idle: nothing changes on the desktop for two seconds.
    const double cpuBefore = processCpuSeconds();
    const long switchesBefore = voluntarySwitches();
    QTimer::singleShot(2000, QCoreApplication::instance(), [] { QCoreApplication::exit(); });
    QCoreApplication::exec();
    state.counters["idle_cpu_ms_per_2s"] = (processCpuSeconds() - cpuBefore) * 1000;
    state.counters["idle_wakeups_per_2s_all_threads"] =
        static_cast<double>(voluntarySwitches() - switchesBefore);
    tracker.stop();
}
BENCHMARK(BM_WindowSwitchToFocusEvent)
    ->Iterations(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
