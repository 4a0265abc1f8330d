// The accessibility switch of the test session's own org.a11y.Bus.
#include "platform/linux/A11yBusSwitch.h"
#include "Wait.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <gtest/gtest.h>

namespace {
// What another program (a desktop's settings panel) does to the switch.
void setElsewhere(const QString& property, bool value) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.a11y.Bus"_qs, u"/org/a11y/bus"_qs, u"org.freedesktop.DBus.Properties"_qs, u"Set"_qs);
    call << u"org.a11y.Status"_qs << property << QVariant::fromValue(QDBusVariant(value));
    QDBusConnection::sessionBus().call(call);
}
} // namespace

TEST(A11yBusSwitchTest, TheSwitchIsReadFollowedAndTurnedOn) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    A11yBusSwitch accessibility;
    int changes = 0;
    accessibility.onChange([&] { ++changes; });
    ASSERT_TRUE(accessibility.isEnabled().has_value()) << "the bus is activated on demand";

    setElsewhere(u"ScreenReaderEnabled"_qs, false);
    setElsewhere(u"IsEnabled"_qs, false);
    EXPECT_TRUE(waitFor([&] { return accessibility.isEnabled() == false; }));
    const int before = changes;
    // A screen reader alone counts: toolkits honour it too.
    setElsewhere(u"ScreenReaderEnabled"_qs, true);
    EXPECT_TRUE(waitFor([&] { return changes > before; })) << "heard, not polled";
    EXPECT_EQ(accessibility.isEnabled(), true);
    setElsewhere(u"ScreenReaderEnabled"_qs, false);
    setElsewhere(u"IsEnabled"_qs, false);
    EXPECT_TRUE(waitFor([&] { return accessibility.isEnabled() == false; }));

    EXPECT_TRUE(accessibility.enable());
    EXPECT_EQ(accessibility.isEnabled(), true);

    // No bus at all: nobody answers.
    A11yBusSwitch detached(QDBusConnection(u"none"_qs));
    EXPECT_FALSE(detached.isEnabled().has_value());
    EXPECT_FALSE(detached.enable());
}
