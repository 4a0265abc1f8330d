#pragma once

#include <QString>
#include <array>
#include <optional>

// The ways back into a loop. Stored as their raw values.
enum class ReturnActionKind { OpenURL, OpenFile, ActivateWindow, RunCommand, DeepLink, CopyText };

namespace ReturnActionKinds {
inline constexpr std::array<ReturnActionKind, 6> allCases = {
    ReturnActionKind::OpenURL,    ReturnActionKind::OpenFile, ReturnActionKind::ActivateWindow,
    ReturnActionKind::RunCommand, ReturnActionKind::DeepLink, ReturnActionKind::CopyText};

QString rawValue(ReturnActionKind kind);
std::optional<ReturnActionKind> fromRawValue(const QString& raw);
} // namespace ReturnActionKinds

// What a detector suggests as a way back.
struct ReturnActionSuggestion {
    ReturnActionKind kind;
    QString payload;
    std::optional<QString> label;
};
