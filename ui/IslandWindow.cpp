#include "ui/IslandWindow.h"

#include "model/Log.h"
#include "platform/linux/X11Struts.h"
#include "ui/IslandView.h"
#include "ui/QtX11.h"

#include <QCursor>
#include <QGuiApplication>
#include <QPainterPath>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickView>
#include <QRegion>
#include <QScreen>
namespace {

constexpr int kDockType = 0x4; // the xcb plugin's window-type flag for _NET_WM_WINDOW_TYPE_DOCK

} // namespace

IslandWindow::IslandWindow(QQmlEngine& engine, IslandView& view, QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_window(std::make_unique<QQuickView>(&engine, nullptr)) {
    m_window->setTitle(QStringLiteral("Tessarine island"));
    m_window->setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                       Qt::WindowDoesNotAcceptFocus);
    m_window->setProperty("_q_xcb_wm_window_type", kDockType);
    m_window->setResizeMode(QQuickView::SizeRootObjectToView);
    // A compositor owns _NET_WM_CM_S0 while it draws windows with transparency.
    m_composited = selectionOwned(qtX11Connection(), "_NET_WM_CM_S0");
    if (m_composited) {
        m_window->setColor(Qt::transparent);
    }
    m_animation.setDuration(220);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_animation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { m_window->setGeometry(value.toRect()); });
    connect(m_window.get(), &QWindow::widthChanged, this, [this] { reshape(); });
    connect(m_window.get(), &QWindow::heightChanged, this, [this] { reshape(); });

    const auto changed = [this] {
        if (m_screensChanged)
            m_screensChanged();
    };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, changed](QScreen* added) {
        followScreen(added);
        changed();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, changed);
    for (QScreen* screen : QGuiApplication::screens())
        followScreen(screen);
}

IslandWindow::~IslandWindow() = default;

void IslandWindow::followScreen(QScreen* screen) {
    const auto changed = [this] {
        if (m_screensChanged)
            m_screensChanged();
    };
    connect(screen, &QScreen::geometryChanged, this, changed);
    connect(screen, &QScreen::availableGeometryChanged, this, changed);
}

void IslandWindow::attach(NotchIsland& island) {
    m_window->setInitialProperties({{QStringLiteral("island"), QVariant::fromValue(&island)},
                                    {QStringLiteral("view"), QVariant::fromValue(&m_view)}});
    m_window->setSource(QUrl(QStringLiteral("qrc:/ui/qml/Island.qml")));
    for (const QQmlError& error : m_window->errors())
        qCCritical(lcApp).noquote() << "The island cannot be drawn:" << error.toString();
}

void IslandWindow::reshape() {
    if (m_composited)
        return;
    // Without a compositor a transparent window shows black corners: cut them away.
    QPainterPath path;
    path.addRoundedRect(QRectF(0, 0, m_window->width(), m_window->height()), 14, 14);
    m_window->setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void IslandWindow::prepareNativeWindow() {
    // On every desktop, above normal windows, out of task bars and pagers.
    addWindowStates(*m_window, {"_NET_WM_STATE_STICKY", "_NET_WM_STATE_SKIP_TASKBAR",
                                "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_STATE_ABOVE"});
    if (xcb_connection_t* connection = qtX11Connection()) {
        const quint32 allDesktops = 0xFFFFFFFF;
        xcb_change_property(
            connection, XCB_PROP_MODE_REPLACE, static_cast<xcb_window_t>(m_window->winId()),
            internAtom(connection, "_NET_WM_DESKTOP"), XCB_ATOM_CARDINAL, 32, 1, &allDesktops);
        xcb_flush(connection);
    }
}

void IslandWindow::place(const QRectF& frame, bool animated, bool shadow) {
    if (QQuickItem* root = m_window->rootObject())
        root->setProperty("shadow", shadow);
    const QRect target = frame.toAlignedRect();
    m_animation.stop();
    if (!m_window->isVisible()) {
        m_window->setGeometry(target);
        // The view follows the window's size on its next resize event; draw at once at the
        // new size (the first frame, and snapshots, would otherwise be of the old one).
        if (QQuickItem* root = m_window->rootObject())
            root->setSize(target.size());
        prepareNativeWindow();
        m_window->show(); // never activated: it does not take focus
        return;
    }
    if (animated && m_window->geometry() != target) {
        m_animation.setStartValue(m_window->geometry());
        m_animation.setEndValue(target);
        m_animation.start();
    } else {
        m_window->setGeometry(target);
        if (QQuickItem* root = m_window->rootObject())
            root->setSize(target.size());
    }
}

void IslandWindow::hide() {
    m_animation.stop();
    m_window->hide();
}

bool IslandWindow::isShown() const {
    return m_window->isVisible();
}

std::optional<NotchGeometry::Metrics> IslandWindow::screen(bool keepCurrent) {
    if (!m_placeable)
        return std::nullopt;
    // The panels' struts take a round trip per window: read when a screen is picked (at
    // start and on every screen or work-area change), not at every change of the loops.
    if (keepCurrent && m_screen && m_metrics &&
        QGuiApplication::screens().contains(m_screen.data()))
        return m_metrics;
    QScreen* picked = QGuiApplication::screenAt(QCursor::pos());
    if (!picked)
        picked = QGuiApplication::primaryScreen();
    m_screen = picked;
    m_metrics.reset();
    if (!m_screen)
        return std::nullopt;
    const QRect geometry = m_screen->geometry();
    int panel = m_screen->availableGeometry().top() - geometry.top();
    if (xcb_connection_t* connection = qtX11Connection())
        panel = X11Struts::reservedTop(X11Struts::read(connection), geometry);
    m_metrics =
        NotchGeometry::Metrics{QRectF(geometry), 0, std::nullopt, static_cast<double>(panel)};
    return m_metrics;
}
