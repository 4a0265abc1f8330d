#pragma once

#include <QObject>
#include <QRect>
#include <memory>
#include <optional>

class MenuBarView;
class QQmlEngine;
class QQuickView;
class QImage;

// The dropdown: a frameless Qt Quick window that opens under the tray icon (or at the
// pointer), on that screen and inside its free area, takes the keyboard, stays out of the
// task bar and window switcher, and closes when it loses focus or on Escape.
class DropdownWindow : public QObject {
    Q_OBJECT
public:
    DropdownWindow(QQmlEngine& engine, MenuBarView& view, QObject* parent = nullptr);
    ~DropdownWindow() override;

    bool isShown() const;
    // `anchor`: the tray icon's place on screen, when the tray tells it.
    void showAt(std::optional<QRect> anchor);
    Q_INVOKABLE void close();
    QQuickView& window() { return *m_window; }
    // The dropdown drawn offscreen, as it would be shown.
    QImage render();
    // Where a window of `size` goes for an anchor (or the pointer) inside a screen's free area.
    static QPoint placement(QSize size, std::optional<QRect> anchor, QPoint pointer,
                            QRect available);

Q_SIGNALS:
    void shown();
    void hidden();

private:
    void keepOutOfTaskbar();

    MenuBarView& m_view;
    std::unique_ptr<QQuickView> m_window;
    bool m_wasActive = false;
};
