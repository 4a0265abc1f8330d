#pragma once

#include <QJsonObject>
#include <QString>
#include <optional>

// Keeps only the allowed fields of the companion's messages, with their caps (in
// user-perceived characters), and builds the payloads for the application.
namespace HostSanitizer {
inline constexpr qsizetype maxFaviconChars = 65536;

std::optional<QJsonObject> sanitizedTabContext(const QJsonObject& message,
                                               const QString& hostPortName);
std::optional<QJsonObject> sanitizedAISignal(const QJsonObject& message,
                                             const QString& hostPortName);
std::optional<QString> sanitizedFavicon(const QJsonObject& message);
// The value when it is a JSON number with an integral value that a double holds exactly.
std::optional<qint64> integerValue(const QJsonValue& value);
} // namespace HostSanitizer
