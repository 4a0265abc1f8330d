// Runs inside scripts/test-env.sh: a real X server (Xvfb) with openbox, real client windows,
// xdotool switching between them.
#include "platform/linux/X11Workspace.h"
#include "LogCapture.h"
#include "RecordingTracker.h"
#include "Wait.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSet>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// A test application with windows, retitled through its standard input.
class TestWindows {
public:
    TestWindows(const QString& wmClass, const QStringList& titles) {
        m_process.start(QStringLiteral(TESSARINE_TEST_WINDOW), QStringList{wmClass} + titles);
        m_process.waitForStarted();
        while (ids.size() < titles.size() && m_process.waitForReadyRead(5000)) {
            while (m_process.canReadLine())
                ids.append(QString::fromUtf8(m_process.readLine()).trimmed());
        }
    }
    ~TestWindows() { quit(); }
    void retitle(int index, const QString& title) {
        m_process.write(QStringLiteral("title %1 %2\n").arg(index).arg(title).toUtf8());
        m_process.waitForReadyRead(5000);
        m_process.readAll();
    }
    void quit() {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        m_process.waitForFinished(5000);
    }
    qint64 pid() const { return m_process.processId(); }
    QStringList ids;

private:
    QProcess m_process;
};

void activate(const QString& windowID) {
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowactivate"), QStringLiteral("--sync"), windowID});
}

} // namespace

TEST(X11WorkspaceTest, RealWindowSwitchesBecomeExactlyTheExpectedFocusEvents) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    X11Workspace workspace(QCoreApplication::applicationPid());
    ASSERT_TRUE(workspace.isConnected());
    RecordingTracker recording(workspace);
    FocusTracker& tracker = recording.tracker;
    QStringList& events = recording.events;
    const auto exactly = [&](qsizetype count) {
        waitFor([&] { return events.size() >= count; });
        runEventLoopFor(200); // anything extra would arrive within a few milliseconds
        return events.size() == count;
    };

    TestWindows alpha(u"AlphaApp"_qs, {u"Alpha one"_qs});
    TestWindows beta(u"BetaApp"_qs, {u"Beta one"_qs, u"Beta second"_qs});
    ASSERT_EQ(alpha.ids.size(), 1);
    ASSERT_EQ(beta.ids.size(), 2);
    // The window manager focuses new windows by itself; start from Alpha in front.
    activate(alpha.ids[0]);
    const auto settledOn = [&](const QString& last) {
        return waitFor([&] { return events.value(events.size() - 1) == last; });
    };
    ASSERT_TRUE(settledOn(u"focus_gained AlphaApp Alpha one"_qs))
        << events.join(u" | ").toStdString();
    EXPECT_TRUE(events.contains(u"app_launched AlphaApp -"_qs));
    EXPECT_TRUE(events.contains(u"app_launched BetaApp -"_qs));
    events.clear();

    // The desktop publishes only the current active window, so each switch is given time to
    // be seen, as a person's switches are.
    activate(beta.ids[0]);
    ASSERT_TRUE(settledOn(u"focus_gained BetaApp Beta one"_qs));
    activate(alpha.ids[0]);
    ASSERT_TRUE(exactly(4)) << events.join(u" | ").toStdString();
    EXPECT_EQ(events,
              (QStringList{u"focus_lost AlphaApp -"_qs, u"focus_gained BetaApp Beta one"_qs,
                           u"focus_lost BetaApp -"_qs, u"focus_gained AlphaApp Alpha one"_qs}));
    events.clear();

    alpha.retitle(0, u"Alpha two"_qs);
    ASSERT_TRUE(exactly(1));
    EXPECT_EQ(events, QStringList{u"window_title_changed AlphaApp Alpha two"_qs});
    alpha.retitle(0, u"Alpha two"_qs); // the same title again
    ASSERT_TRUE(exactly(1));
    events.clear();

    activate(beta.ids[0]);
    ASSERT_TRUE(settledOn(u"focus_gained BetaApp Beta one"_qs));
    activate(beta.ids[1]); // another window of the front application
    ASSERT_TRUE(settledOn(u"window_title_changed BetaApp Beta second"_qs));
    activate(beta.ids[1]);               // already active
    alpha.retitle(0, u"Alpha three"_qs); // no longer followed
    beta.retitle(1, u"Beta second, edited"_qs);
    ASSERT_TRUE(exactly(4)) << events.join(u" | ").toStdString();
    EXPECT_EQ(events, (QStringList{u"focus_lost AlphaApp -"_qs, u"focus_gained BetaApp Beta one"_qs,
                                   u"window_title_changed BetaApp Beta second"_qs,
                                   u"window_title_changed BetaApp Beta second, edited"_qs}));
    EXPECT_EQ(workspace.frontmostApplication()->pid, beta.pid());
    events.clear();

    alpha.quit();
    ASSERT_TRUE(exactly(1));
    EXPECT_EQ(events, QStringList{u"app_terminated AlphaApp -"_qs});
    tracker.stop();
}

TEST(X11WorkspaceTest, OneApplicationOfManyProcessesAndLegacyWindowsWithoutAProcess) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    X11Workspace workspace(QCoreApplication::applicationPid());
    RecordingTracker recording(workspace);
    FocusTracker& tracker = recording.tracker;
    QStringList& events = recording.events;
    const auto seen = [&](const QString& event) {
        return waitFor([&] { return events.contains(event); });
    };

    // Two processes of one program (as every xterm is), and an old X client.
    TestWindows first(u"ShellTerm"_qs, {u"build one"_qs});
    TestWindows second(u"ShellTerm"_qs, {u"build two"_qs});
    TestWindows legacy(u"legacy:OldTool"_qs, {u"Old tool"_qs});
    activate(first.ids[0]);
    ASSERT_TRUE(seen(u"focus_gained ShellTerm build one"_qs)) << events.join(u" | ").toStdString();
    events.clear();

    activate(second.ids[0]);
    ASSERT_TRUE(seen(u"window_title_changed ShellTerm build two"_qs))
        << events.join(u" | ").toStdString();
    const std::optional<RunningApplication> shell = workspace.application(u"ShellTerm"_qs);
    ASSERT_TRUE(shell);
    EXPECT_EQ(QSet<qint64>(shell->processes.begin(), shell->processes.end()),
              (QSet<qint64>{first.pid(), second.pid()}));
    EXPECT_EQ(workspace.windows(shell->pid).size(), 2);

    activate(legacy.ids[0]);
    ASSERT_TRUE(seen(u"focus_gained OldTool Old tool"_qs)) << events.join(u" | ").toStdString();
    legacy.retitle(0, u"Old tool, edited"_qs);
    ASSERT_TRUE(seen(u"window_title_changed OldTool Old tool, edited"_qs))
        << events.join(u" | ").toStdString();
    EXPECT_LT(workspace.application(u"OldTool"_qs)->pid, 0) << "no process to name it by";

    // One process ending is one window gone; the last one ends the application.
    events.clear();
    first.quit();
    second.retitle(0, u"marker"_qs); // ordered after the first window's removal
    activate(second.ids[0]);
    ASSERT_TRUE(seen(u"focus_gained ShellTerm marker"_qs)) << events.join(u" | ").toStdString();
    EXPECT_FALSE(events.join(u'|').contains(u"app_terminated ShellTerm"_qs));
    EXPECT_EQ(workspace.application(u"ShellTerm"_qs)->processes, QList<qint64>{second.pid()});
    second.quit();
    ASSERT_TRUE(seen(u"app_terminated ShellTerm -"_qs)) << events.join(u" | ").toStdString();
    tracker.stop();
}

TEST(X11WorkspaceTest, RaisingBringsAMinimisedWindowBackFromAnotherDesktop) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    X11Workspace workspace(QCoreApplication::applicationPid());
    TestWindows report(u"RaiseMe"_qs, {u"Quarterly report"_qs});
    TestWindows other(u"RaiseOther"_qs, {u"Elsewhere"_qs});
    ASSERT_TRUE(waitFor([&] { return workspace.application(u"RaiseMe"_qs).has_value(); }));
    const QString window = report.ids[0];
    const auto xdotool = [](const QStringList& arguments) {
        QProcess run;
        run.start(u"xdotool"_qs, arguments);
        run.waitForFinished(5000);
        return QString::fromUtf8(run.readAllStandardOutput()).trimmed();
    };
    activate(window);
    xdotool({u"windowminimize"_qs, window});
    xdotool({u"set_desktop_for_window"_qs, window, u"1"_qs});
    activate(other.ids[0]);
    const qint64 handle = workspace.application(u"RaiseMe"_qs)->pid;
    ASSERT_TRUE(waitFor([&] { return workspace.windows(handle).value(0).isMinimized; }));
    ASSERT_EQ(xdotool({u"get_desktop"_qs}), u"0"_qs);

    ASSERT_TRUE(workspace.raiseWindow(window.toULongLong()));
    EXPECT_TRUE(waitFor([&] { return xdotool({u"getactivewindow"_qs}) == window; }))
        << "the window is active";
    EXPECT_EQ(xdotool({u"get_desktop"_qs}), u"1"_qs) << "on its own desktop";
    EXPECT_FALSE(workspace.windows(handle).value(0).isMinimized) << "no longer minimised";
    EXPECT_FALSE(workspace.raiseWindow(12345)) << "not a window it knows";
}

TEST(X11WorkspaceTest, ADisplayThatGoesAwayIsLeftAloneWithOneWarning) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    // A display of its own, so it can be stopped.
    QProcess server;
    server.setProcessChannelMode(QProcess::SeparateChannels);
    server.start(u"Xvfb"_qs, {u"-displayfd"_qs, u"1"_qs, u"-nolisten"_qs, u"tcp"_qs});
    ASSERT_TRUE(server.waitForReadyRead(10000));
    const QByteArray display = ":" + server.readLine().trimmed();
    const QByteArray previous = qgetenv("DISPLAY");
    qputenv("DISPLAY", display);
    X11Workspace workspace(QCoreApplication::applicationPid());
    qputenv("DISPLAY", previous);
    ASSERT_TRUE(workspace.isConnected());
    ASSERT_TRUE(workspace.isFollowing());

    LogCapture log;
    server.terminate(); // it goes away, tidying its socket and lock as it ends
    server.waitForFinished(5000);
    ASSERT_TRUE(waitFor([&] { return !workspace.isFollowing(); }));
    runEventLoopFor(300); // a notifier left on the dead socket would fire again and again
    EXPECT_EQ(log.count(u"X display went away"_qs), 1) << log.lines().join(u'\n').toStdString();
    EXPECT_FALSE(workspace.isConnected());
}
