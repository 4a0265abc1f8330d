#pragma once

#include "model/Time.h"

#include <functional>

// The one-shot timer that drives ageing. A new schedule replaces the earlier one; the action
// runs on the main thread.
class TickTimer {
public:
    virtual ~TickTimer() = default;
    virtual void schedule(TimePoint at, std::function<void()> action) = 0;
    virtual void cancel() = 0;
};
