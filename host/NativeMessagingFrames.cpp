#include "host/NativeMessagingFrames.h"

#include <QJsonDocument>
#include <cstring>

namespace NativeMessagingFrames {

std::optional<QJsonObject> readMessage(const ByteSource& source) {
    char header[4];
    if (source(header, 4) != 4)
        return std::nullopt;
    quint32 length = 0;
    std::memcpy(&length, header, sizeof length);
    if (length == 0 || length > kMaxInputLength)
        return std::nullopt;
    QByteArray body(static_cast<qsizetype>(length), Qt::Uninitialized);
    if (source(body.data(), body.size()) != body.size())
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QByteArray frame(const QJsonObject& object) {
    const QByteArray body = QJsonDocument(object).toJson(QJsonDocument::Compact);
    const auto length = static_cast<quint32>(body.size());
    QByteArray framed(sizeof length, Qt::Uninitialized);
    std::memcpy(framed.data(), &length, sizeof length);
    return framed + body;
}

} // namespace NativeMessagingFrames
