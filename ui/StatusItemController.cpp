#include "ui/StatusItemController.h"

#include "app/AppModel.h"
#include "model/Log.h"
#include "ui/DropdownWindow.h"
#include "ui/QtX11.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSystemTrayIcon>

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

bool statusNotifierHostRuns() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() && bus.interface() &&
           bus.interface()->isServiceRegistered(kWatcherService).value();
}

// An XEmbed tray owns the _NET_SYSTEM_TRAY_Sn selection of the screen.
bool xembedTrayRuns() {
    return selectionOwned(qtX11Connection(), "_NET_SYSTEM_TRAY_S0");
}

bool darkPanel() {
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

} // namespace

StatusItemController::StatusItemController(AppModel& model, DropdownWindow& popover,
                                           std::function<void()> openSettings, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_popover(popover)
    , m_openSettings(std::move(openSettings)) {
    m_model.observeChanges([this] { updateButton(); }); // loops, and pause or resume
    updateButton();
    // The tray's kind (StatusNotifierItem or XEmbed) is fixed by Qt at its first use, so it
    // is created only once a host is known to run.
    if (statusNotifierHostRuns() || xembedTrayRuns()) {
        createTray();
        return;
    }
    qCInfo(lcApp) << "No system tray is running; open Tessarine with its shortcut or with"
                  << "`tessarine toggle`. The icon"
                  << "appears when a StatusNotifier tray starts.";
    m_hostWatcher = std::make_unique<QDBusServiceWatcher>(
        kWatcherService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration);
    connect(m_hostWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (!m_tray)
            createTray();
    });
}

StatusItemController::~StatusItemController() = default;

void StatusItemController::createTray() {
    m_menu = std::make_unique<QMenu>();
    m_menu->addAction(QStringLiteral("Open Tessarine"), this, [this] { open(); });
    QAction* pause = m_menu->addAction(QStringLiteral("Pause"), &m_model, &AppModel::togglePause);
    m_menu->addAction(QStringLiteral("Settings…"), this, [this] {
        if (m_openSettings)
            m_openSettings();
    });
    m_menu->addSeparator();
    m_menu->addAction(QStringLiteral("Quit Tessarine"), qApp, &QCoreApplication::quit);
    connect(m_menu.get(), &QMenu::aboutToShow, pause, [this, pause] {
        pause->setText(m_model.isPaused() ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    });

    m_tray = std::make_unique<QSystemTrayIcon>();
    m_tray->setContextMenu(m_menu.get());
    connect(m_tray.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
                    toggle();
            });
    m_drawn = false;
    updateButton();
    m_tray->show();
}

void StatusItemController::updateButton() {
    const StatusButton button = StatusButton::from(m_model.loops(), m_model.isPaused());
    if (m_drawn && button == m_button)
        return;
    m_button = button;
    m_icon = render(button, darkPanel());
    if (m_tray) {
        m_tray->setIcon(m_icon);
        m_tray->setToolTip(button.toolTip());
        m_drawn = true;
    }
}

void StatusItemController::open() {
    m_model.refresh();
    const QRect geometry = m_tray ? m_tray->geometry() : QRect();
    m_popover.showAt(geometry.isEmpty() ? std::nullopt : std::optional(geometry));
}

void StatusItemController::toggle() {
    if (m_popover.isShown())
        m_popover.close();
    else
        open();
}

QIcon StatusItemController::render(const StatusButton& button, bool darkPanel) {
    const QString variant = darkPanel ? QStringLiteral("-light") : QString();
    const QIcon base(button.paused
                         ? QStringLiteral(":/resources/icons/tessarine-paused%1.svg").arg(variant)
                         : QStringLiteral(":/resources/icons/tessarine%1.svg").arg(variant));
    const QString badge = button.badge();
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap =
            base.pixmap(QSize(size, size), button.paused ? QIcon::Disabled : QIcon::Normal);
        if (!badge.isEmpty()) {
            QPainter painter(&pixmap);
            painter.setRenderHint(QPainter::Antialiasing);
            QFont font = QGuiApplication::font();
            font.setBold(true);
            font.setPixelSize(std::max(7, size * 9 / 16));
            painter.setFont(font);
            const int height = std::max(9, size * 5 / 8);
            const int width =
                std::min(size, std::max(height, painter.fontMetrics().horizontalAdvance(badge) +
                                                    height / 3));
            const QRectF pill(size - width, size - height, width, height);
            painter.setPen(Qt::NoPen);
            painter.setBrush(QColor(0xd9, 0x3a, 0x2b));
            painter.drawRoundedRect(pill, height / 2.0, height / 2.0);
            painter.setPen(Qt::white);
            painter.drawText(pill, Qt::AlignCenter, badge);
        }
        icon.addPixmap(pixmap, QIcon::Normal);
    }
    return icon;
}
