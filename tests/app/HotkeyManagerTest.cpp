#include "app/HotkeyManager.h"
#include "LogCapture.h"
#include "platform/fake/FakeGlobalHotkey.h"
#include "platform/fake/MemoryUserDefaults.h"

#include <gtest/gtest.h>

TEST(HotkeyManager, TheDefaultIsAltSuperLAndASettingsChangeReplacesIt) {
    FakeGlobalHotkey hotkey;
    MemoryUserDefaults settings;
    settings.setString(HotkeyManager::kKeyCodeKey, u"L"_qs); // the wrong type: the default
    int presses = 0;
    {
        HotkeyManager manager(hotkey, settings, [&] { ++presses; });
        EXPECT_TRUE(manager.registerHotkey());
        EXPECT_EQ(hotkey.grabbed, std::pair(37u, 0x900u));
        EXPECT_EQ(GlobalHotkey::describe(37, 0x900), u"Alt+Super+L"_qs);
        EXPECT_TRUE(hotkey.press(37, 0x900));
        EXPECT_EQ(presses, 1);

        // The settings record a new shortcut: the old one stops at once.
        int changes = 0;
        QObject::connect(&manager, &HotkeyManager::hotkeyChanged, [&] { ++changes; });
        settings.setInteger(HotkeyManager::kKeyCodeKey, 40);       // K
        settings.setInteger(HotkeyManager::kModifiersKey, 0x1200); // Ctrl+Shift
        EXPECT_FALSE(hotkey.press(37, 0x900));
        EXPECT_TRUE(hotkey.press(40, 0x1200));
        EXPECT_EQ(presses, 2);
        EXPECT_EQ(changes, 2);
        const int grabs = hotkey.grabs;
        settings.setBool(u"settings.other"_qs, true);
        EXPECT_EQ(hotkey.grabs, grabs) << "other settings leave the shortcut alone";
    }
    EXPECT_FALSE(hotkey.grabbed.has_value()) << "released with its manager";
}

TEST(HotkeyManager, AShortcutThatCannotBeHadIsLoggedOnceAndTheRestWorks) {
    FakeGlobalHotkey hotkey;
    MemoryUserDefaults settings;
    hotkey.taken.append({37u, 0x900u});
    LogCapture log;
    HotkeyManager manager(hotkey, settings, [] {});
    EXPECT_FALSE(manager.registerHotkey());
    EXPECT_FALSE(manager.registerHotkey());
    EXPECT_EQ(log.count(u"cannot be used"_qs), 1);
    EXPECT_EQ(log.count(u"Alt+Super+L"_qs), 1);

    // A value beyond 32 bits is never handed to the desktop.
    settings.setInteger(HotkeyManager::kKeyCodeKey, 1LL << 40);
    EXPECT_FALSE(manager.isRegistered());
    EXPECT_EQ(log.count(u"cannot be used"_qs), 2);
}
