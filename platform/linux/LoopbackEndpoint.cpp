#include "platform/linux/LoopbackEndpoint.h"

#include <QHostAddress>

namespace {

LoopbackEndpoint refused(const QString& why) {
    return LoopbackEndpoint{{}, why};
}

QString basePath(const QString& path) {
    QString cleaned = path;
    while (cleaned.endsWith(u'/'))
        cleaned.chop(1);
    return cleaned.isEmpty() ? QStringLiteral("/v1") : cleaned;
}

QUrl base(const QUrl& address, const QString& host) {
    QUrl url;
    url.setScheme(address.scheme());
    url.setHost(host);
    url.setPort(address.port());
    url.setPath(basePath(address.path()));
    return url;
}

} // namespace

LoopbackEndpoint LoopbackEndpoint::parse(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return refused(QStringLiteral("the address is empty"));
    const QUrl address(trimmed.contains(u"://") ? trimmed : QStringLiteral("http://") + trimmed,
                       QUrl::StrictMode);
    if (!address.isValid() || address.host().isEmpty())
        return refused(QStringLiteral("\"%1\" is not an address").arg(trimmed));
    if (address.scheme() != u"http" && address.scheme() != u"https")
        return refused(QStringLiteral("only http and https addresses are used"));
    if (!address.userInfo().isEmpty())
        return refused(QStringLiteral("an address with a user name or password is not used"));

    // QUrl lower-cases the host; "localhost." is the same name written fully qualified.
    const QString host = address.host();
    if (host == u"localhost" || host == u"localhost.")
        return LoopbackEndpoint{
            {base(address, QStringLiteral("127.0.0.1")), base(address, QStringLiteral("::1"))}, {}};
    QHostAddress literal;
    if (!literal.setAddress(host))
        return refused(QStringLiteral("\"%1\" is a host name; only localhost or a loopback "
                                      "address (127.0.0.1, ::1) is used")
                           .arg(host));
    if (!literal.isLoopback())
        return refused(
            QStringLiteral("%1 is not a loopback address, so the text would leave this computer")
                .arg(host));
    return LoopbackEndpoint{{base(address, host)}, {}};
}

LoopbackEndpoint LoopbackEndpoint::onPort(quint16 port) {
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port);
    url.setPath(QStringLiteral("/v1"));
    return LoopbackEndpoint{{url}, {}};
}
