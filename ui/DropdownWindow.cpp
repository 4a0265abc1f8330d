#include "ui/DropdownWindow.h"

#include "model/Log.h"
#include "ui/MenuBarView.h"
#include "ui/QtX11.h"

#include <QCursor>
#include <QGuiApplication>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QScreen>
#include <algorithm>

DropdownWindow::DropdownWindow(QQmlEngine& engine, MenuBarView& view, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_window(std::make_unique<QQuickView>(&engine, nullptr)) {
    m_window->setTitle(QStringLiteral("Tessarine"));
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    m_window->setResizeMode(QQuickView::SizeViewToRootObject);
    m_window->setInitialProperties({{QStringLiteral("menu"), QVariant::fromValue(&m_view)},
                                    {QStringLiteral("dropdown"), QVariant::fromValue(this)}});
    m_window->setSource(QUrl(QStringLiteral("qrc:/ui/qml/Dropdown.qml")));
    for (const QQmlError& error : m_window->errors())
        qCCritical(lcApp).noquote() << "The dropdown cannot be drawn:" << error.toString();
    connect(m_window.get(), &QWindow::activeChanged, this, [this] {
        // Closes when focus goes elsewhere (a click outside, another window raised).
        if (m_window->isActive())
            m_wasActive = true;
        else if (m_wasActive && m_window->isVisible())
            close();
    });
    connect(&m_view, &MenuBarView::closeRequested, this, &DropdownWindow::close);
}

DropdownWindow::~DropdownWindow() = default;

bool DropdownWindow::isShown() const {
    return m_window->isVisible();
}

QPoint DropdownWindow::placement(QSize size, std::optional<QRect> anchor, QPoint pointer,
                                 QRect available) {
    QPoint wanted;
    if (anchor) {
        // Below an icon in a top panel, above one in a bottom panel.
        const bool below = anchor->center().y() < available.center().y();
        wanted = QPoint(anchor->center().x() - size.width() / 2,
                        below ? anchor->bottom() + 4 : anchor->top() - 4 - size.height());
    } else {
        wanted = QPoint(pointer.x() - size.width() / 2, pointer.y() + 8);
    }
    const int right = std::max(available.left(), available.right() + 1 - size.width());
    const int bottom = std::max(available.top(), available.bottom() + 1 - size.height());
    return {std::clamp(wanted.x(), available.left(), right),
            std::clamp(wanted.y(), available.top(), bottom)};
}

void DropdownWindow::keepOutOfTaskbar() {
    addWindowStates(*m_window, {"_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"});
}

void DropdownWindow::showAt(std::optional<QRect> anchor) {
    const QPoint pointer = QCursor::pos();
    QScreen* screen =
        anchor ? QGuiApplication::screenAt(anchor->center()) : QGuiApplication::screenAt(pointer);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (screen) {
        m_window->setScreen(screen);
        m_window->setPosition(
            placement(m_window->size(), anchor, pointer, screen->availableGeometry()));
    }
    m_wasActive = false;
    keepOutOfTaskbar();
    m_window->show();
    m_window->raise();
    m_window->requestActivate();
    m_view.setListFocused(true);
    Q_EMIT shown();
}

void DropdownWindow::close() {
    if (!m_window->isVisible())
        return;
    m_view.commitNote(); // a note being typed is kept, not lost with the window
    m_view.setListFocused(false);
    m_window->hide();
    m_wasActive = false;
    Q_EMIT hidden();
}

QImage DropdownWindow::render() {
    return m_window->grabWindow();
}
