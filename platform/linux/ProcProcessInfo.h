#pragma once

#include "platform/ProcessInfo.h"

#include <QByteArray>

// Reads /proc/<pid>/stat: utime + stime, converted from clock ticks to nanoseconds.
class ProcProcessInfo final : public ProcessInfo {
public:
    std::optional<quint64> cpuTimeNanos(qint64 pid) const override;
    // The CPU time in a stat line, in clock ticks; nothing for a malformed line or for a
    // process that has exited (zombie or dead).
    static std::optional<quint64> cpuTicksFromStat(const QByteArray& stat);
};
