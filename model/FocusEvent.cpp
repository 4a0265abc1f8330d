#include "model/FocusEvent.h"

#include <array>

QString FocusEvent::rawValue(Kind kind) {
    switch (kind) {
    case Kind::FocusGained:
        return QStringLiteral("focus_gained");
    case Kind::FocusLost:
        return QStringLiteral("focus_lost");
    case Kind::AppLaunched:
        return QStringLiteral("app_launched");
    case Kind::AppTerminated:
        return QStringLiteral("app_terminated");
    case Kind::WindowTitleChanged:
        return QStringLiteral("window_title_changed");
    }
    Q_UNREACHABLE();
}

std::optional<FocusEvent::Kind> FocusEvent::kindFromRawValue(const QString& raw) {
    static constexpr std::array kinds = {Kind::FocusGained, Kind::FocusLost, Kind::AppLaunched,
                                         Kind::AppTerminated, Kind::WindowTitleChanged};
    for (Kind kind : kinds) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}
