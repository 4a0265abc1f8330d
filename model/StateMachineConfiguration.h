#pragma once

#include <optional>

// Tuning of the state machine, in seconds.
struct StateMachineConfiguration {
    static constexpr double kDefaultStaleAfter = 20 * 60;
    static constexpr double kWorkingStaleAfter = 45 * 60;
    static constexpr double kDefaultEngagementThreshold = 120;

    // Age of a backgrounded or ready loop's state change after which it goes stale.
    double staleAfter = kDefaultStaleAfter;
    // Age of a waiting loop's state change after which it goes stale.
    double workingStaleAfter = kWorkingStaleAfter;
    // Time on a window without a loop before one is created; 0 or less creates at once.
    double engagementThreshold = kDefaultEngagementThreshold;

    // Built from the user's settings "settings.staleAfterMinutes" and
    // "settings.engagementSeconds"; a missing or non-integer value gives the default.
    static StateMachineConfiguration fromSettings(std::optional<long long> staleAfterMinutes,
                                                  std::optional<long long> engagementSeconds);
};
