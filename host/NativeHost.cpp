#include "host/NativeHost.h"

#include "model/JsonParsing.h"
#include "host/HostSanitizer.h"
#include "platform/MessagePort.h"
#include "platform/MessagePortNames.h"

#include <QJsonDocument>
#include <cerrno>
#include <unistd.h>

NativeHost::NativeHost(MessagePort& port, int outputFd, QString hostPortName)
    : m_port(port)
    , m_outputFd(outputFd)
    , m_hostPortName(std::move(hostPortName)) {}

void NativeHost::runReadLoop(const NativeMessagingFrames::ByteSource& input) {
    while (const std::optional<QJsonObject> message = NativeMessagingFrames::readMessage(input))
        handleMessage(*message);
}

void NativeHost::handleMessage(const QJsonObject& message) {
    const QString ok = QStringLiteral("ok");
    if (message.value(QStringLiteral("event")).toString() == u"tab_context" &&
        message.value(QStringLiteral("event")).isString()) {
        // A rejected tab context is dropped but still answered as received.
        if (const auto payload = HostSanitizer::sanitizedTabContext(message, m_hostPortName))
            forward(*payload);
        send({{ok, true}});
        return;
    }
    const auto payload = HostSanitizer::sanitizedAISignal(message, m_hostPortName);
    if (!payload) {
        send({{ok, false}});
        return;
    }
    forward(*payload);
    send({{ok, true}}); // whether or not the application was there to take it
}

void NativeHost::handleFocusRequest(const QByteArray& payload) {
    const std::optional<QJsonObject> parsed = JsonParsing::object(payload);
    if (!parsed)
        return;
    const QJsonObject& request = *parsed;
    const auto tabID = HostSanitizer::integerValue(request.value(QStringLiteral("tabId")));
    if (request.value(QStringLiteral("action")).toString() != u"focus_tab" || !tabID)
        return;
    send({{QStringLiteral("action"), QStringLiteral("focus_tab")},
          {QStringLiteral("tabId"), *tabID}});
}

void NativeHost::forward(const QJsonObject& payload) {
    // A fresh look-up for every payload: the application may come and go at any time.
    m_port.send(MessagePortNames::tabContext(),
                QJsonDocument(payload).toJson(QJsonDocument::Compact));
}

void NativeHost::send(const QJsonObject& object) {
    const QByteArray frame = NativeMessagingFrames::frame(object);
    std::lock_guard lock(m_outputLock);
    qsizetype written = 0;
    while (written < frame.size()) {
        const ssize_t result = ::write(m_outputFd, frame.constData() + written,
                                       static_cast<std::size_t>(frame.size() - written));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return; // the browser went away; the read loop ends with its input
        written += result;
    }
}
