#include "store/AuditLog.h"

#include <array>

namespace AuditLog {

namespace {
constexpr std::array kActions = {
    Action::ExclusionAdded,       Action::ExclusionRemoved,     Action::RetentionChanged,
    Action::AccessibilityGranted, Action::AccessibilityRevoked, Action::CapturePaused,
    Action::CaptureResumed,       Action::ExportPerformed,      Action::DeleteEverything,
    Action::UrlReceiptsEnabled,   Action::UrlReceiptsDisabled};
} // namespace

QString rawValue(Action action) {
    switch (action) {
    case Action::ExclusionAdded:
        return QStringLiteral("exclusion_added");
    case Action::ExclusionRemoved:
        return QStringLiteral("exclusion_removed");
    case Action::RetentionChanged:
        return QStringLiteral("retention_changed");
    case Action::AccessibilityGranted:
        return QStringLiteral("accessibility_granted");
    case Action::AccessibilityRevoked:
        return QStringLiteral("accessibility_revoked");
    case Action::CapturePaused:
        return QStringLiteral("capture_paused");
    case Action::CaptureResumed:
        return QStringLiteral("capture_resumed");
    case Action::ExportPerformed:
        return QStringLiteral("export_performed");
    case Action::DeleteEverything:
        return QStringLiteral("delete_everything");
    case Action::UrlReceiptsEnabled:
        return QStringLiteral("url_receipts_enabled");
    case Action::UrlReceiptsDisabled:
        return QStringLiteral("url_receipts_disabled");
    }
    Q_UNREACHABLE();
}

std::optional<Action> actionFromRawValue(const QString& raw) {
    for (Action action : kActions) {
        if (rawValue(action) == raw)
            return action;
    }
    return std::nullopt;
}

QString describe(const AuditEntry& entry) {
    const std::optional<Action> action = actionFromRawValue(entry.action);
    if (!action)
        return entry.action;
    const auto detailOr = [&entry](const char* fallback) {
        return entry.detail.value_or(QString::fromUtf8(fallback));
    };
    switch (*action) {
    case Action::ExclusionAdded:
        return QStringLiteral("Stopped tracking ") + detailOr("an app") +
               QStringLiteral(" and deleted its data");
    case Action::ExclusionRemoved:
        return QStringLiteral("Resumed tracking ") + detailOr("an app");
    case Action::RetentionChanged:
        return QStringLiteral("Changed data retention to ") + detailOr("a new value");
    case Action::AccessibilityGranted:
        return QStringLiteral("Accessibility access granted");
    case Action::AccessibilityRevoked:
        return QStringLiteral("Accessibility access revoked");
    case Action::CapturePaused:
        return QStringLiteral("Paused Tessarine");
    case Action::CaptureResumed:
        return QStringLiteral("Resumed Tessarine");
    case Action::ExportPerformed:
        return QStringLiteral("Exported data to ") + detailOr("a local file");
    case Action::DeleteEverything:
        return QStringLiteral("Deleted everything");
    case Action::UrlReceiptsEnabled:
        return QStringLiteral(
            "Started remembering exact pages (addresses without search terms or tokens)");
    case Action::UrlReceiptsDisabled:
        return QStringLiteral("Stopped remembering exact pages");
    }
    Q_UNREACHABLE();
}

} // namespace AuditLog
