#pragma once

#include "model/ReturnActionKind.h"

#include <QString>
#include <optional>

// Cleans return actions before they are stored or performed: labels are trimmed and cut,
// payloads are trimmed and bounded, and addresses lose everything that could carry search
// terms or tokens (query, fragment, credentials).
namespace ReturnActionSanitizer {
inline constexpr qsizetype maxPayloadLength = 2048; // characters
inline constexpr qsizetype maxLabelLength = 120;    // characters
inline constexpr int maxPerContext = 3;

std::optional<QString> sanitizedLabel(const std::optional<QString>& label);
// The payload to store, or nothing to drop the action.
std::optional<QString> sanitizedPayload(ReturnActionKind kind, const QString& payload);
// Scheme, host, port and path of a valid address, exactly as written; nothing when the
// text is not an address (or, with requireWebScheme, not an http(s) address with a host).
std::optional<QString> redactedURLString(const QString& text, bool requireWebScheme);
// 0 for "user", 1 for "detector:…", 2 otherwise; lower ranks first.
int provenancePriority(const QString& provenance);
} // namespace ReturnActionSanitizer
