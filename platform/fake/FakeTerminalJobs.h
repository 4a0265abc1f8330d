#pragma once

#include "platform/TerminalJobs.h"

#include <QHash>
#include <QSet>

// Terminals whose shells and jobs the test sets by hand; ending a process fires its watches.
class FakeTerminalJobs final : public TerminalJobs {
public:
    std::optional<Shell> shellOf(qint64 terminalPid) const override;
    bool isGroupStopped(qint64 group) const override { return m_stopped.contains(group); }
    std::optional<qint64> memberOf(qint64 group) const override;
    std::unique_ptr<Watch> watchExit(qint64 pid, std::function<void()> ended) override;

    // Control surface.
    void setShell(qint64 terminalPid, const Shell& shell) { m_shells.insert(terminalPid, shell); }
    void removeShell(qint64 terminalPid) { m_shells.remove(terminalPid); }
    // The terminal's foreground moves to `group` (its leader `command`), or back to the shell.
    void runInForeground(qint64 terminalPid, qint64 group, const QString& command);
    void backToPrompt(qint64 terminalPid);
    void setStopped(qint64 group, bool stopped);
    // Ends a process: its watches fire, at once.
    void end(qint64 pid);
    int liveWatches() const;

private:
    struct WatchState {
        qint64 pid = 0;
        std::function<void()> ended;
        bool live = true;
    };
    QHash<qint64, Shell> m_shells;
    QSet<qint64> m_stopped;
    QSet<qint64> m_ended;
    QList<std::shared_ptr<WatchState>> m_watches;
};
