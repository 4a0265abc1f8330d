#pragma once

#include "app/NotchIsland.h"

#include <QObject>
#include <QPointer>
#include <QVariantAnimation>
#include <functional>
#include <memory>

class IslandView;
class QQmlEngine;
class QQuickView;
class QScreen;

// The island's window on X11: frameless, above normal windows on every desktop, a dock the
// window manager keeps out of the task bar and window cycling, never taking the keyboard,
// shaped to its rounded pill (the X Shape extension) unless a compositor draws transparency.
class IslandWindow : public QObject, public IslandPanel {
    Q_OBJECT
public:
    IslandWindow(QQmlEngine& engine, IslandView& view, QObject* parent = nullptr);
    ~IslandWindow() override;

    // Loads the view bound to the island's state; call once the island exists.
    void attach(NotchIsland& island);
    // Called when monitors come, go or change size.
    void onScreensChanged(std::function<void()> changed) { m_screensChanged = std::move(changed); }
    // Where no window can place itself at the top of the screen above the others (a wlroots
    // compositor, which floats an X11 dock window in the middle), the island shows nothing.
    void setPlaceable(bool placeable) { m_placeable = placeable; }

    void place(const QRectF& frame, bool animated, bool shadow) override;
    void hide() override;
    bool isShown() const override;
    std::optional<NotchGeometry::Metrics> screen(bool keepCurrent) override;

    QQuickView& window() { return *m_window; }

private:
    void prepareNativeWindow();
    void reshape();
    void followScreen(QScreen* screen);

    IslandView& m_view;
    std::unique_ptr<QQuickView> m_window;
    QVariantAnimation m_animation;
    QPointer<QScreen> m_screen;
    std::optional<NotchGeometry::Metrics> m_metrics; // of m_screen
    bool m_composited = false;
    bool m_placeable = true;
    std::function<void()> m_screensChanged;
};
