#include "platform/linux/ProcTerminalJobs.h"

#include "platform/linux/ProcStat.h"

#include <QDir>
#include <QFile>
#include <QObject>
#include <QSet>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

QByteArray readSmall(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.read(4096) : QByteArray();
}

bool isLive(const ProcTerminalJobs::Stat& stat) {
    return stat.state != 'Z' && stat.state != 'X' && stat.state != 'x';
}

bool alive(qint64 pid) {
    const std::optional<ProcTerminalJobs::Stat> stat =
        ProcTerminalJobs::parseStat(readSmall(QStringLiteral("/proc/%1/stat").arg(pid)));
    return stat && isLive(*stat);
}

// Ends with the process: a pidfd becomes readable when it exits.
class PidfdWatch final : public TerminalJobs::Watch {
public:
    PidfdWatch(int fd, std::function<void()> ended)
        : m_fd(fd)
        , m_notifier(fd, QSocketNotifier::Read)
        , m_ended(std::move(ended)) {
        QObject::connect(&m_notifier, &QSocketNotifier::activated, &m_notifier, [this] {
            m_notifier.setEnabled(false); // once
            m_ended();
        });
    }
    ~PidfdWatch() override { ::close(m_fd); }

private:
    int m_fd;
    QSocketNotifier m_notifier;
    std::function<void()> m_ended;
};

// Without pidfd_open (kernels before 5.3): /proc is polled while the watch lives.
class PollingWatch final : public TerminalJobs::Watch {
public:
    PollingWatch(qint64 pid, std::function<void()> ended)
        : m_ended(std::move(ended)) {
        m_timer.setInterval(1000);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, pid] {
            if (alive(pid))
                return;
            m_timer.stop();
            m_ended();
        });
        m_timer.start();
    }

private:
    QTimer m_timer;
    std::function<void()> m_ended;
};

// Already gone when asked: reported from the event loop, as a live one would be.
class EndedWatch final : public TerminalJobs::Watch {
public:
    explicit EndedWatch(std::function<void()> ended) {
        QTimer::singleShot(0, &m_context, std::move(ended));
    }

private:
    QObject m_context;
};

const QSet<QString>& shells() {
    static const QSet<QString> names = {
        QStringLiteral("bash"), QStringLiteral("zsh"),   QStringLiteral("fish"),
        QStringLiteral("sh"),   QStringLiteral("dash"),  QStringLiteral("ksh"),
        QStringLiteral("mksh"), QStringLiteral("tcsh"),  QStringLiteral("csh"),
        QStringLiteral("nu"),   QStringLiteral("xonsh"), QStringLiteral("elvish"),
        QStringLiteral("yash"), QStringLiteral("oksh"),  QStringLiteral("ash")};
    return names;
}

} // namespace

std::optional<ProcTerminalJobs::Stat> ProcTerminalJobs::parseStat(const QByteArray& line) {
    // state(3) ppid(4) pgrp(5) session(6) tty_nr(7) tpgid(8)
    const QList<QByteArray> fields = ProcStat::fieldsAfterCommand(line);
    if (fields.size() < 6 || fields[0].size() != 1)
        return std::nullopt;
    Stat stat;
    stat.state = fields[0].at(0);
    bool parentOk = false;
    bool groupOk = false;
    bool foregroundOk = false;
    stat.parent = fields[1].toLongLong(&parentOk);
    stat.group = fields[2].toLongLong(&groupOk);
    stat.foregroundGroup = fields[5].toLongLong(&foregroundOk);
    if (!parentOk || !groupOk || !foregroundOk)
        return std::nullopt;
    return stat;
}

bool ProcTerminalJobs::isShell(const QString& command) {
    return shells().contains(command.startsWith(u'-') ? command.mid(1) : command);
}

std::optional<ProcTerminalJobs::Stat> ProcTerminalJobs::stat(qint64 pid) {
    if (pid <= 0)
        return std::nullopt;
    return parseStat(readSmall(QStringLiteral("/proc/%1/stat").arg(pid)));
}

std::optional<QString> ProcTerminalJobs::command(qint64 pid) {
    const QByteArray comm = readSmall(QStringLiteral("/proc/%1/comm").arg(pid)).trimmed();
    if (comm.isEmpty())
        return std::nullopt;
    return QString::fromUtf8(comm);
}

QList<qint64> ProcTerminalJobs::allProcesses() {
    QList<qint64> pids;
    for (const QString& name : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool ok = false;
        const qint64 pid = name.toLongLong(&ok);
        if (ok)
            pids.append(pid);
    }
    return pids;
}

QList<qint64> ProcTerminalJobs::childrenOf(qint64 pid) {
    // The kernel lists each thread's children; only without that file is every process read.
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (!threads.isEmpty() &&
        QFile::exists(tasks + u'/' + threads.constFirst() + QStringLiteral("/children"))) {
        QList<qint64> listed;
        for (const QString& thread : threads) {
            QFile file(tasks + u'/' + thread + QStringLiteral("/children"));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& child : file.readAll().simplified().split(' ')) {
                if (!child.isEmpty())
                    listed.append(child.toLongLong());
            }
        }
        return listed;
    }
    QList<qint64> children;
    for (const qint64 candidate : allProcesses()) {
        const std::optional<Stat> candidateStat = stat(candidate);
        if (candidateStat && candidateStat->parent == pid)
            children.append(candidate);
    }
    return children;
}

std::optional<TerminalJobs::Shell> ProcTerminalJobs::shellOf(qint64 terminalPid) const {
    if (terminalPid <= 0)
        return std::nullopt;
    std::optional<qint64> shellPid;
    for (const qint64 child : childrenOf(terminalPid)) {
        const std::optional<QString> name = command(child);
        if (!name || !isShell(*name))
            continue;
        if (shellPid)
            return std::nullopt; // several shells: which window is which is not known
        shellPid = child;
    }
    if (!shellPid)
        return std::nullopt;
    const std::optional<Stat> shellStat = stat(*shellPid);
    if (!shellStat || shellStat->foregroundGroup <= 0)
        return std::nullopt;
    Shell shell{*shellPid, shellStat->group, shellStat->foregroundGroup, std::nullopt};
    if (shell.commandInForeground()) {
        const std::optional<qint64> member = memberOf(shell.foregroundGroup);
        shell.command = member ? command(*member) : std::nullopt;
    }
    return shell;
}

bool ProcTerminalJobs::isGroupStopped(qint64 group) const {
    for (const qint64 pid : allProcesses()) {
        const std::optional<Stat> processStat = stat(pid);
        if (processStat && processStat->group == group &&
            (processStat->state == 'T' || processStat->state == 't'))
            return true;
    }
    return false;
}

std::optional<qint64> ProcTerminalJobs::memberOf(qint64 group) const {
    if (group <= 0)
        return std::nullopt;
    if (const std::optional<Stat> leader = stat(group);
        leader && leader->group == group && isLive(*leader))
        return group;
    for (const qint64 pid : allProcesses()) {
        const std::optional<Stat> processStat = stat(pid);
        if (processStat && processStat->group == group && isLive(*processStat))
            return pid;
    }
    return std::nullopt;
}

std::unique_ptr<TerminalJobs::Watch> ProcTerminalJobs::watchExit(qint64 pid,
                                                                 std::function<void()> ended) {
#ifdef SYS_pidfd_open
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (fd >= 0)
        return std::make_unique<PidfdWatch>(fd, std::move(ended));
    if (errno == ESRCH)
        return std::make_unique<EndedWatch>(std::move(ended));
#endif
    if (!alive(pid))
        return std::make_unique<EndedWatch>(std::move(ended));
    return std::make_unique<PollingWatch>(pid, std::move(ended));
}
