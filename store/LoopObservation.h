#pragma once

#include "model/GroupedLoops.h"

#include <atomic>
#include <functional>
#include <memory>

// The shared state between a running observation and the store that feeds it.
struct LoopObservationState {
    std::function<void(const GroupedLoops&)> callback;
    std::atomic<bool> cancelled = false;
};

// Handle of a live observation of the open loops. Deliveries stop when it is cancelled or
// destroyed; keep it for as long as updates are wanted.
class LoopObservation {
public:
    LoopObservation() = default;
    explicit LoopObservation(std::shared_ptr<LoopObservationState> state);
    ~LoopObservation();
    LoopObservation(LoopObservation&& other) noexcept = default;
    LoopObservation& operator=(LoopObservation&& other) noexcept;
    LoopObservation(const LoopObservation&) = delete;
    LoopObservation& operator=(const LoopObservation&) = delete;

    void cancel();
    bool isActive() const;

private:
    std::shared_ptr<LoopObservationState> m_state;
};
