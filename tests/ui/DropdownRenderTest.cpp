#include "DropdownFixture.h"
#include "ui/DropdownWindow.h"
#include "ui/LoopImages.h"
#include "ui/StatusItemController.h"

#include <QBuffer>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QSet>

namespace {

using State = ContextState;

class DropdownRenderTest : public DropdownFixture {
protected:
    QQmlEngine engine;
    LoopImages images;

    // The texts the visible items of the drawn dropdown show.
    static void collect(const QQuickItem* item, QStringList& texts) {
        if (!item->isVisible())
            return;
        const QVariant text = item->property("text");
        if (text.isValid() && !text.toString().isEmpty())
            texts.append(text.toString());
        for (const QQuickItem* child : item->childItems())
            collect(child, texts);
    }
    struct Render {
        QImage image;
        QStringList texts;
    };
    Render render() {
        LoopImageProvider::install(engine, images, *model);
        DropdownWindow dropdown(engine, *menu);
        Render result{dropdown.render(), {}};
        collect(dropdown.window().rootObject(), result.texts);
        engine.removeImageProvider(u"loop"_qs);
        return result;
    }
    static int colours(const QImage& image) {
        QSet<QRgb> seen;
        for (int y = 0; y < image.height(); y += 3) {
            for (int x = 0; x < image.width(); x += 3)
                seen.insert(image.pixel(x, y));
        }
        return static_cast<int>(seen.size());
    }
};

} // namespace

TEST_F(DropdownRenderTest, TheMainStatesDrawWhatTheyShould) {
    const Render empty = render();
    EXPECT_GE(empty.image.width(), 300);
    EXPECT_GE(empty.image.height(), 150);
    EXPECT_GT(colours(empty.image), 10) << "drawn, not blank";
    EXPECT_TRUE(empty.texts.contains(u"All caught up"_qs)) << empty.texts.join(u'|').toStdString();
    EXPECT_TRUE(empty.texts.contains(u"0 ready"_qs));
    EXPECT_TRUE(empty.texts.contains(
        u"Turn on Accessibility so Tessarine can detect when sessions finish."_qs));

    SampleLoops::write(*model->store(), clock);
    accessibilitySwitch.set(true);
    model->refresh();
    const Render mixed = render();
    for (const QString& title : {u"Ready"_qs, u"Working"_qs, u"Backgrounded"_qs, u"Earlier"_qs})
        EXPECT_TRUE(mixed.texts.contains(title)) << title.toStdString();
    EXPECT_FALSE(mixed.texts.contains(u"All caught up"_qs));
    EXPECT_FALSE(mixed.texts.contains(
        u"Turn on Accessibility so Tessarine can detect when sessions finish."_qs));
    EXPECT_TRUE(mixed.texts.contains(u"Refactoring The Sync Engine"_qs));
    EXPECT_TRUE(mixed.texts.contains(u"Pause"_qs));
    EXPECT_FALSE(mixed.texts.contains(u"Approve"_qs));
    EXPECT_GT(mixed.image.height(), empty.image.height());

    model->togglePause();
    model->setPendingApproval(model->loops().ready.constFirst().id, true);
    const Render pausedWithApproval = render();
    EXPECT_TRUE(pausedWithApproval.texts.contains(u"Resume"_qs));
    EXPECT_TRUE(pausedWithApproval.texts.contains(u"Approve"_qs));
    EXPECT_TRUE(pausedWithApproval.texts.contains(u"Deny"_qs));
}

TEST_F(DropdownRenderTest, WhatKeepsWindowSwitchesFromBeingFollowedIsSaidWithItsOneStep) {
    EXPECT_FALSE(render().texts.contains(u"Install GNOME Extension"_qs)) << "nothing to say";
    int installs = 0;
    model->trackingNotice().set(SetupNotice::Offer{u"GNOME shows the front window only to its "
                                                   u"extensions."_qs,
                                                   u"Install GNOME Extension"_qs, [&] {
                                                       ++installs;
                                                       return u"Installed. Log out and back in."_qs;
                                                   }});
    const Render offered = render();
    EXPECT_TRUE(offered.texts.contains(u"GNOME shows the front window only to its extensions."_qs));
    EXPECT_TRUE(offered.texts.contains(u"Install GNOME Extension"_qs));

    menu->tracking()->act();
    menu->tracking()->act(); // taken once: the button is gone
    EXPECT_EQ(installs, 1);
    const Render done = render();
    EXPECT_TRUE(done.texts.contains(u"Installed. Log out and back in."_qs));
    EXPECT_FALSE(done.texts.contains(u"Install GNOME Extension"_qs));

    model->trackingNotice().set(std::nullopt);
    EXPECT_FALSE(render().texts.contains(u"Installed. Log out and back in."_qs));
}

TEST_F(DropdownRenderTest, TheTrayCountsLoopsWorthAttentionAndShowsThePause) {
    add("com.example.A", State::Ready, 1);
    add("com.example.B", State::Ready, 2);
    add("com.example.C", State::Backgrounded, 3, u"later"_qs);
    for (int i = 0; i < 5; ++i)
        add(QStringLiteral("com.example.Open%1").arg(i).toLatin1().constData(), State::Backgrounded,
            10 + i);
    StatusButton button = StatusButton::from(model->loops(), false);
    EXPECT_EQ(button.title(), u" 3"_qs) << "also-open loops are not counted";
    EXPECT_EQ(button.toolTip(), u"Tessarine — 3 open"_qs);
    EXPECT_EQ(StatusButton::from(GroupedLoops(), false).title(), QString());
    EXPECT_EQ(StatusButton::from(GroupedLoops(), false).toolTip(), u"Tessarine"_qs);
    EXPECT_EQ((StatusButton{false, 250}).badge(), u"99+"_qs);

    const StatusButton paused = StatusButton::from(model->loops(), true);
    EXPECT_EQ(paused.title(), QString()) << "no number while paused";
    EXPECT_EQ(paused.toolTip(), u"Tessarine is paused"_qs);

    // The badge is drawn into the icon; the paused icon is drawn disabled, without it.
    const QImage counted = StatusItemController::render(button, false).pixmap(32, 32).toImage();
    const QImage plain =
        StatusItemController::render(StatusButton{false, 0}, false).pixmap(32, 32).toImage();
    const QImage pausedIcon = StatusItemController::render(paused, false).pixmap(32, 32).toImage();
    ASSERT_FALSE(counted.isNull());
    EXPECT_NE(counted, plain);
    EXPECT_NE(pausedIcon, plain);
    const QColor corner = counted.pixelColor(28, 28);
    EXPECT_GT(corner.red(), 150) << "the red badge sits in the corner";
    int inked = 0;
    for (int y = 0; y < plain.height(); ++y) {
        for (int x = 0; x < plain.width(); ++x)
            inked += plain.pixelColor(x, y).alpha() > 0 ? 1 : 0;
    }
    EXPECT_GT(inked, 60) << "the circle itself is drawn (the SVG icon engine is installed)";
}

TEST(LoopImagesTest, FaviconsDecodeFromDataAddressesAndLetterMarksAreCached) {
    LoopImages images;
    QImage dot(2, 2, QImage::Format_ARGB32);
    dot.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    dot.save(&buffer, "PNG");
    const auto decoded =
        images.favicon(u"data:image/png;base64,"_qs + QString::fromLatin1(png.toBase64()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->size(), QSize(2, 2));

    // Percent-encoded SVG, no Base64.
    const auto svg = images.favicon(
        u"data:image/svg+xml,%3Csvg xmlns='http://www.w3.org/2000/svg' width='8' height='8'%3E"
        "%3Crect width='8' height='8' fill='blue'/%3E%3C/svg%3E"_qs);
    ASSERT_TRUE(svg) << "needs the SVG image plugin";
    EXPECT_EQ(svg->size(), QSize(8, 8));

    EXPECT_FALSE(images.favicon(std::nullopt));
    EXPECT_FALSE(images.favicon(u"https://example.com/favicon.ico"_qs));
    EXPECT_FALSE(images.favicon(u"data:image/png;base64"_qs)) << "no comma";
    EXPECT_FALSE(images.favicon(u"data:image/png;base64,%%%"_qs));
    EXPECT_FALSE(images.favicon(u"data:image/png;base64,AAAA"_qs)) << "not an image";

    // Past 128 decoded favicons the cache starts again rather than growing.
    for (int i = 0; i < 140; ++i)
        images.favicon(u"data:image/png;base64,"_qs + QString::fromLatin1(png.toBase64()) +
                       QString(i % 4, u'='));
    EXPECT_LE(images.faviconCacheSize(), LoopImages::kFaviconCacheLimit + 1);

    const AISiteMark::Site claude = *AISiteMark::detect(u"https://claude.ai/chat/1"_qs);
    const QImage mark = images.mark(claude, 24);
    EXPECT_EQ(mark.size(), QSize(24, 24));
    EXPECT_EQ(mark.pixelColor(2, 12).red(), qRound(0.85 * 255)) << "the site's colour";
    EXPECT_EQ(images.mark(claude, 24).cacheKey(), mark.cacheKey()) << "cached per site and size";
}
