#include "DropdownFixture.h"
#include "app/NotchIsland.h"
#include "ui/IslandView.h"
#include "ui/IslandWindow.h"

#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>

namespace {

class IslandRenderTest : public DropdownFixture {};

QQuickItem* child(QQuickItem* item, const char* name) {
    if (item->objectName() == QLatin1String(name))
        return item;
    for (QQuickItem* below : item->childItems()) {
        if (QQuickItem* found = child(below, name))
            return found;
    }
    return nullptr;
}

} // namespace

TEST_F(IslandRenderTest, TheLeadTaskIsElidedInsideTheModelsWidthsNeverClipped) {
    settings.setString(NotchIsland::kPeekedBuildKey, u"test"_qs);
    QQmlEngine engine;
    IslandView view(*model, *commands, [this] { return clock; }, {});
    IslandWindow window(engine, view);
    NotchIsland island(*model, settings, window, u"test"_qs, [this] { return clock; });
    window.attach(island);

    QString id;
    for (const QString& letters : {u"i"_qs, u"W"_qs, u"Wm"_qs}) {
        for (int length = 1; length <= 30; ++length) {
            if (!id.isEmpty())
                commands->dismiss(id);
            QString task;
            while (task.size() < length)
                task += letters;
            id = add("org.example.Build", ContextState::Waiting, 1, task.left(length));
            island.update(false);
            ASSERT_TRUE(window.isShown());
            QQuickItem* text = child(window.window().rootObject(), "leadTask");
            ASSERT_NE(text, nullptr);
            const double room = view.leadWidth() - 15;
            EXPECT_NEAR(text->width(), room, 0.5) << "laid out with the model's width";
            EXPECT_LE(text->property("paintedWidth").toDouble(), text->width() + 0.5)
                << task.left(length).toStdString() << ": never past its room";
            EXPECT_LE(text->x() + text->width(), view.leadWidth() + 0.5);
            const QImage drawn = window.window().grabWindow();
            EXPECT_EQ(drawn.width(), window.window().width());
        }
    }
    // The pill keeps the model's size: lead + trailing + 26, at least 150.
    EXPECT_EQ(window.window().height(), 28);
    EXPECT_NEAR(window.window().width(),
                std::clamp(view.leadWidth() + view.trailingWidth() + 26, 150.0, 460.0), 2)
        << "whole pixels around the fractional frame";
}
