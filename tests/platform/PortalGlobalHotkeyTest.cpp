// Runs inside scripts/test-env.sh: a stand-in desktop portal on the session bus.
#include "platform/linux/PortalGlobalHotkey.h"
#include "Wait.h"

#include <QProcess>
#include <gtest/gtest.h>

TEST(PortalGlobalHotkeyTest, TheShortcutIsBoundWithTheUsersChoiceAndEveryPressArrives) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    EXPECT_FALSE(PortalGlobalHotkey::isAvailable()) << "no portal on the test bus yet";
    QProcess portal;
    portal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    portal.start(QStringLiteral(TESSARINE_TEST_PORTAL));
    ASSERT_TRUE(portal.waitForReadyRead(10000));
    ASSERT_EQ(portal.readLine(), "ready\n");
    ASSERT_TRUE(PortalGlobalHotkey::isAvailable());

    PortalGlobalHotkey hotkey;
    int presses = 0;
    ASSERT_TRUE(
        hotkey.grab(37, GlobalHotkey::kOption | GlobalHotkey::kCommand, [&] { ++presses; }));
    QByteArray said;
    ASSERT_TRUE(waitFor([&] {
        said += portal.readAll();
        return said.contains('\n');
    }));
    EXPECT_EQ(said, "bound toggle ALT+LOGO+l\n") << "Alt+Super+L offered as the trigger";
    ASSERT_TRUE(waitFor([&] { return !hotkey.boundTrigger().isEmpty(); }));
    EXPECT_EQ(hotkey.boundTrigger(), u"ALT+LOGO+l"_qs);

    portal.write("press\n");
    ASSERT_TRUE(waitFor([&] { return presses == 1; }));
    portal.write("press\n");
    ASSERT_TRUE(waitFor([&] { return presses == 2; }));

    // A new choice is bound in the same session.
    said.clear();
    hotkey.grab(40, GlobalHotkey::kControl | GlobalHotkey::kShift, [&] { presses += 10; });
    ASSERT_TRUE(waitFor([&] {
        said += portal.readAll();
        return said.contains('\n');
    }));
    EXPECT_EQ(said, "bound toggle CTRL+SHIFT+k\n");

    hotkey.release();
    portal.write("press\n");
    runEventLoopFor(300);
    EXPECT_EQ(presses, 2) << "released: presses are ignored";
    portal.closeWriteChannel();
    portal.waitForFinished(5000);

    EXPECT_FALSE(PortalGlobalHotkey::trigger(122, GlobalHotkey::kOption)) << "F1 has no name here";
}
