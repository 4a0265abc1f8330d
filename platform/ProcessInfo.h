#pragma once

#include <QtGlobal>
#include <optional>

// What the samplers read about other processes.
class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;
    // User plus system CPU time the process has used so far, in nanoseconds; nothing when the
    // process is gone (or has exited and awaits its parent) or cannot be read.
    virtual std::optional<quint64> cpuTimeNanos(qint64 pid) const = 0;
};
