#pragma once

#include "model/Time.h"

#include <QTimer>
#include <functional>

class ContextStore;

// Purges expired data now and then every `interval` seconds, on the main thread, for as
// long as it exists. Purge errors are swallowed; the next run tries again.
class Retention {
public:
    using Clock = std::function<TimePoint()>;

    Retention(
        ContextStore& store, double intervalSeconds,
        Clock clock = [] { return std::chrono::system_clock::now(); });
    // Runs one purge at once and schedules the next.
    void start();
    void stop();
    bool isScheduled() const { return m_timer.isActive(); }

private:
    void runOnce();

    ContextStore& m_store;
    double m_interval;
    Clock m_clock;
    QTimer m_timer;
};
