#include "model/ContextState.h"

namespace ContextStates {

QString rawValue(ContextState state) {
    switch (state) {
    case ContextState::Active:
        return QStringLiteral("active");
    case ContextState::Backgrounded:
        return QStringLiteral("backgrounded");
    case ContextState::Waiting:
        return QStringLiteral("waiting");
    case ContextState::Ready:
        return QStringLiteral("ready");
    case ContextState::Stale:
        return QStringLiteral("stale");
    }
    Q_UNREACHABLE();
}

std::optional<ContextState> fromRawValue(QAnyStringView raw) {
    for (ContextState state : allCases) {
        if (rawValue(state) == raw)
            return state;
    }
    return std::nullopt;
}

} // namespace ContextStates
