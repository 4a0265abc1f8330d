#pragma once

#include "model/Time.h"

#include <QString>
#include <optional>

// One focus change reported by the focus tracker.
struct FocusEvent {
    enum class Kind { FocusGained, FocusLost, AppLaunched, AppTerminated, WindowTitleChanged };

    // The raw values double as the `type` of stored `event` rows.
    static QString rawValue(Kind kind);
    static std::optional<Kind> kindFromRawValue(const QString& raw);

    Kind kind;
    QString bundleID;
    std::optional<QString> displayName;
    std::optional<QString> windowTitle;
    TimePoint occurredAt;
};
