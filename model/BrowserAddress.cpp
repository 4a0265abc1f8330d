#include "model/BrowserAddress.h"

#include <QUrl>

namespace BrowserAddress {

bool looksLikeAddress(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.contains(QStringLiteral("://")))
        return true;
    return !trimmed.contains(u' ') && trimmed.size() >= 3 &&
           (trimmed.contains(u'.') || trimmed.startsWith(QStringLiteral("localhost")));
}

std::optional<QString> normalized(const QString& text) {
    QString address = text.trimmed();
    for (const char* internal : {"chrome://", "about:", "edge://"}) {
        if (address.startsWith(QLatin1String(internal), Qt::CaseInsensitive))
            return std::nullopt;
    }
    if (!address.contains(QStringLiteral("://")))
        address.prepend(QStringLiteral("https://"));
    const QUrl url(address, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty() || (scheme != u"https" && scheme != u"http"))
        return std::nullopt;
    // The port stays: without it a local server's page could not be opened again.
    QString result = scheme + QStringLiteral("://") + url.host(QUrl::FullyEncoded);
    if (url.port() >= 0)
        result += u':' + QString::number(url.port());
    return result + url.path(QUrl::FullyEncoded);
}

} // namespace BrowserAddress
