#include "model/ReturnActionSanitizer.h"

#include "model/Graphemes.h"

#include <QUrl>

namespace {

bool isAsciiAlpha(QChar c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

bool isAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

bool isHexDigit(QChar c) {
    return isAsciiDigit(c) || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// Characters allowed as they stand in the given part of an address (RFC 3986), besides
// percent-escapes. Non-ASCII characters are accepted as in internationalised addresses.
bool isAllowed(QChar c, QStringView extra) {
    if (c.unicode() >= 0x80)
        return !c.isSpace() && c.category() != QChar::Other_Control;
    if (isAsciiAlpha(c) || isAsciiDigit(c))
        return true;
    static const QString unreservedAndSubDelims = QStringLiteral("-._~!$&'()*+,;=");
    return unreservedAndSubDelims.contains(c) || extra.contains(c);
}

bool isValidPart(QStringView part, QStringView extra) {
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c == u'%') {
            if (i + 2 >= part.size() || !isHexDigit(part[i + 1]) || !isHexDigit(part[i + 2]))
                return false;
            i += 2;
        } else if (!isAllowed(c, extra)) {
            return false;
        }
    }
    return true;
}

bool isValidHost(QStringView host) {
    if (host.startsWith(u'[')) {
        if (!host.endsWith(u']') || host.size() < 3)
            return false;
        for (QChar c : host.mid(1, host.size() - 2)) {
            if (!isHexDigit(c) && c != u':' && c != u'.' && c != u'v' && c != u'V' && c != u'%' &&
                c != u'_' && c != u'-' && c != u'~' && !isAsciiAlpha(c) && !isAsciiDigit(c))
                return false;
        }
        return true;
    }
    return isValidPart(host, u"");
}

struct AddressParts {
    QStringView scheme;
    bool hasAuthority = false;
    QStringView host;
    QStringView port; // without the colon
    bool hasPort = false;
    QStringView path;
};

// Splits an absolute address into its parts, validating every character; nothing when the
// text is not a valid address with a scheme.
std::optional<AddressParts> parseAddress(QStringView text) {
    AddressParts parts;
    const qsizetype colon = text.indexOf(u':');
    if (colon <= 0 || !isAsciiAlpha(text[0]))
        return std::nullopt;
    for (QChar c : text.left(colon)) {
        if (!isAsciiAlpha(c) && !isAsciiDigit(c) && c != u'+' && c != u'-' && c != u'.')
            return std::nullopt;
    }
    parts.scheme = text.left(colon);
    QStringView rest = text.mid(colon + 1);

    // Query and fragment are dropped, but must still be well formed.
    const qsizetype hash = rest.indexOf(u'#');
    if (hash >= 0) {
        if (!isValidPart(rest.mid(hash + 1), u":@/?"))
            return std::nullopt;
        rest = rest.left(hash);
    }
    const qsizetype question = rest.indexOf(u'?');
    if (question >= 0) {
        if (!isValidPart(rest.mid(question + 1), u":@/?"))
            return std::nullopt;
        rest = rest.left(question);
    }

    if (rest.startsWith(u"//")) {
        parts.hasAuthority = true;
        rest = rest.mid(2);
        const qsizetype slash = rest.indexOf(u'/');
        QStringView authority = slash >= 0 ? rest.left(slash) : rest;
        rest = slash >= 0 ? rest.mid(slash) : QStringView();

        const qsizetype at = authority.indexOf(u'@');
        if (at >= 0) {
            if (authority.indexOf(u'@', at + 1) >= 0 || !isValidPart(authority.left(at), u":"))
                return std::nullopt;
            authority = authority.mid(at + 1);
        }
        // The port follows the last colon outside an IPv6 literal.
        const qsizetype closing = authority.lastIndexOf(u']');
        const qsizetype portColon = authority.lastIndexOf(u':');
        if (portColon >= 0 && portColon > closing) {
            parts.hasPort = true;
            parts.port = authority.mid(portColon + 1);
            for (QChar c : parts.port) {
                if (!isAsciiDigit(c))
                    return std::nullopt;
            }
            authority = authority.left(portColon);
        }
        if (!isValidHost(authority))
            return std::nullopt;
        parts.host = authority;
    }
    if (!isValidPart(rest, u":@/"))
        return std::nullopt;
    parts.path = rest;
    return parts;
}

} // namespace

namespace ReturnActionSanitizer {

std::optional<QString> sanitizedLabel(const std::optional<QString>& label) {
    if (!label)
        return std::nullopt;
    const QString trimmed = label->trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    return Graphemes::prefix(trimmed, maxLabelLength);
}

std::optional<QString> redactedURLString(const QString& text, bool requireWebScheme) {
    const std::optional<AddressParts> parts = parseAddress(text);
    if (!parts)
        return std::nullopt;
    if (requireWebScheme) {
        const QString scheme = parts->scheme.toString().toLower();
        if ((scheme != u"http" && scheme != u"https") || parts->host.isEmpty())
            return std::nullopt;
    }
    QString result = parts->scheme.toString() + QLatin1Char(':');
    if (parts->hasAuthority) {
        result += QStringLiteral("//");
        result += parts->host;
        if (parts->hasPort) {
            result += QLatin1Char(':');
            result += parts->port;
        }
    }
    result += parts->path;
    return result;
}

std::optional<QString> sanitizedPayload(ReturnActionKind kind, const QString& payload) {
    const QString trimmed = payload.trimmed();
    // Cutting stops at the limit, so even a huge payload is rejected cheaply.
    if (trimmed.isEmpty() || !Graphemes::fitsWithin(trimmed, maxPayloadLength))
        return std::nullopt;
    switch (kind) {
    case ReturnActionKind::OpenURL:
        return redactedURLString(trimmed, true);
    case ReturnActionKind::DeepLink:
        return redactedURLString(trimmed, false);
    case ReturnActionKind::OpenFile: {
        if (trimmed.startsWith(u'/'))
            return trimmed;
        const QUrl url(trimmed, QUrl::StrictMode);
        const QString path = url.path(QUrl::FullyDecoded);
        if (url.isValid() && url.isLocalFile() && !path.isEmpty())
            return path;
        return std::nullopt;
    }
    case ReturnActionKind::ActivateWindow:
    case ReturnActionKind::RunCommand:
    case ReturnActionKind::CopyText:
        return trimmed;
    }
    Q_UNREACHABLE();
}

int provenancePriority(const QString& provenance) {
    if (provenance == u"user")
        return 0;
    if (provenance.startsWith(u"detector:"))
        return 1;
    return 2;
}

} // namespace ReturnActionSanitizer
