// Runs inside scripts/test-env.sh: a private D-Bus session bus, plus a second private bus that
// plays the system bus, on which the test owns org.freedesktop.login1 as logind would.
#include "platform/linux/LinuxSessionMonitor.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QProcess>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

void settle() {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void emitSignal(QDBusConnection& bus, const char* path, const char* interface, const char* name,
                const QVariantList& arguments = {}) {
    QDBusMessage message = QDBusMessage::createSignal(
        QString::fromLatin1(path), QString::fromLatin1(interface), QString::fromLatin1(name));
    message.setArguments(arguments);
    ASSERT_TRUE(bus.send(message));
}

} // namespace

TEST(LinuxSessionMonitorTest, LockSleepAndScreenSaverMeanAwayAndBack) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QProcess systemBus;
    systemBus.start(QStringLiteral("dbus-daemon"),
                    {QStringLiteral("--session"), QStringLiteral("--nofork"),
                     QStringLiteral("--print-address=1")});
    ASSERT_TRUE(systemBus.waitForReadyRead(5000));
    const QString address = QString::fromUtf8(systemBus.readLine()).trimmed();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());

    QDBusConnection logind = QDBusConnection::connectToBus(address, QStringLiteral("fake-logind"));
    ASSERT_TRUE(logind.isConnected());
    ASSERT_TRUE(logind.interface()->registerService(QStringLiteral("org.freedesktop.login1")));

    LinuxSessionMonitor monitor;
    EXPECT_EQ(monitor.connectedSources(), 5);
    QStringList seen;
    QObject::connect(&monitor, &SessionMonitor::away, [&] { seen.append(u"away"_qs); });
    QObject::connect(&monitor, &SessionMonitor::returned, [&] { seen.append(u"returned"_qs); });

    emitSignal(logind, "/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session",
               "Lock");
    settle();
    emitSignal(logind, "/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session",
               "Unlock");
    settle();
    emitSignal(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
               "PrepareForSleep", {true});
    settle();
    emitSignal(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
               "PrepareForSleep", {false});
    settle();
    QDBusConnection session = QDBusConnection::sessionBus();
    emitSignal(session, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver",
               "ActiveChanged", {true});
    settle();
    emitSignal(session, "/org/gnome/ScreenSaver", "org.gnome.ScreenSaver", "ActiveChanged",
               {false});
    settle();
    EXPECT_EQ(seen, (QStringList{u"away"_qs, u"returned"_qs, u"away"_qs, u"returned"_qs, u"away"_qs,
                                 u"returned"_qs}));

    // Someone else pretending to be logind on another name is not believed.
    QDBusConnection impostor = QDBusConnection::connectToBus(address, QStringLiteral("impostor"));
    emitSignal(impostor, "/org/freedesktop/login1/session/_32", "org.freedesktop.login1.Session",
               "Lock");
    settle();
    EXPECT_EQ(seen.size(), 6);

    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
    QDBusConnection::disconnectFromBus(QStringLiteral("impostor"));
    systemBus.kill();
    systemBus.waitForFinished();
}
