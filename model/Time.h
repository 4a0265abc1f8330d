#pragma once

#include <QtGlobal>
#include <chrono>

// Stored times are whole milliseconds since 1970, truncated toward zero.
using TimePoint = std::chrono::system_clock::time_point;

inline qint64 toMillis(TimePoint time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

inline TimePoint fromMillis(qint64 millis) {
    return TimePoint(
        std::chrono::duration_cast<TimePoint::duration>(std::chrono::milliseconds(millis)));
}
