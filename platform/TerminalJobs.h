#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <optional>

// What the system knows for certain about a terminal: the shell a terminal window's process
// runs, and which process group holds the terminal's foreground (a running command, or the
// shell itself at its prompt).
class TerminalJobs {
public:
    struct Shell {
        qint64 pid = 0;
        qint64 group = 0;           // the shell's own process group
        qint64 foregroundGroup = 0; // the terminal's foreground group (tpgid)
        // The foreground group leader's command name (never its arguments, which can hold
        // secrets), when a command holds the foreground.
        std::optional<QString> command;

        bool commandInForeground() const { return foregroundGroup > 0 && foregroundGroup != group; }
    };
    class Watch {
    public:
        virtual ~Watch() = default;
    };

    virtual ~TerminalJobs() = default;
    // The shell of a terminal whose window is shown by process `terminalPid`; nothing when that
    // process does not run exactly one shell (a terminal server with many windows, say).
    virtual std::optional<Shell> shellOf(qint64 terminalPid) const = 0;
    // Whether some process of the group is stopped (a job suspended with Ctrl-Z).
    virtual bool isGroupStopped(qint64 group) const = 0;
    // A live process of the group (its leader when alive), to watch.
    virtual std::optional<qint64> memberOf(qint64 group) const = 0;
    // Calls `ended` once, on the main thread, when process `pid` has ended (also when it had
    // already ended). Destroying the watch cancels it.
    virtual std::unique_ptr<Watch> watchExit(qint64 pid, std::function<void()> ended) = 0;
};
