#include "platform/linux/X11GlobalHotkey.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

TEST(GlobalHotkeyKeys, VirtualKeysModifierBitsAndLockCombinations) {
    EXPECT_EQ(GlobalHotkey::keysym(37), 'l');
    EXPECT_EQ(GlobalHotkey::keysym(0), 'a');
    EXPECT_EQ(GlobalHotkey::keysym(49), ' ');
    EXPECT_EQ(GlobalHotkey::keysym(122), 0xffbeu) << "F1";
    EXPECT_FALSE(GlobalHotkey::keysym(10)) << "no key there on an ANSI keyboard";
    EXPECT_EQ(GlobalHotkey::describe(40, 0x1200), u"Ctrl+Shift+K"_qs);

    // Super and Alt sit where the server's modifier map puts them.
    EXPECT_EQ(X11GlobalHotkey::modifierMask(0x900, XCB_MOD_MASK_4, XCB_MOD_MASK_1),
              XCB_MOD_MASK_4 | XCB_MOD_MASK_1);
    EXPECT_EQ(X11GlobalHotkey::modifierMask(0x100, XCB_MOD_MASK_3, XCB_MOD_MASK_1), XCB_MOD_MASK_3);
    EXPECT_EQ(X11GlobalHotkey::modifierMask(0x1200, XCB_MOD_MASK_4, XCB_MOD_MASK_1),
              XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT);
    // A bare key, or Shift alone, would be taken from every application.
    EXPECT_FALSE(X11GlobalHotkey::modifierMask(0, XCB_MOD_MASK_4, XCB_MOD_MASK_1));
    EXPECT_FALSE(X11GlobalHotkey::modifierMask(0x200, XCB_MOD_MASK_4, XCB_MOD_MASK_1));

    const QList<quint16> all =
        X11GlobalHotkey::lockCombinations({XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, XCB_MOD_MASK_5});
    EXPECT_EQ(all.size(), 8);
    EXPECT_EQ(all.constFirst(), 0);
    EXPECT_TRUE(all.contains(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 | XCB_MOD_MASK_5));
    EXPECT_EQ(X11GlobalHotkey::lockCombinations({XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2, 0}).size(), 4)
        << "no ScrollLock on this keyboard";
}
