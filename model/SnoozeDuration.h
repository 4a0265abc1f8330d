#pragma once

#include <QString>
#include <optional>

// How long a loop is snoozed, as the user writes it: "10m", "1h", "2d", "45" (seconds) or
// "tomorrow" (any case, surrounding blanks allowed).
namespace SnoozeDuration {
// Seconds of a duration; nothing for text that is none (tomorrow is not a fixed number of
// seconds).
std::optional<double> seconds(const QString& duration);
bool isUntilTomorrow(const QString& duration);
inline bool isDuration(const QString& duration) {
    return isUntilTomorrow(duration) || seconds(duration).has_value();
}
} // namespace SnoozeDuration
