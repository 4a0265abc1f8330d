#pragma once

#include "engine/TickTimer.h"

#include <QTimer>

// TickTimer on the Qt event loop of the thread that creates it (the main thread). A deadline
// already past fires at the next turn of the event loop.
class MainQueueTickTimer final : public TickTimer {
public:
    MainQueueTickTimer();
    void schedule(TimePoint at, std::function<void()> action) override;
    void cancel() override;

private:
    QTimer m_timer;
    std::function<void()> m_action;
};
