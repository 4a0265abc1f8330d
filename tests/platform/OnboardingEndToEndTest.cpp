// The welcome window on the test desktop, walked through and skipped with AT-SPI.
#include "EngineHarness.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QJsonDocument>
#include <QJsonObject>

using namespace EngineHarness;

namespace {

bool welcomeShown() {
    return !shownWindow(u"^Welcome to Tessarine$"_qs).isEmpty();
}

const QByteArray kFirstLaunch =
    R"({"settings.engagementSeconds": 0, "settings.launchAtLogin.configured": true})";

void setAccessibility(bool enabled) {
    for (const QString& property : {u"IsEnabled"_qs, u"ScreenReaderEnabled"_qs}) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(u"org.a11y.Bus"_qs, u"/org/a11y/bus"_qs,
                                           u"org.freedesktop.DBus.Properties"_qs, u"Set"_qs);
        call << u"org.a11y.Status"_qs << property
             << QVariant::fromValue(QDBusVariant(property == u"IsEnabled"_qs && enabled));
        QDBusConnection::sessionBus().call(call);
    }
}

bool accessibilityOn() {
    QDBusMessage get = QDBusMessage::createMethodCall(
        u"org.a11y.Bus"_qs, u"/org/a11y/bus"_qs, u"org.freedesktop.DBus.Properties"_qs, u"Get"_qs);
    get << u"org.a11y.Status"_qs << u"IsEnabled"_qs;
    const QDBusMessage reply = QDBusConnection::sessionBus().call(get);
    return !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

const QList<QPair<QString, QString>> kReadable = {
    {u"QT_LINUX_ACCESSIBILITY_ALWAYS_ON"_qs, u"1"_qs}};

} // namespace

TEST(OnboardingEndToEndTest, SkippingOnTheFirstStepIsRememberedAcrossLaunches) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    {
        Engine engine(home, kFirstLaunch, kReadable);
        ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
        ASSERT_TRUE(waitFor(welcomeShown)) << engine.log();
        QByteArray said;
        ASSERT_EQ(pressControl(u"Welcome to Tessarine"_qs, u"Skip setup"_qs, &said), 0)
            << said.toStdString();
        EXPECT_TRUE(waitFor([] { return !welcomeShown(); }));
        EXPECT_TRUE(waitFor([&] {
            return defaultsOf(home).value(u"onboarding.completed"_qs) == true;
        })) << "stored as a flag";
        EXPECT_TRUE(engine.stop()) << engine.log();
    }
    Engine again(home, QJsonDocument(defaultsOf(home)).toJson(), kReadable);
    ASSERT_TRUE(again.waitForLog("Tessarine is running")) << again.log();
    EXPECT_FALSE(again.rawLog().contains("Showing the welcome window"));
    EXPECT_FALSE(welcomeShown());
    EXPECT_TRUE(again.stop());
}

TEST(OnboardingEndToEndTest, TheWalkThroughTurnsTheSwitchOnAfterAskingInOurDialog) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kFirstLaunch, kReadable);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    // Our own controls stay readable (Qt is told to expose them); only the desktop's switch
    // goes off.
    setAccessibility(false);
    ASSERT_TRUE(waitFor([] { return !accessibilityOn(); }));
    ASSERT_TRUE(waitFor(welcomeShown)) << engine.log();
    QByteArray said;
    ASSERT_EQ(pressControl(u"Welcome to Tessarine"_qs, u"Continue"_qs, &said), 0)
        << said.toStdString();
    ASSERT_EQ(pressControl(u"Welcome to Tessarine"_qs, u"Grant Accessibility"_qs, &said), 0)
        << said.toStdString();
    ASSERT_EQ(pressControl(u"Turn on Accessibility"_qs, u"Turn On"_qs, &said), 0)
        << said.toStdString();
    // The switch is on, and the walk moved to its last step by itself.
    EXPECT_TRUE(waitFor(accessibilityOn));
    ASSERT_EQ(pressControl(u"Welcome to Tessarine"_qs, u"Open Tessarine"_qs, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor([] { return !welcomeShown(); }));
    EXPECT_EQ(defaultsOf(home).value(u"onboarding.completed"_qs), true);
    EXPECT_EQ(defaultsOf(home).value(u"permissions.accessibility.prompted"_qs), true);
    EXPECT_TRUE(engine.stop()) << engine.log();
}
