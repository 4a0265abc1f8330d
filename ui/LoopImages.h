#pragma once

#include "model/LoopDisplayText.h"

#include <QHash>
#include <QImage>
#include <QQuickImageProvider>
#include <functional>
#include <optional>

class AppModel;
class QQmlEngine;

// The pictures rows show: AI sites' letter marks and pages' favicons, both cached.
class LoopImages {
public:
    static constexpr int kFaviconCacheLimit = 128;

    // A square tile of the site's colour with its letter.
    QImage mark(const AISiteMark::Site& site, int size);
    // A favicon given as a data address ("data:image/png;base64,…" or percent-encoded SVG).
    std::optional<QImage> favicon(const std::optional<QString>& dataURL);
    qsizetype faviconCacheSize() const { return m_favicons.size(); }

private:
    QHash<QString, QImage> m_marks;
    QHash<QString, std::optional<QImage>> m_favicons;
};

// Serves "image://loop/…" to the views: "app/<icon name>" (the icon theme), "site/<letter>/
// <rrggbb>" (a letter mark) and "favicon/<loop id>".
class LoopImageProvider final : public QQuickImageProvider {
public:
    using FaviconLookup = std::function<std::optional<QString>(const QString& loopID)>;
    LoopImageProvider(LoopImages& images, FaviconLookup favicon);
    // Serves `images` on `engine`, favicons read from `model`'s loops.
    static void install(QQmlEngine& engine, LoopImages& images, AppModel& model);
    QImage requestImage(const QString& id, QSize* size, const QSize& requestedSize) override;

private:
    LoopImages& m_images;
    FaviconLookup m_favicon;
};
