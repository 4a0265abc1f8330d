#include "platform/fake/FakeTerminalJobs.h"

namespace {

class FakeWatch final : public TerminalJobs::Watch {
public:
    explicit FakeWatch(std::function<void()> cancel)
        : m_cancel(std::move(cancel)) {}
    ~FakeWatch() override { m_cancel(); }

private:
    std::function<void()> m_cancel;
};

} // namespace

std::optional<TerminalJobs::Shell> FakeTerminalJobs::shellOf(qint64 terminalPid) const {
    const auto found = m_shells.constFind(terminalPid);
    return found == m_shells.cend() ? std::nullopt : std::optional<Shell>(*found);
}

std::optional<qint64> FakeTerminalJobs::memberOf(qint64 group) const {
    return group > 0 && !m_ended.contains(group) ? std::optional<qint64>(group) : std::nullopt;
}

std::unique_ptr<TerminalJobs::Watch> FakeTerminalJobs::watchExit(qint64 pid,
                                                                 std::function<void()> ended) {
    auto state = std::make_shared<WatchState>(WatchState{pid, std::move(ended), true});
    m_watches.append(state);
    if (m_ended.contains(pid))
        end(pid);
    return std::make_unique<FakeWatch>([state] { state->live = false; });
}

void FakeTerminalJobs::runInForeground(qint64 terminalPid, qint64 group, const QString& command) {
    Shell& shell = m_shells[terminalPid];
    shell.foregroundGroup = group;
    shell.command = command;
    m_ended.remove(group);
}

void FakeTerminalJobs::backToPrompt(qint64 terminalPid) {
    Shell& shell = m_shells[terminalPid];
    shell.foregroundGroup = shell.group;
    shell.command.reset();
}

void FakeTerminalJobs::setStopped(qint64 group, bool stopped) {
    if (stopped)
        m_stopped.insert(group);
    else
        m_stopped.remove(group);
}

void FakeTerminalJobs::end(qint64 pid) {
    m_ended.insert(pid);
    const auto watches = m_watches;
    for (const auto& watch : watches) {
        if (watch->live && watch->pid == pid) {
            watch->live = false;
            watch->ended();
        }
    }
    m_watches.removeIf([](const auto& watch) { return !watch->live; });
}

int FakeTerminalJobs::liveWatches() const {
    int live = 0;
    for (const auto& watch : m_watches)
        live += watch->live ? 1 : 0;
    return live;
}
