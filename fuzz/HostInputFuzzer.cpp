// Feeds arbitrary bytes to the native host as if they came from the browser: frame reading,
// both sanitizers and the focus-request parse, checking that whatever is forwarded keeps
// within its caps.
#include "model/Graphemes.h"
#include "host/HostSanitizer.h"
#include "host/NativeMessagingFrames.h"

#include <QJsonDocument>
#include <cstdint>
#include <cstring>

namespace {

const QString kPort = QStringLiteral("app.kestrune.host.1");

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

bool isCutWebAddress(const QString& url) {
    return (url.startsWith(u"https://") || url.startsWith(u"http://")) && !url.contains(u'?') &&
           !url.contains(u'#');
}

void checkCommon(const QJsonObject& payload) {
    require(payload.value(QStringLiteral("hostPort")).toString() == kPort);
    if (payload.contains(QStringLiteral("title")))
        require(Graphemes::fitsWithin(payload.value(QStringLiteral("title")).toString(), 256));
    if (payload.contains(QStringLiteral("favicon"))) {
        const QString favicon = payload.value(QStringLiteral("favicon")).toString();
        require(favicon.startsWith(u"data:image/") && Graphemes::fitsWithin(favicon, 65536));
    }
    // What goes out must come back through a frame unchanged.
    const QByteArray framed = NativeMessagingFrames::frame(payload);
    qsizetype offset = 0;
    const auto again = NativeMessagingFrames::readMessage([&](char* buffer, qsizetype size) {
        const qsizetype take = std::min(size, framed.size() - offset);
        std::memcpy(buffer, framed.constData() + offset, static_cast<std::size_t>(take));
        offset += take;
        return take;
    });
    require(!again || *again == payload);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    qsizetype offset = 0;
    const NativeMessagingFrames::ByteSource source = [&](char* buffer, qsizetype wanted) {
        const qsizetype take = std::min(wanted, input.size() - offset);
        std::memcpy(buffer, input.constData() + offset, static_cast<std::size_t>(take));
        offset += take;
        return take;
    };
    while (const auto message = NativeMessagingFrames::readMessage(source)) {
        if (const auto tab = HostSanitizer::sanitizedTabContext(*message, kPort)) {
            const QString url = tab->value(QStringLiteral("url")).toString();
            require(isCutWebAddress(url) && Graphemes::fitsWithin(url, 256 + 1024));
            checkCommon(*tab);
        }
        if (const auto signal = HostSanitizer::sanitizedAISignal(*message, kPort)) {
            if (signal->contains(QStringLiteral("url")))
                require(isCutWebAddress(signal->value(QStringLiteral("url")).toString()));
            if (signal->contains(QStringLiteral("prompt")))
                require(
                    Graphemes::fitsWithin(signal->value(QStringLiteral("prompt")).toString(), 400));
            checkCommon(*signal);
        }
    }
    // The same bytes as a focus request from the application.
    const QJsonDocument request = QJsonDocument::fromJson(input);
    if (request.isObject())
        HostSanitizer::integerValue(request.object().value(QStringLiteral("tabId")));
    return 0;
}
