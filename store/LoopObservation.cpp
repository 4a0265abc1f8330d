#include "store/LoopObservation.h"

LoopObservation::LoopObservation(std::shared_ptr<LoopObservationState> state)
    : m_state(std::move(state)) {}

LoopObservation::~LoopObservation() {
    cancel();
}

LoopObservation& LoopObservation::operator=(LoopObservation&& other) noexcept {
    if (this != &other) {
        cancel();
        m_state = std::move(other.m_state);
    }
    return *this;
}

void LoopObservation::cancel() {
    if (m_state)
        m_state->cancelled = true;
}

bool LoopObservation::isActive() const {
    return m_state && !m_state->cancelled;
}
