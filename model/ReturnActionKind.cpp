#include "model/ReturnActionKind.h"

namespace ReturnActionKinds {

QString rawValue(ReturnActionKind kind) {
    switch (kind) {
    case ReturnActionKind::OpenURL:
        return QStringLiteral("open_url");
    case ReturnActionKind::OpenFile:
        return QStringLiteral("open_file");
    case ReturnActionKind::ActivateWindow:
        return QStringLiteral("activate_window");
    case ReturnActionKind::RunCommand:
        return QStringLiteral("run_command");
    case ReturnActionKind::DeepLink:
        return QStringLiteral("deep_link");
    case ReturnActionKind::CopyText:
        return QStringLiteral("copy_text");
    }
    Q_UNREACHABLE();
}

std::optional<ReturnActionKind> fromRawValue(const QString& raw) {
    for (ReturnActionKind kind : allCases) {
        if (rawValue(kind) == raw)
            return kind;
    }
    return std::nullopt;
}

} // namespace ReturnActionKinds
