#pragma once

#include "model/Time.h"

#include <QString>
#include <optional>

// A time said relative to now, in words ("5 minutes ago", "yesterday", "in 2 hours");
// an absent time is "a while ago".
namespace RelativeTime {
QString ago(std::optional<TimePoint> time, TimePoint now);
// The compact form rows show: "now" under a minute, then "5m", "3h", "2d", "4w", "1y";
// empty for an absent time.
QString compact(std::optional<TimePoint> time, TimePoint now);
} // namespace RelativeTime
