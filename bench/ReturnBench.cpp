// Going back to a loop on a real X server (run through scripts/test-env.sh): the return flow's
// `open` of a loop until its window is the active one, against the X server's own
// _NET_ACTIVE_WINDOW round trip (a request and its PropertyNotify) in the same run.
#include "app/ReturnFlow.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/X11Workspace.h"

#include "TestApplication.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <poll.h>
#include <vector>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace {

void report(benchmark::State& state, std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
}

void BM_OpenLoopUntilItsWindowIsActive(benchmark::State& state) {
    X11Workspace workspace(QCoreApplication::applicationPid());
    MemoryUserDefaults settings;
    ReturnFlow flow({.workspace = workspace,
                     .settings = settings,
                     .store = [] { return nullptr; },
                     .stateMachine = [] { return nullptr; },
                     .focusTab = {},
                     .isBrowser = {},
                     .downloadsFolder = [] { return QString(); },
                     .now = [] { return std::chrono::system_clock::now(); }});
    TestApplication alpha(QStringLiteral("BenchAlpha"));
    TestApplication beta(QStringLiteral("BenchBeta"));
    const auto front = [&] {
        const auto application = workspace.frontmostApplication();
        return application ? application->bundleID.value_or(QString()) : QString();
    };
    QElapsedTimer ready;
    ready.start();
    while ((!workspace.application(u"BenchAlpha"_qs) || !workspace.application(u"BenchBeta"_qs)) &&
           ready.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    std::vector<double> latencies;
    int opens = 0;
    for (auto _ : state) {
        const QString target = opens++ % 2 == 0 ? u"BenchAlpha"_qs : u"BenchBeta"_qs;
        ContextRecord loop;
        loop.id = QStringLiteral("L%1").arg(opens);
        loop.bundleID = target;
        loop.label = target + u" window"_qs;
        QElapsedTimer timer;
        timer.start();
        flow.open(loop);
        while (front() != target && timer.elapsed() < 2000)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    report(state, std::move(latencies));
}
BENCHMARK(BM_OpenLoopUntilItsWindowIsActive)
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Reference: the same switches asked of the window manager directly, timed to the
// PropertyNotify of _NET_ACTIVE_WINDOW.
void BM_ReferenceActiveWindowRoundTrip(benchmark::State& state) {
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    xcb_ewmh_connection_t ewmh{};
    xcb_ewmh_init_atoms_replies(&ewmh, xcb_ewmh_init_atoms(connection, &ewmh), nullptr);
    const xcb_window_t root = ewmh.screens[0]->root;
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection, root, XCB_CW_EVENT_MASK, &mask);
    TestApplication alpha(QStringLiteral("BenchRefAlpha"));
    TestApplication beta(QStringLiteral("BenchRefBeta"));
    xcb_flush(connection);
    const auto active = [&] {
        xcb_window_t window = XCB_WINDOW_NONE;
        xcb_ewmh_get_active_window_reply(&ewmh, xcb_ewmh_get_active_window(&ewmh, 0), &window,
                                         nullptr);
        return window;
    };
    std::vector<double> latencies;
    int switches = 0;
    for (auto _ : state) {
        const auto target =
            static_cast<xcb_window_t>(switches++ % 2 == 0 ? alpha.window : beta.window);
        QElapsedTimer timer;
        timer.start();
        xcb_ewmh_request_change_active_window(&ewmh, 0, target, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                              XCB_CURRENT_TIME, XCB_WINDOW_NONE);
        xcb_flush(connection);
        // Polled, not waited on: a request for the window already in front changes nothing.
        bool done = false;
        while (!done && timer.elapsed() < 2000) {
            xcb_generic_event_t* event = xcb_poll_for_event(connection);
            if (!event) {
                pollfd socket{xcb_get_file_descriptor(connection), POLLIN, 0};
                ::poll(&socket, 1, 1);
                done = active() == target;
                continue;
            }
            const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
            done = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                   property->atom == ewmh._NET_ACTIVE_WINDOW && active() == target;
            std::free(event);
        }
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    report(state, std::move(latencies));
    xcb_ewmh_connection_wipe(&ewmh);
    xcb_disconnect(connection);
}
BENCHMARK(BM_ReferenceActiveWindowRoundTrip)
    ->Iterations(100)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace
