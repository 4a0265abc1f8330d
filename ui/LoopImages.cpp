#include "ui/LoopImages.h"

#include "app/AppModel.h"

#include <QByteArray>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QQmlEngine>
#include <QUrl>

QImage LoopImages::mark(const AISiteMark::Site& site, int size) {
    const QString key = QStringLiteral("%1|%2|%3").arg(site.name, site.letter).arg(size);
    if (const auto cached = m_marks.constFind(key); cached != m_marks.constEnd())
        return *cached;
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(static_cast<float>(site.red), static_cast<float>(site.green),
                                      static_cast<float>(site.blue)));
    painter.drawRoundedRect(QRectF(0, 0, size, size), size / 4.5, size / 4.5);
    QFont font;
    font.setBold(true);
    font.setPixelSize(std::max(6, size * 5 / 8));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, site.letter);
    painter.end();
    m_marks.insert(key, image);
    return image;
}

std::optional<QImage> LoopImages::favicon(const std::optional<QString>& dataURL) {
    if (!dataURL || !dataURL->startsWith(QLatin1String("data:image/")))
        return std::nullopt;
    const qsizetype comma = dataURL->indexOf(u',');
    if (comma < 0)
        return std::nullopt;
    if (const auto cached = m_favicons.constFind(*dataURL); cached != m_favicons.constEnd())
        return *cached;
    const QString header = dataURL->left(comma);
    const QByteArray payload = dataURL->mid(comma + 1).toUtf8();
    QByteArray bytes;
    if (header.contains(QLatin1String(";base64"))) {
        const auto decoded =
            QByteArray::fromBase64Encoding(payload, QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded)
            return std::nullopt;
        bytes = *decoded;
    } else {
        bytes = QByteArray::fromPercentEncoding(payload);
    }
    QImage image;
    if (!image.loadFromData(bytes))
        return std::nullopt;
    if (m_favicons.size() > kFaviconCacheLimit)
        m_favicons.clear();
    m_favicons.insert(*dataURL, image);
    return image;
}

LoopImageProvider::LoopImageProvider(LoopImages& images, FaviconLookup favicon)
    : QQuickImageProvider(QQuickImageProvider::Image)
    , m_images(images)
    , m_favicon(std::move(favicon)) {}

QImage LoopImageProvider::requestImage(const QString& id, QSize* size, const QSize& requestedSize) {
    const int side = requestedSize.width() > 0 ? requestedSize.width() : 32;
    const qsizetype slash = id.indexOf(u'/');
    const QString kind = id.left(slash);
    const QString rest =
        slash < 0 ? QString() : QUrl::fromPercentEncoding(id.mid(slash + 1).toUtf8());
    QImage image;
    if (kind == u"app") {
        const QIcon icon = rest.startsWith(u'/') ? QIcon(rest) : QIcon::fromTheme(rest);
        image = icon.pixmap(QSize(side, side)).toImage();
    } else if (kind == u"site") {
        const QStringList parts = rest.split(u'/');
        const QColor color(QLatin1Char('#') + parts.value(1));
        if (!parts.value(0).isEmpty() && color.isValid())
            image = m_images.mark(
                {QString(), parts.value(0), color.redF(), color.greenF(), color.blueF()}, side);
    } else if (kind == u"favicon" && m_favicon) {
        image = m_images.favicon(m_favicon(rest)).value_or(QImage());
    }
    if (size)
        *size = image.size();
    return image;
}

void LoopImageProvider::install(QQmlEngine& engine, LoopImages& images, AppModel& model) {
    engine.addImageProvider(
        QStringLiteral("loop"),
        new LoopImageProvider(images, [&model](const QString& id) -> std::optional<QString> {
            const std::optional<CapsuleRecord> capsule = model.capsule(id);
            return capsule ? capsule->context.favicon : std::nullopt;
        }));
}
