#include "platform/linux/ProcProcessInfo.h"

#include "platform/linux/ProcStat.h"

#include <QFile>
#include <QList>
#include <unistd.h>

std::optional<quint64> ProcProcessInfo::cpuTicksFromStat(const QByteArray& stat) {
    const QList<QByteArray> fields = ProcStat::fieldsAfterCommand(stat);
    // fields[0] is the state (field 3); utime and stime are fields 14 and 15.
    if (fields.size() < 13 || fields[0].isEmpty())
        return std::nullopt;
    const char state = fields[0].at(0);
    if (state == 'Z' || state == 'X' || state == 'x')
        return std::nullopt; // exited
    bool userOk = false;
    bool systemOk = false;
    const quint64 user = fields[11].toULongLong(&userOk);
    const quint64 system = fields[12].toULongLong(&systemOk);
    if (!userOk || !systemOk)
        return std::nullopt;
    return user + system;
}

std::optional<quint64> ProcProcessInfo::cpuTimeNanos(qint64 pid) const {
    if (pid <= 0)
        return std::nullopt;
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const std::optional<quint64> ticks = cpuTicksFromStat(file.read(4096));
    static const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (!ticks || ticksPerSecond <= 0)
        return std::nullopt;
    return *ticks * (1'000'000'000ULL / static_cast<quint64>(ticksPerSecond));
}
