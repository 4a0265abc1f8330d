// The shortcut on the test session's X server, pressed with xdotool.
#include "platform/linux/X11GlobalHotkey.h"
#include "LogCapture.h"
#include "Wait.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {
void pressKeys(const QString& keys) {
    QProcess::execute(u"xdotool"_qs, {u"key"_qs, keys});
}
} // namespace

TEST(X11GlobalHotkeyTest, AltSuperLFiresWithLocksOnAndASecondHolderIsRefused) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    X11GlobalHotkey hotkey;
    ASSERT_TRUE(hotkey.isConnected());
    int presses = 0;
    ASSERT_TRUE(hotkey.grab(37, 0x900, [&] { ++presses; }));

    pressKeys(u"alt+super+l"_qs);
    EXPECT_TRUE(waitFor([&] { return presses == 1; }));
    pressKeys(u"Num_Lock"_qs);
    pressKeys(u"alt+super+l"_qs);
    EXPECT_TRUE(waitFor([&] { return presses == 2; })) << "NumLock on";
    pressKeys(u"Num_Lock"_qs);
    pressKeys(u"super+l"_qs);
    pressKeys(u"alt+l"_qs);
    runEventLoopFor(300);
    EXPECT_EQ(presses, 2) << "only the whole combination";

    // Another program (here a second connection) cannot take it while it is held.
    X11GlobalHotkey other;
    EXPECT_FALSE(other.grab(37, 0x900, [] {}));
    pressKeys(u"alt+super+l"_qs);
    EXPECT_TRUE(waitFor([&] { return presses == 3; })) << "the refused grab took nothing away";

    // Given up, the combination is free for others.
    hotkey.release();
    int otherPresses = 0;
    EXPECT_TRUE(other.grab(37, 0x900, [&] { ++otherPresses; }));
    pressKeys(u"alt+super+l"_qs);
    EXPECT_TRUE(waitFor([&] { return otherPresses == 1; }));
    EXPECT_EQ(presses, 3);
}
