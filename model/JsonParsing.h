#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <optional>

namespace JsonParsing {
// The JSON object in `bytes`; nothing for invalid JSON or any other kind of value.
inline std::optional<QJsonObject> object(const QByteArray& bytes) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}
} // namespace JsonParsing
