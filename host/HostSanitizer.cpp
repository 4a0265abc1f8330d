#include "host/HostSanitizer.h"

#include "model/Graphemes.h"

#include <QSet>
#include <cmath>

namespace {

constexpr qsizetype kMaxOrigin = 256;
constexpr qsizetype kMaxPath = 1024;
constexpr qsizetype kMaxTitle = 256;
constexpr qsizetype kMaxURL = 2048;
constexpr qsizetype kMaxPrompt = 400;
constexpr double kLargestExactInteger = 9007199254740992.0; // 2^53

bool isWebAddress(const QString& text) {
    return text.startsWith(u"https://") || text.startsWith(u"http://");
}

// The text before its first "?" or "#".
QString cutAtQueryOrFragment(const QString& text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text.at(i) == u'?' || text.at(i) == u'#')
            return text.left(i);
    }
    return text;
}

std::optional<QString> nonEmptyString(const QJsonObject& message, const char* key) {
    const QJsonValue value = message.value(QLatin1String(key));
    if (!value.isString() || value.toString().isEmpty())
        return std::nullopt;
    return value.toString();
}

// Title, tab id and favicon go on alike for both kinds of message.
void addCommonFields(const QJsonObject& message, QJsonObject& payload) {
    if (const auto title = nonEmptyString(message, "title"))
        payload.insert(QStringLiteral("title"), Graphemes::prefix(*title, kMaxTitle));
    if (const auto tabID = HostSanitizer::integerValue(message.value(QStringLiteral("tabId"))))
        payload.insert(QStringLiteral("tabId"), *tabID);
    if (const auto favicon = HostSanitizer::sanitizedFavicon(message))
        payload.insert(QStringLiteral("favicon"), *favicon);
}

} // namespace

namespace HostSanitizer {

std::optional<qint64> integerValue(const QJsonValue& value) {
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number ||
        std::fabs(number) > kLargestExactInteger)
        return std::nullopt;
    return static_cast<qint64>(number);
}

std::optional<QString> sanitizedFavicon(const QJsonObject& message) {
    const QJsonValue value = message.value(QStringLiteral("favicon"));
    if (!value.isString())
        return std::nullopt;
    const QString favicon = value.toString();
    if (!favicon.startsWith(u"data:image/") || !Graphemes::fitsWithin(favicon, maxFaviconChars))
        return std::nullopt;
    return favicon;
}

std::optional<QJsonObject> sanitizedTabContext(const QJsonObject& message,
                                               const QString& hostPortName) {
    if (message.isEmpty())
        return std::nullopt;
    const QJsonValue originValue = message.value(QStringLiteral("origin"));
    if (!originValue.isString())
        return std::nullopt;
    const QString origin = originValue.toString();
    if (!isWebAddress(origin) || origin.contains(u'?') || origin.contains(u'#') ||
        !Graphemes::fitsWithin(origin, kMaxOrigin))
        return std::nullopt;

    const QJsonValue pathValue = message.value(QStringLiteral("path"));
    const QString path =
        cutAtQueryOrFragment(pathValue.isString() ? pathValue.toString() : QStringLiteral("/"));
    if (!path.startsWith(u'/') || !Graphemes::fitsWithin(path, kMaxPath))
        return std::nullopt;

    QJsonObject payload{{QStringLiteral("kind"), QStringLiteral("tab_context")},
                        {QStringLiteral("url"), origin + path},
                        {QStringLiteral("hostPort"), hostPortName}};
    addCommonFields(message, payload);
    return payload;
}

std::optional<QJsonObject> sanitizedAISignal(const QJsonObject& message,
                                             const QString& hostPortName) {
    static const QSet<QString> allowedSites = {QStringLiteral("chatgpt"), QStringLiteral("claude"),
                                               QStringLiteral("gemini")};
    static const QSet<QString> allowedEvents = {QStringLiteral("generation_started"),
                                                QStringLiteral("response_complete")};
    if (message.isEmpty())
        return std::nullopt;
    const QJsonValue site = message.value(QStringLiteral("site"));
    const QJsonValue event = message.value(QStringLiteral("event"));
    if (!site.isString() || !allowedSites.contains(site.toString()) || !event.isString() ||
        !allowedEvents.contains(event.toString()))
        return std::nullopt;

    QJsonObject payload{{QStringLiteral("kind"), QStringLiteral("ai_signal")},
                        {QStringLiteral("site"), site.toString()},
                        {QStringLiteral("event"), event.toString()},
                        {QStringLiteral("hostPort"), hostPortName}};
    addCommonFields(message, payload);
    const QJsonValue url = message.value(QStringLiteral("url"));
    if (url.isString() && isWebAddress(url.toString()) &&
        Graphemes::fitsWithin(url.toString(), kMaxURL))
        payload.insert(QStringLiteral("url"), cutAtQueryOrFragment(url.toString()));
    if (const auto prompt = nonEmptyString(message, "prompt"))
        payload.insert(QStringLiteral("prompt"), Graphemes::prefix(*prompt, kMaxPrompt));
    return payload;
}

} // namespace HostSanitizer
