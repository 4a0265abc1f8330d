#include "detectors/TerminalDetector.h"
#include "detectors/DetectorFixture.h"
#include "platform/WorkspaceWindowAccessibility.h"
#include "platform/fake/FakeTerminalJobs.h"

namespace {

const QString kTerminal = u"com.apple.Terminal"_qs;

class TerminalDetectorTest : public DetectorFixture {
protected:
    WorkspaceWindowAccessibility accessibility{workspace};
    FakeTerminalJobs jobs;
    TerminalDetector* detector = nullptr;

    TerminalDetectorTest() {
        auto made = std::make_unique<TerminalDetector>(accessibility, workspace, &jobs,
                                                       [this] { return clock; });
        detector = made.get();
        registry.registerDetector(std::move(made));
        workspace.launch(RunningApplication{kTerminal, u"Terminal"_qs, 50, true});
        workspace.openWindow(50, 500, u"npm run build"_qs);
    }
    void focus(FocusEvent::Kind kind, std::optional<QString> title = std::nullopt,
               const QString& bundleID = kTerminal) {
        const FocusEvent event{kind, bundleID, {}, std::move(title), clock};
        shared->ingest(event);
        registry.dispatch(event, store->openContext(bundleID));
    }
    QString terminalLoop() { return loop(kTerminal, 0, u"npm run build"_qs); }
};

} // namespace

TEST(TerminalTitles, MacAndLinuxShapes) {
    for (const char* title :
         {"zsh", "-bash", "~", "/tmp — make", "Zsh", "~/src/app — -zsh", "/usr/local — bash",
          "host: ~ — tmux",
          // Linux: prompt titles and bare folders
          "me@box: ~/project", "me@box:~", "root@web-1: /var/log", "~/project", "/home/me/shop",
          "~ - make"}) // one piece (a hyphen, not an em dash) starting with ~
        EXPECT_TRUE(TerminalDetector::looksIdle(QString::fromUtf8(title))) << title;
    for (const char* title :
         {"make — 80×24", "", "vim — zsh config", "npm run build — 120×40", "bash - make",
          "vim notes.txt", "make build", "ssh me@box", "python3 train.py", "me@box", "Terminal"})
        EXPECT_FALSE(TerminalDetector::looksIdle(QString::fromUtf8(title))) << title;
    EXPECT_FALSE(TerminalDetector::looksBusy(QString()));
    EXPECT_TRUE(TerminalDetector::looksBusy(u"cargo build"_qs));
    EXPECT_FALSE(TerminalDetector::looksBusy(u"me@box: ~/project"_qs));
}

TEST_F(TerminalDetectorTest, LeavingABusyTerminalIsPendingAndItsPromptMakesItReady) {
    focus(FocusEvent::Kind::FocusGained, u"npm run build"_qs);
    focus(FocusEvent::Kind::FocusGained, u"npm run build"_qs);
    EXPECT_EQ(detector->observerCount(), 1) << "one observer per terminal process";
    EXPECT_EQ(workspace.observerCount(50), 1);

    const QString id = terminalLoop();
    // A title change while the loop is only backgrounded says nothing.
    workspace.setWindowTitle(500, u"me@box: ~/project"_qs);
    EXPECT_TRUE(signalsOf(id).isEmpty());

    workspace.setWindowTitle(500, u"npm run build"_qs);
    clock = at(30);
    focus(FocusEvent::Kind::FocusLost, u"npm run build"_qs);
    EXPECT_EQ(signalsOf(id), QStringList{u"terminal pending command_running @30"_qs});
    EXPECT_EQ(stored(id).first, u"waiting"_qs);

    clock = at(90);
    workspace.setWindowTitle(500, u"vim notes.txt"_qs); // still busy
    EXPECT_EQ(signalsOf(id).size(), 1);
    workspace.openWindow(50, 501, u"~/proj — -zsh"_qs); // another window at its prompt
    EXPECT_EQ(signalsOf(id).size(), 1) << "the window the user left is judged, not the newest";
    workspace.setWindowTitle(500, u"~/proj — -zsh"_qs);
    EXPECT_EQ(signalsOf(id).last(), u"terminal ready command_finished @90"_qs);
    EXPECT_EQ(stored(id).first, u"ready"_qs);
}

TEST_F(TerminalDetectorTest, ACommandHoldingTheForegroundIsBusyWhateverTheTitleSays) {
    // Debian's stock bashrc titles the window "user@host: dir" and leaves it while a command
    // runs: the terminal's foreground process group tells.
    const TerminalJobs::Shell atPrompt{600, 600, 600, std::nullopt};
    jobs.setShell(50, atPrompt);
    workspace.setWindowTitle(500, u"me@box: ~/project"_qs);
    focus(FocusEvent::Kind::FocusGained, u"me@box: ~/project"_qs);
    const QString id =
        store->createContext(kTerminal, std::nullopt, std::nullopt, false, std::nullopt, clock)
            .value();
    jobs.runInForeground(50, 700, u"make"_qs);
    clock = at(10);
    focus(FocusEvent::Kind::FocusLost);
    EXPECT_EQ(signalsOf(id), QStringList{u"terminal pending command_running @10"_qs});
    EXPECT_EQ(store->context(id)->label, u"make"_qs)
        << "the command's name, for a loop without one";
    EXPECT_EQ(jobs.liveWatches(), 1);

    // The title says nothing while the process rule decides.
    workspace.setWindowTitle(500, u"me@box: ~/project"_qs);
    workspace.setWindowTitle(500, u"me@box: ~/other"_qs);
    EXPECT_EQ(signalsOf(id).size(), 1);

    // Suspended with Ctrl-Z: the shell has the foreground back, but nothing finished.
    jobs.backToPrompt(50);
    jobs.setStopped(700, true);
    QCoreApplication::processEvents();
    EXPECT_EQ(signalsOf(id).size(), 1);
    // Resumed (fg) and done: the leader ends and the prompt is back.
    jobs.setStopped(700, false);
    jobs.runInForeground(50, 700, u"make"_qs);
    clock = at(40);
    jobs.backToPrompt(50);
    jobs.end(700);
    drain(50);
    EXPECT_EQ(signalsOf(id).last(), u"terminal ready command_finished @40"_qs);
    EXPECT_EQ(stored(id).first, u"ready"_qs);
    EXPECT_EQ(detector->jobWatchCount(), 0);
}

TEST_F(TerminalDetectorTest, PipelinesAreFollowedToTheirLastProcessAndEditorsAreNotCommands) {
    jobs.setShell(50, {600, 600, 600, std::nullopt});
    focus(FocusEvent::Kind::FocusGained, u"npm run build"_qs);
    const QString id = terminalLoop();
    jobs.runInForeground(50, 700, u"tar"_qs);
    focus(FocusEvent::Kind::FocusLost);
    ASSERT_EQ(stored(id).first, u"waiting"_qs);
    EXPECT_EQ(store->context(id)->label, u"npm run build"_qs) << "a label is never replaced";

    // The leader of "tar | gzip" ends first; gzip still holds the foreground.
    jobs.runInForeground(50, 701, u"gzip"_qs);
    jobs.end(700);
    drain(50);
    EXPECT_EQ(stored(id).first, u"waiting"_qs);
    jobs.backToPrompt(50);
    jobs.end(701);
    drain(50);
    EXPECT_EQ(stored(id).first, u"ready"_qs);

    // An editor waits for the user, not the other way round; its title decides.
    const QString editing = loop(kTerminal, 100, u"notes.txt"_qs);
    focus(FocusEvent::Kind::FocusGained, u"notes.txt"_qs);
    jobs.runInForeground(50, 800, u"vim"_qs);
    workspace.setWindowTitle(500, u"me@box: ~/project"_qs);
    focus(FocusEvent::Kind::FocusLost);
    EXPECT_TRUE(signalsOf(editing).isEmpty());
    EXPECT_EQ(jobs.liveWatches(), 0);
}

TEST_F(TerminalDetectorTest, EachWindowOfOneTerminalIsJudgedByItsOwnProcess) {
    // Two xterm windows: one application, each window shown by a process of its own.
    workspace.openWindow(50, 502, u"me@box: ~/b"_qs, 51);
    jobs.setShell(50, {600, 600, 600, std::nullopt});
    jobs.setShell(51, {610, 610, 710, u"cargo"_qs});
    focus(FocusEvent::Kind::FocusGained, u"me@box: ~/b"_qs);
    const QString id = loop(kTerminal, 0, u"me@box: ~/b"_qs);
    focus(FocusEvent::Kind::FocusLost);
    EXPECT_EQ(signalsOf(id), QStringList{u"terminal pending command_running @0"_qs})
        << "the left window's own shell runs cargo; the other one idles";
}

TEST_F(TerminalDetectorTest, WithoutWindowReadsTheLabelDecidesAndNothingIsObserved) {
    workspace.setCanReadWindows(false);
    focus(FocusEvent::Kind::FocusGained);
    EXPECT_EQ(detector->observerCount(), 0);
    focus(FocusEvent::Kind::FocusLost);
    EXPECT_EQ(count(u"SELECT count(*) FROM detector_state"_qs), 0) << "no loop: nothing";

    const QString id = loop(kTerminal, 0, u"make release"_qs);
    focus(FocusEvent::Kind::FocusLost);
    EXPECT_EQ(signalsOf(id), QStringList{u"terminal pending command_running @0"_qs})
        << "the loop's label shows a running command";
    EXPECT_EQ(detector->currentTitle(kTerminal), std::nullopt);
}

TEST_F(TerminalDetectorTest, QuittingDropsTheObserver) {
    focus(FocusEvent::Kind::FocusGained);
    ASSERT_EQ(detector->observerCount(), 1);
    workspace.terminate(50); // gone from the list before its termination is reported
    focus(FocusEvent::Kind::AppTerminated);
    EXPECT_EQ(detector->observerCount(), 0);
}

TEST(WorkspaceWindowAccessibility, WindowsTitlesMinimisingAndRaising) {
    FakeWorkspace workspace;
    WorkspaceWindowAccessibility accessibility(workspace);
    workspace.launch(RunningApplication{u"com.example.App"_qs, {}, 7, true});
    workspace.openWindow(7, 70, u"First"_qs);
    workspace.openWindow(7, 71, std::nullopt);
    workspace.setMinimized(70, true);
    const AXElement app = AXElement::application(7);

    EXPECT_EQ(accessibility.elements(app, u"AXWindows"_qs),
              (QList<AXElement>{AXElement::window(7, 70), AXElement::window(7, 71)}));
    EXPECT_EQ(accessibility.element(app, u"AXFocusedWindow"_qs), AXElement::window(7, 71));
    EXPECT_EQ(accessibility.text(AXElement::window(7, 70), u"AXTitle"_qs), u"First"_qs);
    EXPECT_EQ(accessibility.text(AXElement::window(7, 71), u"AXTitle"_qs), std::nullopt);
    EXPECT_EQ(accessibility.attribute(AXElement::window(7, 70), u"AXMinimized"_qs),
              std::optional<AXValue>(true));
    EXPECT_EQ(accessibility.attribute(AXElement::window(7, 99), u"AXTitle"_qs), std::nullopt);
    EXPECT_EQ(accessibility.attribute(app, u"AXTitle"_qs), std::nullopt);

    EXPECT_TRUE(accessibility.performAction(AXElement::window(7, 70), u"AXRaise"_qs));
    EXPECT_EQ(workspace.lastRaisedWindow(), 70u);
    EXPECT_FALSE(accessibility.performAction(AXElement::window(7, 70), u"AXPress"_qs));

    QStringList heard;
    auto observer = accessibility.createObserver(
        7, [&](const AXElement&, const QString& notification) { heard.append(notification); });
    ASSERT_TRUE(observer);
    EXPECT_FALSE(observer->addNotification(app, u"AXTitleChanged"_qs)) << "titles are on windows";
    EXPECT_TRUE(observer->addNotification(app, u"AXWindowCreated"_qs));
    workspace.openWindow(7, 72, u"Third"_qs);
    EXPECT_TRUE(observer->addNotification(AXElement::window(7, 72), u"AXTitleChanged"_qs));
    workspace.setWindowTitle(72, u"Renamed"_qs);
    EXPECT_EQ(heard, (QStringList{u"AXWindowCreated"_qs, u"AXTitleChanged"_qs}));
    observer.reset();
    workspace.setWindowTitle(72, u"Again"_qs);
    EXPECT_EQ(heard.size(), 2) << "silent once the observer is gone";

    workspace.setCanReadWindows(false);
    EXPECT_FALSE(accessibility.isProcessTrusted());
    EXPECT_TRUE(accessibility.elements(app, u"AXWindows"_qs).isEmpty());
    EXPECT_FALSE(accessibility.createObserver(7, {}));
}
