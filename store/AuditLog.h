#pragma once

#include "model/ContextRecord.h"

#include <QString>
#include <optional>

// The audit vocabulary and the sentence shown for each entry.
namespace AuditLog {
enum class Action {
    ExclusionAdded,
    ExclusionRemoved,
    RetentionChanged,
    AccessibilityGranted,
    AccessibilityRevoked,
    CapturePaused,
    CaptureResumed,
    ExportPerformed,
    DeleteEverything,
    UrlReceiptsEnabled,
    UrlReceiptsDisabled,
};

QString rawValue(Action action);
std::optional<Action> actionFromRawValue(const QString& raw);
// The human sentence; an action outside the vocabulary is shown as its own text.
QString describe(const AuditEntry& entry);
} // namespace AuditLog
