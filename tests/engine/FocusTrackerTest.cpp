#include "engine/FocusTracker.h"
#include "platform/fake/FakeWorkspace.h"

#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

constexpr qint64 kOwnPid = 1;

RunningApplication app(qint64 pid, const char* bundleID, bool regular = true) {
    return RunningApplication{QString::fromLatin1(bundleID), QStringLiteral("App %1").arg(pid), pid,
                              regular};
}

class FocusTrackerTest : public ::testing::Test {
protected:
    FakeWorkspace workspace;
    FocusTracker tracker{workspace, kOwnPid, [] { return TimePoint(std::chrono::seconds(42)); }};
    QSet<QString> readable = {u"com.example.Chat"_qs, u"com.example.Editor"_qs};
    QStringList events;

    FocusTrackerTest() {
        tracker.onEvent = [this](const FocusEvent& event) {
            events.append(FocusEvent::rawValue(event.kind) + u' ' + event.bundleID + u' ' +
                          event.windowTitle.value_or(u"-"_qs));
            EXPECT_EQ(event.occurredAt, TimePoint(std::chrono::seconds(42)));
        };
        tracker.mayReadTitle = [this](const QString& bundleID) {
            return readable.contains(bundleID);
        };
        workspace.launch(app(10, "com.example.Chat"));
        workspace.openWindow(10, 100, u"Claude"_qs);
        workspace.launch(app(20, "com.example.Editor"));
        workspace.openWindow(20, 200, u"main.cpp"_qs);
        workspace.launch(app(30, "com.example.Vault"));
        workspace.openWindow(30, 300, u"Passwords"_qs);
        tracker.start();
    }
};

} // namespace

TEST_F(FocusTrackerTest, ApplicationEventsCarryTitlesOnlyWhereAllowed) {
    workspace.activate(10);
    workspace.activate(30); // the policy refuses titles for the vault
    workspace.launch(app(40, "com.example.New"));
    workspace.terminate(40);
    EXPECT_EQ(events, (QStringList{u"focus_gained com.example.Chat Claude"_qs,
                                   u"focus_lost com.example.Chat -"_qs,
                                   u"focus_gained com.example.Vault -"_qs,
                                   u"app_launched com.example.New -"_qs,
                                   u"app_terminated com.example.New -"_qs}));
    // The chat is in the background now: its titles are not the front's.
    EXPECT_EQ(workspace.observerCount(10), 0);
    EXPECT_EQ(workspace.observerCount(30), 0);
    workspace.setWindowTitle(100, u"Claude — new chat"_qs);
    EXPECT_EQ(events.last(), u"app_terminated com.example.New -"_qs);
}

TEST_F(FocusTrackerTest, OnlyTheFrontApplicationsTitlesBecomeEvents) {
    workspace.activate(20);
    events.clear();
    // Tessarine's own window, then a window of no regular application, come to the front.
    workspace.launch(app(kOwnPid, "app.kestrune.Tessarine"));
    workspace.openWindow(kOwnPid, 10, u"Tessarine"_qs);
    workspace.activate(kOwnPid);
    workspace.setWindowTitle(200, u"main.cpp — edited"_qs);
    workspace.launch(app(50, "org.example.Panel", false));
    workspace.openWindow(50, 500, u"Panel"_qs);
    workspace.activate(50);
    workspace.setWindowTitle(200, u"main.cpp — edited again"_qs);
    EXPECT_EQ(events, QStringList{u"focus_lost com.example.Editor -"_qs});

    // Back to the editor: followed again.
    workspace.activate(20);
    workspace.setWindowTitle(200, u"main.cpp"_qs);
    EXPECT_EQ(events.last(), u"window_title_changed com.example.Editor main.cpp"_qs);
}

TEST_F(FocusTrackerTest, TitleChangesOfTheFrontApplicationAreReportedOnce) {
    workspace.activate(20);
    events.clear();
    workspace.setWindowTitle(200, u"main.cpp"_qs); // unchanged
    workspace.setWindowTitle(200, u"● main.cpp"_qs);
    workspace.setWindowTitle(200, u"● main.cpp"_qs);
    workspace.openWindow(20, 201, u"util.cpp"_qs); // a new window comes to front
    workspace.focusWindow(20, 200);                // back to the first window
    EXPECT_EQ(events, (QStringList{u"window_title_changed com.example.Editor ● main.cpp"_qs,
                                   u"window_title_changed com.example.Editor util.cpp"_qs,
                                   u"window_title_changed com.example.Editor ● main.cpp"_qs}));

    // A window of another application changing its title is no event.
    workspace.setWindowTitle(100, u"Claude 2"_qs);
    EXPECT_EQ(events.size(), 3);
}

TEST_F(FocusTrackerTest, OwnAgentAndUnidentifiedProcessesProduceNothing) {
    workspace.launch(app(kOwnPid, "app.kestrune.Tessarine"));
    workspace.activate(kOwnPid);
    workspace.launch(app(50, "com.example.Agent", false));
    workspace.activate(50);
    workspace.launch(RunningApplication{std::nullopt, u"Mystery"_qs, 60, true});
    workspace.activate(60);
    EXPECT_TRUE(events.isEmpty()) << events.join(u", ").toStdString();
}

TEST_F(FocusTrackerTest, WithoutWindowReadsApplicationEventsStillFlow) {
    workspace.setCanReadWindows(false);
    workspace.activate(10);
    EXPECT_EQ(events, QStringList{u"focus_gained com.example.Chat -"_qs});
    EXPECT_EQ(workspace.observerCount(10), 0);
}

TEST_F(FocusTrackerTest, StartingTwiceRegistersOnceAndStopSilencesEverything) {
    tracker.start();
    workspace.activate(10);
    EXPECT_EQ(events.size(), 1) << "one registration, one event";
    tracker.stop();
    EXPECT_FALSE(tracker.isStarted());
    EXPECT_EQ(workspace.observerCount(10), 0);
    workspace.setWindowTitle(100, u"Other"_qs);
    workspace.activate(20);
    workspace.terminate(30);
    EXPECT_EQ(events.size(), 1);

    // Started again, it waits for the next activation before following titles.
    tracker.start();
    workspace.setWindowTitle(200, u"ignored"_qs);
    workspace.activate(10);
    EXPECT_EQ(events.last(), u"focus_gained com.example.Chat Other"_qs);
}
