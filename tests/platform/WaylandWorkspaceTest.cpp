// Runs inside scripts/test-env.sh: headless Wayland compositors with native Wayland and
// XWayland clients; the compositor switches focus.
#include "EngineHarness.h"
#include "HeadlessCompositor.h"
#include "LogCapture.h"
#include "RecordingTracker.h"
#include "platform/linux/GnomeShellWorkspace.h"
#include "platform/linux/KWinWorkspace.h"
#include "platform/linux/WlrootsWorkspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QJsonArray>
#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

// One scenario for every compositor: a native Wayland application with two windows and an
// XWayland one; `focus` gives a window the focus as a user's click would, `makeWorkspace`
// makes the backend under test once the windows are there.
template <typename Compositor, typename MakeWorkspace>
void switchWindowsIn(Compositor& compositor, MakeWorkspace makeWorkspace,
                     bool namesNativeProcesses) {
    const QProcessEnvironment clients = compositor.clientEnvironment();
    const ScopedEnvironment session{{"WAYLAND_DISPLAY", compositor.socket()},
                                    {"DISPLAY", compositor.xDisplay()}};

    WaylandWindows notes(clients, u"org.example.Notes"_qs, {u"Shopping"_qs, u"Recipes"_qs});
    ASSERT_TRUE(notes.shown);
    QProcess legacy; // an X client under XWayland
    legacy.setProcessEnvironment(clients);
    legacy.start(QStringLiteral(TESSARINE_TEST_WINDOW), {u"OldTool"_qs, u"Report"_qs});
    ASSERT_TRUE(legacy.waitForReadyRead(10000));
    legacy.readAll();

    const auto made = makeWorkspace();
    ToplevelWorkspace& workspace = *made;
    // Both applications are there from the start: one identity each, whatever the windows.
    ASSERT_TRUE(waitFor([&] { return workspace.runningApplications().size() == 2; }));
    const std::optional<RunningApplication> tool = workspace.application(u"OldTool"_qs);
    ASSERT_TRUE(tool);
    EXPECT_EQ(tool->processes, QList<qint64>{legacy.processId()})
        << "an XWayland window's process comes from the X server";
    const std::optional<RunningApplication> notesApp =
        workspace.application(u"org.example.Notes"_qs);
    ASSERT_TRUE(notesApp);
    EXPECT_TRUE(waitFor([&] { return workspace.windows(notesApp->pid).size() == 2; }));
    EXPECT_EQ(notesApp->processes.isEmpty(), !namesNativeProcesses);

    RecordingTracker recording(workspace);
    QStringList& events = recording.events;
    // The compositor reports every change; each switch is still given time to be seen, as a
    // person's switches are.
    const auto focus = [&](const QString& title, const QString& expectedLast) {
        EXPECT_TRUE(compositor.focus(title));
        return waitFor([&] { return events.value(events.size() - 1) == expectedLast; });
    };
    // The compositor focuses new windows by itself, some time after they are shown (GNOME
    // once did so after 0.3 s of quiet): start from Shopping in front with nothing reported
    // for 0.7 s.
    const auto shoppingInFront = [&] {
        return workspace.frontmostApplication() &&
               workspace.frontmostApplication()->bundleID == u"org.example.Notes"_qs &&
               workspace.focusedWindowTitle(notesApp->pid) == u"Shopping"_qs;
    };
    for (int attempt = 0; attempt < 8; ++attempt) {
        EXPECT_TRUE(compositor.focus(u"Shopping"_qs));
        if (waitFor(shoppingInFront, 2000)) {
            events.clear();
            runEventLoopFor(700);
            if (events.isEmpty() && shoppingInFront())
                break;
        }
    }
    ASSERT_TRUE(shoppingInFront());
    events.clear();
    ASSERT_TRUE(focus(u"Report"_qs, u"focus_gained OldTool Report"_qs))
        << events.join(u" | ").toStdString();
    // Another window of the same application is a window switch inside it.
    ASSERT_TRUE(focus(u"Shopping"_qs, u"focus_gained org.example.Notes Shopping"_qs));
    ASSERT_TRUE(focus(u"Recipes"_qs, u"window_title_changed org.example.Notes Recipes"_qs))
        << events.join(u" | ").toStdString();
    notes.send(u"title 1 Recipes for Sunday"_qs); // the front window retitling itself
    ASSERT_TRUE(waitFor([&] { return events.size() == 6; }));
    runEventLoopFor(200); // anything extra would arrive within a few milliseconds
    EXPECT_EQ(events, (QStringList{
                          u"focus_lost org.example.Notes -"_qs, u"focus_gained OldTool Report"_qs,
                          u"focus_lost OldTool -"_qs, u"focus_gained org.example.Notes Shopping"_qs,
                          u"window_title_changed org.example.Notes Recipes"_qs,
                          u"window_title_changed org.example.Notes Recipes for Sunday"_qs}));
    events.clear();

    // Raising a window of the application in the background brings it to the front.
    const std::optional<quint64> report = workspace.focusedWindowID(tool->pid);
    ASSERT_TRUE(report);
    ASSERT_TRUE(workspace.raiseWindow(*report));
    EXPECT_TRUE(waitFor(
        [&] { return events.value(events.size() - 1) == u"focus_gained OldTool Report"_qs; }));

    // The last window of an application gone: it has ended.
    legacy.closeWriteChannel();
    legacy.waitForFinished(5000);
    EXPECT_TRUE(waitFor([&] { return !workspace.application(u"OldTool"_qs); }));
    notes.send(u"close 0"_qs);
    runEventLoopFor(200);
    EXPECT_TRUE(workspace.application(u"org.example.Notes"_qs)) << "one of its windows is left";
}

} // namespace

TEST(WaylandWorkspaceTest, SwayWindowSwitchesNativeAndXWaylandBecomeTheFocusEventsOfX11) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessSway sway;
    if (!sway.isRunning())
        GTEST_SKIP() << sway.skipReason;
    switchWindowsIn(
        sway,
        [] {
            auto workspace = std::make_unique<WlrootsWorkspace>(QCoreApplication::applicationPid());
            EXPECT_TRUE(workspace->isConnected());
            return workspace;
        },
        false); // the protocol names no process
}

TEST(WaylandWorkspaceTest, KWinWindowSwitchesNativeAndXWaylandBecomeTheFocusEventsOfX11) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessKWin kwin;
    if (!kwin.isRunning())
        GTEST_SKIP() << kwin.skipReason;
    switchWindowsIn(
        kwin,
        [] {
            auto workspace = std::make_unique<KWinWorkspace>(QCoreApplication::applicationPid());
            EXPECT_TRUE(workspace->isConnected());
            EXPECT_TRUE(waitFor([&] { return workspace->isReady(); }));
            return workspace;
        },
        true);
}

TEST(WaylandWorkspaceTest, GnomeShellWindowSwitchesThroughOurExtensionBecomeTheFocusEventsOfX11) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    {
        GnomeShellWorkspace without(QCoreApplication::applicationPid());
        EXPECT_FALSE(without.hasExtension()) << "no Shell yet";
    }
    HeadlessGnomeShell shell(
        QStringLiteral(TESSARINE_GNOME_EXTENSION "/legacy/tessarine@kestrune.app"));
    if (!shell.isRunning())
        GTEST_SKIP() << shell.skipReason;
    switchWindowsIn(
        shell,
        [] {
            auto workspace =
                std::make_unique<GnomeShellWorkspace>(QCoreApplication::applicationPid());
            EXPECT_TRUE(workspace->hasExtension());
            return workspace;
        },
        true);
}

TEST(WaylandWorkspaceTest, ACompositorWithoutAWindowListOrGoneIsReportedNotFollowed) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    {
        const ScopedEnvironment nothing{{"WAYLAND_DISPLAY", u"/nonexistent/wayland-9"_qs}};
        WlrootsWorkspace workspace(QCoreApplication::applicationPid());
        EXPECT_FALSE(workspace.isConnected());
        EXPECT_FALSE(workspace.canReadWindows());
    }
    auto sway = std::make_unique<HeadlessSway>();
    if (!sway->isRunning())
        GTEST_SKIP() << sway->skipReason;
    const ScopedEnvironment session{{"WAYLAND_DISPLAY", sway->socket()},
                                    {"DISPLAY", sway->xDisplay()}};
    WlrootsWorkspace workspace(QCoreApplication::applicationPid());
    ASSERT_TRUE(workspace.isFollowing());
    LogCapture log;
    sway.reset();
    EXPECT_TRUE(waitFor([&] { return !workspace.isFollowing(); }));
    runEventLoopFor(100);
    EXPECT_EQ(log.count(u"no longer followed"_qs), 1);
}

namespace {

// The real engine in a compositor's session: switches between a native Wayland window and an
// XWayland one become loops, and `tessarine open` brings a window back.
template <typename Compositor> void engineIn(Compositor& compositor) {
    const QProcessEnvironment clients = compositor.clientEnvironment();
    WaylandWindows notes(clients, u"org.example.Notes"_qs, {u"Shopping"_qs});
    ASSERT_TRUE(notes.shown);
    QProcess legacy;
    legacy.setProcessEnvironment(clients);
    legacy.start(QStringLiteral(TESSARINE_TEST_WINDOW), {u"OldTool"_qs, u"Report"_qs});
    ASSERT_TRUE(legacy.waitForReadyRead(10000));

    QTemporaryDir home;
    QList<QPair<QString, QString>> session;
    for (const char* name :
         {"WAYLAND_DISPLAY", "DISPLAY", "XAUTHORITY", "XDG_SESSION_TYPE", "XDG_CURRENT_DESKTOP"})
        session.append({QLatin1String(name), clients.value(QLatin1String(name))});
    EngineHarness::Engine engine(home, EngineHarness::kLoopsAtOnce, session);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    // The engine logs switches, not what was in front when it started; and a compositor may
    // still focus a newly shown window by itself. So when a switch is not seen, the other
    // window is focused first and the switch asked again.
    const auto switchTo = [&](const QString& title, const QString& bundleID) {
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (attempt > 0)
                compositor.focus(title == u"Report" ? u"Shopping"_qs : u"Report"_qs);
            compositor.focus(title);
            if (engine.waitUntil([&] { return engine.frontInLog() == bundleID; }, 3000))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(switchTo(u"Report"_qs, u"OldTool"_qs)) << engine.log();
    ASSERT_TRUE(switchTo(u"Shopping"_qs, u"org.example.Notes"_qs)) << engine.log();
    ASSERT_TRUE(switchTo(u"Report"_qs, u"OldTool"_qs)) << engine.log();
    ASSERT_TRUE(switchTo(u"Shopping"_qs, u"org.example.Notes"_qs)) << engine.log();

    QByteArray said;
    QString reportID;
    const QProcessEnvironment environment = engine.environment();
    ASSERT_TRUE(waitFor([&] {
        EngineHarness::runClient(environment, {u"loops"_qs, u"--json"_qs}, &said);
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array()) {
            if (loop[u"bundleID"_qs] == u"OldTool"_qs && loop[u"label"_qs] == u"Report"_qs)
                reportID = loop[u"id"_qs].toString();
        }
        return !reportID.isEmpty();
    })) << said.toStdString();
    EXPECT_EQ(EngineHarness::runClient(environment, {u"open"_qs, reportID}, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(engine.waitUntil([&] { return engine.frontInLog() == u"OldTool"_qs; }))
        << "the compositor raised the window: " << engine.log();
    EXPECT_TRUE(engine.stop()) << engine.log();
    EXPECT_TRUE(engine.loops().contains(u"org.example.Notes Shopping | backgrounded | OldTool"_qs))
        << engine.loops().join(u'\n').toStdString();
    legacy.closeWriteChannel();
    legacy.waitForFinished(5000);
}

} // namespace

TEST(WaylandWorkspaceTest, TheEngineInSwayMakesLoopsAndTakesTheUserBack) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessSway sway;
    if (!sway.isRunning())
        GTEST_SKIP() << sway.skipReason;
    engineIn(sway);
}

TEST(WaylandWorkspaceTest, TheEngineInKWinMakesLoopsAndTakesTheUserBack) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessKWin kwin;
    if (!kwin.isRunning())
        GTEST_SKIP() << kwin.skipReason;
    engineIn(kwin);
}

TEST(WaylandWorkspaceTest, TheEngineInGnomeShellMakesLoopsAndTakesTheUserBack) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessGnomeShell shell(
        QStringLiteral(TESSARINE_GNOME_EXTENSION "/legacy/tessarine@kestrune.app"));
    if (!shell.isRunning())
        GTEST_SKIP() << shell.skipReason;
    engineIn(shell);
}

TEST(WaylandWorkspaceTest, KWinReportsAreTakenOnlyFromKWin) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    HeadlessKWin kwin;
    if (!kwin.isRunning())
        GTEST_SKIP() << kwin.skipReason;
    KWinWorkspace workspace(QCoreApplication::applicationPid());
    ASSERT_TRUE(waitFor([&] { return workspace.isReady(); }));
    // Another program on the session bus posing as KWin's script.
    QDBusConnection intruder =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"tessarine-test-intruder"_qs);
    const auto send = [&](const QString& method, const QVariantList& arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(
            QDBusConnection::sessionBus().baseService(), KWinWorkspace::objectPath,
            u"app.kestrune.Tessarine.KWinReports"_qs, method);
        call.setArguments(arguments);
        return intruder.asyncCall(call);
    };
    QDBusPendingCall added =
        send(u"WindowAdded"_qs, {u"{fake}"_qs, u"evil.App"_qs, u"evil"_qs, u"evil"_qs, u"Log in"_qs,
                                 u"1"_qs, u"1"_qs, u"0"_qs});
    QDBusPendingCall activated = send(u"WindowActivated"_qs, {u"{fake}"_qs});
    ASSERT_TRUE(waitFor([&] { return added.isFinished() && activated.isFinished(); }));
    runEventLoopFor(200);
    EXPECT_FALSE(workspace.application(u"evil.App"_qs)) << "a window only KWin may report";
    QDBusConnection::disconnectFromBus(u"tessarine-test-intruder"_qs);
}
