#pragma once

#include "platform/TerminalJobs.h"

#include <QByteArray>
#include <QList>

// Terminal jobs from /proc: the shell is the terminal process's one child whose command is a
// shell; its /proc/<pid>/stat gives its process group and the terminal's foreground group
// (tpgid). A process's end is watched with pidfd_open(2) (no polling, works for processes
// that are not our children); where the kernel lacks it, /proc is polled every second while
// the watch lives.
class ProcTerminalJobs final : public TerminalJobs {
public:
    struct Stat {
        char state = '?';
        qint64 parent = 0;
        qint64 group = 0;
        qint64 foregroundGroup = 0;
    };
    // Fields of a /proc/<pid>/stat line, counted from the last ')' (the command name may hold
    // spaces and parentheses); nothing for a malformed line.
    static std::optional<Stat> parseStat(const QByteArray& line);
    static bool isShell(const QString& command);

    std::optional<Shell> shellOf(qint64 terminalPid) const override;
    bool isGroupStopped(qint64 group) const override;
    std::optional<qint64> memberOf(qint64 group) const override;
    std::unique_ptr<Watch> watchExit(qint64 pid, std::function<void()> ended) override;

private:
    static std::optional<Stat> stat(qint64 pid);
    static std::optional<QString> command(qint64 pid);
    static QList<qint64> childrenOf(qint64 pid);
    static QList<qint64> allProcesses();
};
