// The dropdown and the island on a real X server (run through scripts/test-env.sh): from the
// shortcut being typed (xdotool key) to the dropdown's first frame on screen, with 10 and 1,000
// open loops, through the real shell (shortcut grab, model refresh, placement, mapping, drawing).
// The reference is the same xdotool call for a key nobody grabs, timed to its arrival at an X
// client: what the shortcut costs before Tessarine sees it.
#include "app/AppModel.h"
#include "app/SampleLoops.h"
#include "app/UserCommands.h"
#include "platform/SessionMonitor.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/X11GlobalHotkey.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "store/KeyProviders.h"
#include "ui/DropdownWindow.h"
#include "ui/IslandWindow.h"
#include "ui/MenuBarView.h"
#include "ui/Shell.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QQuickView>
#include <QTemporaryDir>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <memory>
#include <vector>

namespace {

void report(benchmark::State& state, std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    state.counters["p50_ms"] = latencies[latencies.size() / 2];
    state.counters["p99_ms"] = latencies[latencies.size() * 99 / 100];
}

template <typename Predicate> bool until(Predicate done, int milliseconds = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}

// Types keys; the caller waits for the typing to end before typing again (two xdotool runs
// that overlap mix their modifier presses and releases).
std::unique_ptr<QProcess> type(const char* keys) {
    auto xdotool = std::make_unique<QProcess>();
    xdotool->start(QStringLiteral("xdotool"), {QStringLiteral("key"), QLatin1String(keys)});
    return xdotool;
}

// A terminal in front, as when the user presses the shortcut: the dropdown takes the focus
// from it and gives it back.
class FrontWindow {
public:
    FrontWindow() {
        m_terminal.start(QStringLiteral("xterm"), {QStringLiteral("-T"), QStringLiteral("front")});
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("search"), QStringLiteral("--sync"),
                           QStringLiteral("--name"), QStringLiteral("^front$"),
                           QStringLiteral("windowactivate"), QStringLiteral("--sync")});
    }
    ~FrontWindow() {
        m_terminal.kill();
        m_terminal.waitForFinished();
    }

private:
    QProcess m_terminal;
};

// The real shell over a read-only model of `loops` (no launch peek), with `hotkey` grabbing
// the shortcut when given.
class BenchShell {
public:
    BenchShell(const QList<SampleLoops::Loop>& loops, GlobalHotkey* hotkey)
        : m_loginItem(m_folder.filePath(u"tessarine"_qs)) {
        m_settings.setString(u"settings.notchHUD.peekedBuild"_qs, u"bench"_qs);
        m_model = std::make_unique<AppModel>(AppModelDependencies{
            .workspace = m_workspace,
            .settings = m_settings,
            .sessionMonitor = m_sessionMonitor,
            .loginItem = m_loginItem,
            .openStore =
                [this, loops] {
                    EphemeralKeyProvider key(EphemeralKeyProvider::developmentKey());
                    auto store =
                        std::make_unique<ContextStore>(m_folder.filePath(u"kestrune.db"_qs), key);
                    for (const SampleLoops::Loop& loop : loops)
                        SampleLoops::add(*store, loop);
                    return store;
                },
            .defaultExclusionsPath = std::nullopt,
            .makeDetectors = {},
            .prepareBrowserExtension = {},
            .makeDownloadsDetector = {},
            .activeTabReader = {},
            .isBrowser = {},
            .ownPid = QCoreApplication::applicationPid(),
            .now = now,
            .timer = nullptr,
            .accessibilitySwitch = nullptr,
            .capture = false,
        });
        m_commands = std::make_unique<UserCommands>(*m_model, now);
        m_shell = std::make_unique<Shell>(Shell::Dependencies{.model = *m_model,
                                                              .commands = *m_commands,
                                                              .settings = m_settings,
                                                              .hotkey = hotkey,
                                                              .iconName = {},
                                                              .now = now,
                                                              .installedApplications = {},
                                                              .build = u"bench"_qs});
    }
    Shell& shell() { return *m_shell; }

    static TimePoint now() { return std::chrono::system_clock::now(); }
    // A loop of `state` with a note (so it is a row of its own), `minutesAgo`.
    static SampleLoops::Loop loop(const QString& application, const QString& title,
                                  ContextState state, int minutesAgo) {
        SampleLoops::Loop made;
        made.bundleID = u"org.example."_qs + QString(application).remove(u' ');
        made.name = application;
        made.title = title;
        made.state = state;
        made.at = now() - std::chrono::minutes(minutesAgo);
        made.note = u"note: "_qs + title;
        return made;
    }

private:
    QTemporaryDir m_folder;
    FakeWorkspace m_workspace;
    MemoryUserDefaults m_settings;
    SessionMonitor m_sessionMonitor;
    XdgAutostartLoginItem m_loginItem;
    std::unique_ptr<AppModel> m_model;
    std::unique_ptr<UserCommands> m_commands;
    std::unique_ptr<Shell> m_shell;
};

void BM_ShortcutToDropdownDrawn(benchmark::State& state) {
    const FrontWindow front;
    QList<SampleLoops::Loop> loops;
    for (int i = 0; i < state.range(0); ++i)
        loops.append(BenchShell::loop(
            QStringLiteral("App %1").arg(i % 40), QStringLiteral("Document %1").arg(i),
            i % 3 == 0 ? ContextState::Ready : ContextState::Backgrounded, i));
    X11GlobalHotkey hotkey;
    BenchShell bench(loops, &hotkey);
    Shell& shell = bench.shell();
    QQuickView& window = shell.dropdown().window();
    int frames = 0;
    QObject::connect(&window, &QQuickWindow::frameSwapped, [&] { ++frames; });

    std::vector<double> latencies;
    for (auto _ : state) {
        const int before = frames;
        QElapsedTimer timer;
        timer.start();
        const auto typing = type("alt+super+l");
        if (!until([&] { return window.isExposed() && frames > before; }))
            state.SkipWithError("the dropdown did not appear");
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        typing->waitForFinished();
        shell.dropdown().close();
        until([&] { return !window.isVisible(); });
    }
    state.counters["rows"] = shell.menu().rows()->rowCount();
    report(state, std::move(latencies));
}
BENCHMARK(BM_ShortcutToDropdownDrawn)
    ->Arg(10)
    ->Arg(1000)
    ->Iterations(60)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The island with 3 working loops: xdotool moving the pointer onto the pill, to the first
// frame drawn taller than the pill (the drop-down's animation then runs for 0.22 s).
void BM_HoverToIslandExpanded(benchmark::State& state) {
    QList<SampleLoops::Loop> loops;
    for (int i = 0; i < 3; ++i)
        loops.append(BenchShell::loop(QStringLiteral("Job %1").arg(i),
                                      QStringLiteral("release build %1").arg(i),
                                      ContextState::Waiting, i));
    BenchShell bench(loops, nullptr);
    Shell& shell = bench.shell();
    QQuickView& island = shell.islandWindow().window();
    if (!until([&] { return island.isExposed(); }))
        state.SkipWithError("the island did not appear");
    int frames = 0;
    QObject::connect(&island, &QQuickWindow::frameSwapped, [&] { ++frames; });
    const QPoint centre = island.geometry().center();
    std::vector<double> latencies;
    for (auto _ : state) {
        const int before = frames;
        QElapsedTimer timer;
        timer.start();
        QProcess::execute(QStringLiteral("xdotool"),
                          {QStringLiteral("mousemove"), QString::number(centre.x()),
                           QString::number(centre.y())});
        if (!until([&] { return island.height() > 28 && frames > before; }))
            state.SkipWithError("the island did not drop down");
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        QProcess::execute(
            QStringLiteral("xdotool"),
            {QStringLiteral("mousemove"), QStringLiteral("300"), QStringLiteral("600")});
        until([&] { return island.height() == 28; });
    }
    report(state, std::move(latencies));
}
BENCHMARK(BM_HoverToIslandExpanded)->Iterations(30)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReferenceKeyArrival(benchmark::State& state) {
    X11GlobalHotkey hotkey;
    int presses = 0;
    hotkey.grab(40, 0x900, [&] { ++presses; }); // Alt+Super+K: the shortcut's modifiers
    std::vector<double> latencies;
    for (auto _ : state) {
        const int before = presses;
        QElapsedTimer timer;
        timer.start();
        const auto typing = type("alt+super+k");
        until([&] { return presses > before; });
        latencies.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        typing->waitForFinished();
    }
    report(state, std::move(latencies));
}
BENCHMARK(BM_ReferenceKeyArrival)->Iterations(60)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
