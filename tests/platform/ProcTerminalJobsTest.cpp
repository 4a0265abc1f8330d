// A real terminal: `script` gives an interactive bash a pseudo-terminal with job control, and
// the test types into it. `script` starts its command through the user's $SHELL; `exec` keeps
// that shell from staying on as a second one whose foreground job is bash.
#include "platform/linux/ProcTerminalJobs.h"

#include "Wait.h"

#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

TEST(ProcTerminalJobs, StatLinesAreReadFromTheLastParenthesis) {
    const auto stat = ProcTerminalJobs::parseStat("42 (a (b) c) S 1 40 40 34816 77 4194560 0 0");
    ASSERT_TRUE(stat);
    EXPECT_EQ(stat->state, 'S');
    EXPECT_EQ(stat->parent, 1);
    EXPECT_EQ(stat->group, 40);
    EXPECT_EQ(stat->foregroundGroup, 77);
    EXPECT_FALSE(ProcTerminalJobs::parseStat("42 (x) S 1"));
    EXPECT_FALSE(ProcTerminalJobs::parseStat("no parenthesis"));
    EXPECT_TRUE(ProcTerminalJobs::isShell(u"-bash"_qs));
    EXPECT_FALSE(ProcTerminalJobs::isShell(u"bashful"_qs));
}

TEST(ProcTerminalJobs, TheForegroundJobOfARealShellItsEndAndItsSuspension) {
    QProcess terminal;
    terminal.start(u"script"_qs,
                   {u"-qfec"_qs, u"exec bash --norc --noprofile -i"_qs, u"/dev/null"_qs});
    ASSERT_TRUE(terminal.waitForStarted());
    ProcTerminalJobs jobs;
    std::optional<TerminalJobs::Shell> shell;
    ASSERT_TRUE(waitFor([&] {
        shell = jobs.shellOf(terminal.processId());
        return shell.has_value();
    }));
    EXPECT_FALSE(shell->commandInForeground()) << "at its prompt";

    terminal.write("sleep 300\n");
    ASSERT_TRUE(waitFor([&] {
        shell = jobs.shellOf(terminal.processId());
        return shell && shell->commandInForeground();
    }));
    EXPECT_EQ(shell->command, u"sleep"_qs);
    const std::optional<qint64> sleeper = jobs.memberOf(shell->foregroundGroup);
    ASSERT_TRUE(sleeper);

    // Ctrl-Z: the shell has the terminal back, the job is stopped, not finished.
    bool ended = false;
    auto watch = jobs.watchExit(*sleeper, [&] { ended = true; });
    terminal.write("\x1a");
    ASSERT_TRUE(waitFor([&] { return jobs.isGroupStopped(shell->foregroundGroup); }));
    EXPECT_FALSE(jobs.shellOf(terminal.processId())->commandInForeground());
    runEventLoopFor(100);
    EXPECT_FALSE(ended);

    // Back in the foreground, then it ends: the watch hears it without polling.
    terminal.write("fg\n");
    ASSERT_TRUE(waitFor([&] {
        const auto now = jobs.shellOf(terminal.processId());
        return now && now->commandInForeground();
    }));
    ::kill(static_cast<pid_t>(*sleeper), SIGTERM);
    EXPECT_TRUE(waitFor([&] { return ended; }));
    EXPECT_TRUE(waitFor([&] {
        const auto now = jobs.shellOf(terminal.processId());
        return now && !now->commandInForeground();
    }));

    // A process that has already ended is reported too.
    bool late = false;
    auto lateWatch = jobs.watchExit(*sleeper, [&] { late = true; });
    EXPECT_TRUE(waitFor([&] { return late; }));

    terminal.write("exit\n");
    terminal.closeWriteChannel();
    if (!terminal.waitForFinished(5000))
        terminal.kill();
}

TEST(ProcTerminalJobs, AProcessWithSeveralShellsIsNoOneTerminal) {
    // A terminal server shows every window from one process, one shell per window: which
    // window runs what is not known, so the process rule stays out.
    QProcess server;
    server.start(u"sh"_qs, {u"-c"_qs, u"sh -c 'sleep 300; true' & sh -c 'sleep 300; true' & "
                                      "wait"_qs});
    ASSERT_TRUE(server.waitForStarted());
    const auto shells = [&] {
        QProcess children;
        children.start(u"pgrep"_qs,
                       {u"-P"_qs, QString::number(server.processId()), u"-x"_qs, u"sh"_qs});
        children.waitForFinished();
        return QString::fromUtf8(children.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    };
    ASSERT_TRUE(waitFor([&] { return shells().size() == 2; }));
    EXPECT_FALSE(ProcTerminalJobs().shellOf(server.processId()).has_value());
    for (const QString& shell : shells())
        QProcess::execute(u"pkill"_qs, {u"-P"_qs, shell});
    if (!server.waitForFinished(5000))
        server.kill();
}
