// Runs inside scripts/test-env.sh: a private D-Bus session bus, plus a second private bus that
// plays the system bus, on which the test owns org.freedesktop.login1 as logind would.
#include "platform/linux/LinuxSessionMonitor.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

const char* const kOwnSession = "/org/freedesktop/login1/session/_32";
const char* const kOtherSeat = "/org/freedesktop/login1/session/_33";

// logind's manager, as far as the monitor asks it.
class FakeLogind : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    bool knowsPid = true;

public Q_SLOTS:
    QDBusObjectPath GetSessionByPID(uint pid) {
        if (!knowsPid || pid != QCoreApplication::applicationPid()) {
            sendErrorReply(u"org.freedesktop.login1.NoSessionForPID"_qs, u"no session"_qs);
            return {};
        }
        return QDBusObjectPath(QString::fromLatin1(kOwnSession));
    }
    QDBusObjectPath GetSession(const QString& id) {
        return QDBusObjectPath(u"/org/freedesktop/login1/session/"_qs + id);
    }
};

void emitSignal(QDBusConnection& bus, const char* path, const char* interface, const char* name,
                const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(name));
    message.setArguments(arguments);
    ASSERT_TRUE(bus.send(message));
}

void lockedHint(QDBusConnection& bus, const char* path, bool locked) {
    emitSignal(bus, path, "org.freedesktop.DBus.Properties", "PropertiesChanged",
               {u"org.freedesktop.login1.Session"_qs, QVariantMap{{u"LockedHint"_qs, locked}},
                QStringList{}});
}

class LinuxSessionMonitorTest : public ::testing::Test {
protected:
    QProcess systemBus;
    QString address;
    FakeLogind manager;
    QStringList seen;

    void SetUp() override {
        ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
        systemBus.start(u"dbus-daemon"_qs,
                        {u"--session"_qs, u"--nofork"_qs, u"--print-address=1"_qs});
        ASSERT_TRUE(systemBus.waitForReadyRead(5000));
        address = QString::fromUtf8(systemBus.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
        QDBusConnection logind = bus(u"fake-logind"_qs);
        ASSERT_TRUE(logind.isConnected());
        ASSERT_TRUE(logind.interface()->registerService(u"org.freedesktop.login1"_qs));
        ASSERT_TRUE(logind.registerObject(u"/org/freedesktop/login1"_qs, &manager,
                                          QDBusConnection::ExportAllSlots));
    }
    void TearDown() override {
        for (const char* name : {"fake-logind", "impostor", "screensaver", "saver-impostor"})
            QDBusConnection::disconnectFromBus(QString::fromLatin1(name));
        systemBus.kill();
        systemBus.waitForFinished();
    }
    QDBusConnection bus(const QString& name) {
        return QDBusConnection::connectToBus(address, name);
    }
    void record(LinuxSessionMonitor& monitor) {
        QObject::connect(&monitor, &SessionMonitor::away, [this] { seen.append(u"away"_qs); });
        QObject::connect(&monitor, &SessionMonitor::returned,
                         [this] { seen.append(u"returned"_qs); });
    }
    bool expectSeen(const QStringList& expected) {
        waitFor([&] { return seen.size() >= expected.size(); });
        runEventLoopFor(100); // nothing more may follow
        return seen == expected;
    }
};

} // namespace

TEST_F(LinuxSessionMonitorTest, OnlyThisSessionsLockAndTheScreenSaversOwnerCount) {
    LinuxSessionMonitor monitor;
    record(monitor);
    ASSERT_TRUE(waitFor([&] { return !monitor.sessionPath().isEmpty(); }));
    EXPECT_EQ(monitor.sessionPath(), QString::fromLatin1(kOwnSession));
    EXPECT_EQ(monitor.connectedSources(), 6);
    QDBusConnection logind = bus(u"fake-logind"_qs);

    // Another seat's lock is someone else's.
    emitSignal(logind, kOtherSeat, "org.freedesktop.login1.Session", "Lock");
    lockedHint(logind, kOtherSeat, true);
    EXPECT_TRUE(expectSeen({})) << seen.join(u' ').toStdString();

    // Lock and LockedHint say the same thing once; sleep while locked is still away.
    emitSignal(logind, kOwnSession, "org.freedesktop.login1.Session", "Lock");
    lockedHint(logind, kOwnSession, true);
    emitSignal(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
               "PrepareForSleep", {true});
    emitSignal(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
               "PrepareForSleep", {false});
    EXPECT_TRUE(expectSeen({u"away"_qs})) << seen.join(u' ').toStdString();
    lockedHint(logind, kOwnSession, false);
    EXPECT_TRUE(expectSeen({u"away"_qs, u"returned"_qs})) << seen.join(u' ').toStdString();
    seen.clear();

    // Someone else pretending to be logind is not believed.
    QDBusConnection impostor = bus(u"impostor"_qs);
    emitSignal(impostor, kOwnSession, "org.freedesktop.login1.Session", "Lock");
    EXPECT_TRUE(expectSeen({}));

    // The screen saver: its owner counts, any other sender does not.
    QDBusConnection saver =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"screensaver"_qs);
    ASSERT_TRUE(saver.interface()->registerService(u"org.freedesktop.ScreenSaver"_qs));
    QDBusConnection saverImpostor =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"saver-impostor"_qs);
    runEventLoopFor(100); // the new owner becomes known to the monitor's connection
    emitSignal(saverImpostor, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
               "ActiveChanged", {true});
    EXPECT_TRUE(expectSeen({}));
    emitSignal(saver, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
               "ActiveChanged", {true});
    EXPECT_TRUE(expectSeen({u"away"_qs}));
    emitSignal(saver, "/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", {false});
    EXPECT_TRUE(expectSeen({u"away"_qs, u"returned"_qs})) << seen.join(u' ').toStdString();
}

TEST_F(LinuxSessionMonitorTest, WithoutASessionOfItsOwnTheSessionIDNamesIt) {
    manager.knowsPid = false; // started outside a session, e.g. by a service manager
    const QByteArray previous = qgetenv("XDG_SESSION_ID");
    qputenv("XDG_SESSION_ID", "c7");
    LinuxSessionMonitor monitor;
    qputenv("XDG_SESSION_ID", previous);
    record(monitor);
    ASSERT_TRUE(waitFor([&] { return !monitor.sessionPath().isEmpty(); }));
    EXPECT_EQ(monitor.sessionPath(), u"/org/freedesktop/login1/session/c7"_qs);
    QDBusConnection logind = bus(u"fake-logind"_qs);
    emitSignal(logind, "/org/freedesktop/login1/session/c7", "org.freedesktop.login1.Session",
               "Lock");
    EXPECT_TRUE(expectSeen({u"away"_qs}));
}

#include "LinuxSessionMonitorTest.moc"
