#include "model/StateMachineConfiguration.h"

StateMachineConfiguration
StateMachineConfiguration::fromSettings(std::optional<long long> staleAfterMinutes,
                                        std::optional<long long> engagementSeconds) {
    StateMachineConfiguration configuration;
    if (staleAfterMinutes)
        configuration.staleAfter = static_cast<double>(*staleAfterMinutes) * 60.0;
    if (engagementSeconds)
        configuration.engagementThreshold = static_cast<double>(*engagementSeconds);
    return configuration;
}
