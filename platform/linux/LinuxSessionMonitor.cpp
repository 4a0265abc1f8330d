#include "platform/linux/LinuxSessionMonitor.h"

#include "model/Log.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace {
const QString kLogin1 = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
} // namespace

LinuxSessionMonitor::LinuxSessionMonitor(QObject* parent)
    : SessionMonitor(parent)
    , m_system(QDBusConnection::systemBus())
    , m_sessionID(qEnvironmentVariable("XDG_SESSION_ID")) {
    if (m_system.isConnected()) {
        m_connected +=
            m_system.connect(kLogin1, kManagerPath, kManager, QStringLiteral("PrepareForSleep"),
                             this, SLOT(onPrepareForSleep(bool)));
        findSession();
    }
    QDBusConnection session = QDBusConnection::sessionBus();
    if (session.isConnected()) {
        // Naming the service makes the bus library accept the signal only from that name's
        // current owner.
        for (const char* name : {"org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver"})
            m_connected += session.connect(
                QString::fromLatin1(name), QString(), QString::fromLatin1(name),
                QStringLiteral("ActiveChanged"), this, SLOT(onScreenSaverActiveChanged(bool)));
    }
}

LinuxSessionMonitor::~LinuxSessionMonitor() = default;

void LinuxSessionMonitor::expectPath(QDBusPendingCallWatcher* watcher,
                                     std::function<void(const QString&)> done,
                                     std::function<void()> fallback) {
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [done = std::move(done),
                      fallback = std::move(fallback)](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusMessage reply = finished->reply();
                         const QVariant first = reply.type() == QDBusMessage::ReplyMessage &&
                                                        !reply.arguments().isEmpty()
                                                    ? reply.arguments().constFirst()
                                                    : QVariant();
                         const QString path = first.value<QDBusObjectPath>().path();
                         if (path.isEmpty() || path == u"/")
                             fallback();
                         else
                             done(path);
                     });
}

void LinuxSessionMonitor::findSession() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogin1, kManagerPath, kManager, u"GetSessionByPID"_qs);
    call << static_cast<quint32>(QCoreApplication::applicationPid());
    expectPath(
        new QDBusPendingCallWatcher(m_system.asyncCall(call), this),
        [this](const QString& path) { follow(path); }, [this] { askByID(); });
}

void LinuxSessionMonitor::askByID() {
    const QString id = m_sessionID;
    if (id.isEmpty()) {
        askDisplaySession();
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogin1, kManagerPath, kManager, u"GetSession"_qs);
    call << id;
    expectPath(
        new QDBusPendingCallWatcher(m_system.asyncCall(call), this),
        [this](const QString& path) { follow(path); }, [this] { askDisplaySession(); });
}

void LinuxSessionMonitor::askDisplaySession() {
    // A process started as a user service belongs to no session: the user's display
    // session is the one they sit at.
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogin1, u"/org/freedesktop/login1/user/self"_qs,
                                       u"org.freedesktop.DBus.Properties"_qs, u"Get"_qs);
    call << u"org.freedesktop.login1.User"_qs << u"Display"_qs;
    auto* watcher = new QDBusPendingCallWatcher(m_system.asyncCall(call), this);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, this,
                     [this](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *finished;
                         QString path;
                         if (reply.isValid()) {
                             // Display is (so): the session id and its object path.
                             const QDBusArgument display =
                                 reply.value().variant().value<QDBusArgument>();
                             QString id;
                             QDBusObjectPath object;
                             display.beginStructure();
                             display >> id >> object;
                             display.endStructure();
                             path = object.path();
                         }
                         if (path.isEmpty() || path == u"/") {
                             qCInfo(lcApp) << "No login session found; screen locks are not"
                                              " followed, only sleep and the screen saver";
                             return;
                         }
                         follow(path);
                     });
}

void LinuxSessionMonitor::follow(const QString& path) {
    m_sessionPath = path;
    m_connected += m_system.connect(kLogin1, path, kSession, u"Lock"_qs, this, SLOT(onLock()));
    m_connected += m_system.connect(kLogin1, path, kSession, u"Unlock"_qs, this, SLOT(onUnlock()));
    m_connected += m_system.connect(
        kLogin1, path, u"org.freedesktop.DBus.Properties"_qs, u"PropertiesChanged"_qs, this,
        SLOT(onSessionPropertiesChanged(QString, QVariantMap, QStringList)));
    Q_EMIT sessionFound(path);
}

void LinuxSessionMonitor::set(Reason reason, bool holds) {
    const bool wasAway = m_reasons != 0;
    const unsigned bit = 1u << static_cast<unsigned>(reason);
    m_reasons = holds ? (m_reasons | bit) : (m_reasons & ~bit);
    const bool isAway = m_reasons != 0;
    if (isAway && !wasAway)
        Q_EMIT away();
    else if (wasAway && !isAway)
        Q_EMIT returned();
}

void LinuxSessionMonitor::onLock() {
    set(Reason::Locked, true);
}

void LinuxSessionMonitor::onUnlock() {
    set(Reason::Locked, false);
}

void LinuxSessionMonitor::onSessionPropertiesChanged(const QString& interface,
                                                     const QVariantMap& changed,
                                                     const QStringList&) {
    if (interface != kSession)
        return;
    const auto hint = changed.constFind(u"LockedHint"_qs);
    if (hint != changed.cend())
        set(Reason::Locked, hint->toBool());
}

void LinuxSessionMonitor::onPrepareForSleep(bool sleeping) {
    set(Reason::Sleeping, sleeping);
}

void LinuxSessionMonitor::onScreenSaverActiveChanged(bool active) {
    set(Reason::ScreenSaver, active);
}
