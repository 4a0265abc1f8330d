#include "engine/MainQueueTickTimer.h"

#include <algorithm>
#include <climits>

MainQueueTickTimer::MainQueueTickTimer() {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, [this] {
        // Moved out first: the action usually schedules the next tick.
        std::function<void()> action = std::exchange(m_action, nullptr);
        if (action)
            action();
    });
}

void MainQueueTickTimer::schedule(TimePoint at, std::function<void()> action) {
    cancel();
    m_action = std::move(action);
    // Rounded up, so the action never runs before its deadline.
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(at - std::chrono::system_clock::now());
    const auto milliseconds = std::clamp<long long>(wait.count(), 0, INT_MAX);
    m_timer.start(static_cast<int>(milliseconds));
}

void MainQueueTickTimer::cancel() {
    m_timer.stop();
    m_action = nullptr;
}
