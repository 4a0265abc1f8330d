#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <functional>
#include <optional>

// The browser's native-messaging framing: a 4-byte length in native byte order, then that
// many bytes of UTF-8 JSON.
namespace NativeMessagingFrames {
inline constexpr quint32 kMaxInputLength = 999'999;

// Reads exactly `size` bytes into `buffer`; returns how many it got (fewer at end of input).
using ByteSource = std::function<qsizetype(char* buffer, qsizetype size)>;

// One input frame as a JSON object; nothing at end of input or for any invalid frame
// (length 0 or above 999,999, a short body, a body that is not a JSON object).
std::optional<QJsonObject> readMessage(const ByteSource& source);
// The output frame for an object: length and compact JSON body.
QByteArray frame(const QJsonObject& object);
} // namespace NativeMessagingFrames
