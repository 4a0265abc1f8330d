#include "platform/linux/LinuxSessionMonitor.h"

#include <QDBusConnection>

namespace {
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
}

LinuxSessionMonitor::LinuxSessionMonitor(QObject* parent)
    : SessionMonitor(parent) {
    QDBusConnection system = QDBusConnection::systemBus();
    if (system.isConnected()) {
        // Any session object: logind emits Lock/Unlock on the session being locked.
        m_connected +=
            system.connect(kLogin1, QString(), QStringLiteral("org.freedesktop.login1.Session"),
                           QStringLiteral("Lock"), this, SLOT(onLock()));
        m_connected +=
            system.connect(kLogin1, QString(), QStringLiteral("org.freedesktop.login1.Session"),
                           QStringLiteral("Unlock"), this, SLOT(onUnlock()));
        m_connected +=
            system.connect(kLogin1, QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"),
                           QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        for (const char* interface : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"})
            m_connected += session.connect(QString(), QString(), QString::fromLatin1(interface),
                                           QStringLiteral("ActiveChanged"), this,
                                           SLOT(onScreenSaverActiveChanged(bool)));
    }
}

LinuxSessionMonitor::~LinuxSessionMonitor() = default;

void LinuxSessionMonitor::onLock() {
    Q_EMIT away();
}

void LinuxSessionMonitor::onUnlock() {
    Q_EMIT returned();
}

void LinuxSessionMonitor::onPrepareForSleep(bool sleeping) {
    if (sleeping)
        Q_EMIT away();
    else
        Q_EMIT returned();
}

void LinuxSessionMonitor::onScreenSaverActiveChanged(bool active) {
    if (active)
        Q_EMIT away();
    else
        Q_EMIT returned();
}
