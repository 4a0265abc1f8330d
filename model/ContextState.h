#pragma once

#include <QAnyStringView>
#include <QString>
#include <array>
#include <optional>

// The five states of an open loop. Dismissal is not a state: it is a time plus a reason.
enum class ContextState { Active, Backgrounded, Waiting, Ready, Stale };

namespace ContextStates {
inline constexpr std::array<ContextState, 5> allCases = {
    ContextState::Active, ContextState::Backgrounded, ContextState::Waiting, ContextState::Ready,
    ContextState::Stale};

QString rawValue(ContextState state);
// Only the five exact stored texts parse; anything else is absent, never a default. Takes
// any kind of text (the store reads it as UTF-8 bytes) without converting it.
std::optional<ContextState> fromRawValue(QAnyStringView raw);
} // namespace ContextStates
