#include "app/ReturnFlow.h"
#include "app/AppModel.h"
#include "detectors/BrowserDetector.h"
#include "engine/StateMachineFixture.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <QTimeZone>

namespace {

const QString kChromium = u"org.chromium.Chromium"_qs;
const QString kEditor = u"org.example.Editor"_qs;

class ReturnFlowTest : public StateMachineFixture {
protected:
    FakeWorkspace workspace;
    MemoryUserDefaults settings;
    bool tabFocuses = false;
    QStringList focusRequests;
    ReturnFlow flow{ReturnFlow::Dependencies{
        .workspace = workspace,
        .settings = settings,
        .store = [this] { return store.get(); },
        .stateMachine = [this] { return machine.get(); },
        .focusTab =
            [this](const QString& contextID, const QString& url) {
                focusRequests.append(contextID + u' ' + url);
                return tabFocuses;
            },
        .isBrowser =
            [](const QString& id) { return BrowserDetector::browserBundleIDs().contains(id); },
        .downloadsFolder = [] { return u"/home/me/Downloads"_qs; },
        .now = [this] { return clock; },
    }};

    ContextRecord loopOf(const QString& bundleID, const QString& label,
                         ContextState state = ContextState::Backgrounded) {
        const QString id = loop(bundleID, 0, label);
        if (state != ContextState::Backgrounded)
            store->transitionContext(id, state, u"test"_qs, clock);
        return *store->context(id);
    }
    void suggest(const QString& id, QList<ReturnActionSuggestion> suggestions) {
        store->upsertReturnActions(id, suggestions, u"detector:test"_qs, clock);
    }
    QList<bool> validity(const QString& id) {
        QList<bool> flags;
        for (const ReturnActionRecord& action : store->returnActions(id))
            flags.append(action.isValid);
        return flags;
    }
};

} // namespace

TEST_F(ReturnFlowTest, AFinishedDownloadOpensTheFolderAndIsDone) {
    const ContextRecord download =
        loopOf(u"app.kestrune.downloads"_qs, u"report.pdf"_qs, ContextState::Ready);
    EXPECT_TRUE(flow.open(download));
    EXPECT_EQ(workspace.desktopRequests, QStringList{u"open_file /home/me/Downloads"_qs});
    EXPECT_TRUE(store->context(download.id)->dismissedAt.has_value());
}

TEST_F(ReturnFlowTest, ABrowserLoopGoesToItsTabElseItsAddressInThatSameBrowser) {
    workspace.installed.insert(kChromium);
    const ContextRecord chat = loopOf(kChromium, u"ChatGPT - Trip"_qs);
    suggest(chat.id, {{ReturnActionKind::OpenURL, u"https://chatgpt.com/c/1"_qs, u"Open tab"_qs}});

    tabFocuses = true;
    EXPECT_TRUE(flow.open(chat));
    EXPECT_EQ(focusRequests, QStringList{chat.id + u" https://chatgpt.com/c/1"_qs});
    EXPECT_TRUE(workspace.desktopRequests.isEmpty()) << "the tab is still there";

    tabFocuses = false; // the tab was closed, its host is gone
    EXPECT_TRUE(flow.open(chat));
    EXPECT_EQ(workspace.desktopRequests,
              QStringList{u"launch org.chromium.Chromium https://chatgpt.com/c/1"_qs})
        << "in that browser, not the default handler";

    workspace.installed.clear(); // not installed any more: the stored action, by default
    workspace.desktopRequests.clear();
    EXPECT_TRUE(flow.open(chat));
    EXPECT_EQ(workspace.desktopRequests, QStringList{u"open_url https://chatgpt.com/c/1"_qs});
}

TEST_F(ReturnFlowTest, FailingActionsAreMarkedInvalidAndTheWindowIsStillRaised) {
    workspace.launch(RunningApplication{kEditor, {}, 30, true});
    workspace.openWindow(30, 300, u"notes.md"_qs);
    workspace.openWindow(30, 301, u"other.md"_qs);
    const ContextRecord notes = loopOf(kEditor, u"notes.md"_qs);
    workspace.refused.insert(u"https://gone.example/"_qs);
    suggest(notes.id, {{ReturnActionKind::OpenFile, u"/nonexistent/notes.md"_qs, std::nullopt},
                       {ReturnActionKind::OpenURL, u"https://gone.example/"_qs, std::nullopt}});
    EXPECT_TRUE(flow.open(notes));
    EXPECT_EQ(validity(notes.id), (QList<bool>{false, false}));
    EXPECT_EQ(workspace.lastRaisedWindow(), 300u) << "the loop's own window";
}

TEST_F(ReturnFlowTest, ACommandGoesOnTheClipboardNeverRunsAndTheWindowComesBack) {
    workspace.launch(RunningApplication{kEditor, {}, 30, true});
    workspace.openWindow(30, 300, u"build"_qs);
    const ContextRecord build = loopOf(kEditor, u"build"_qs);
    suggest(build.id, {{ReturnActionKind::RunCommand, u"rm -rf /tmp/x"_qs, std::nullopt}});
    EXPECT_TRUE(flow.open(build));
    EXPECT_EQ(workspace.clipboard, u"rm -rf /tmp/x"_qs);
    EXPECT_EQ(workspace.desktopRequests, QStringList{u"copy rm -rf /tmp/x"_qs});
    EXPECT_EQ(workspace.lastRaisedWindow(), 300u);

    workspace.hasClipboard = false; // no clipboard (no display): the action fails, not the way back
    EXPECT_TRUE(flow.open(build));
    EXPECT_EQ(validity(build.id), QList<bool>{false});
}

TEST_F(ReturnFlowTest, AnApplicationNotRunningIsLaunchedAndNothingInstalledIsAFailure) {
    const ContextRecord notes = loopOf(kEditor, u"notes.md"_qs);
    EXPECT_FALSE(flow.open(notes));
    workspace.installed.insert(kEditor);
    EXPECT_TRUE(flow.open(notes));
    EXPECT_EQ(workspace.desktopRequests, QStringList{u"launch org.example.Editor"_qs});
}

TEST_F(ReturnFlowTest, SessionsGoBackToTheirTerminalWindowAndAReadyOneIsDone) {
    workspace.launch(RunningApplication{u"org.gnome.Terminal"_qs, {}, 40, true});
    workspace.openWindow(40, 400, u"shop — codex"_qs);
    const QString codexID = store
                                ->createContext(u"com.openai.codex"_qs, u"shop"_qs,
                                                u"/logs/a.jsonl"_qs, true, u"codex"_qs, clock)
                                .value();
    store->transitionContext(codexID, ContextState::Ready, u"test"_qs, clock);
    EXPECT_TRUE(flow.open(*store->context(codexID)));
    EXPECT_EQ(workspace.lastRaisedWindow(), 400u) << "the agent runs in a terminal";
    EXPECT_TRUE(store->context(codexID)->dismissedAt.has_value());

    const QString hostedID =
        store
            ->createContext(u"com.anthropic.claudefordesktop"_qs, std::nullopt, u"/logs/b.jsonl"_qs,
                            true, u"claude_code"_qs, clock)
            .value();
    EXPECT_FALSE(flow.open(*store->context(hostedID))) << "no label: no window to match";
    EXPECT_FALSE(store->context(hostedID)->dismissedAt.has_value());
}

TEST(SnoozeUntilTomorrowTest, NineHoursAfterTomorrowsStartAndNeverLessThanAMinute) {
    const QTimeZone berlin("Europe/Berlin");
    ASSERT_TRUE(berlin.isValid());
    const auto at = [&](int y, int m, int d, int h, int min, int s) {
        return QDateTime(QDate(y, m, d), QTime(h, min, s), berlin);
    };
    EXPECT_EQ(AppModel::secondsUntilTomorrowMorning(at(2026, 12, 7, 23, 59, 30)), 9 * 3600 + 30);
    EXPECT_EQ(AppModel::secondsUntilTomorrowMorning(at(2026, 12, 7, 8, 0, 0)), 25 * 3600);
    // The night the clocks go forward (29 March 2026, 02:00 → 03:00): a shorter night.
    EXPECT_EQ(AppModel::secondsUntilTomorrowMorning(at(2026, 3, 28, 23, 0, 0)), 10 * 3600);
    // And back (25 October 2026, 03:00 → 02:00): a longer one.
    EXPECT_EQ(AppModel::secondsUntilTomorrowMorning(at(2026, 10, 24, 23, 0, 0)), 10 * 3600);
    for (const QDateTime& now : {at(2026, 3, 29, 1, 59, 59), at(2026, 10, 25, 2, 30, 0)})
        EXPECT_GE(AppModel::secondsUntilTomorrowMorning(now), 60);
}
