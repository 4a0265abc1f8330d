#pragma once

#include "model/Time.h"
#include "ui/LoopImages.h"
#include "ui/LoopRow.h"
#include "ui/SettingsView.h"

#include <QObject>
#include <QQmlEngine>
#include <functional>
#include <memory>

class AppModel;
class DropdownWindow;
class GlobalHotkey;
class HotkeyManager;
class IslandView;
class IslandWindow;
class NotchIsland;
class MenuBarView;
class OnboardingController;
class SettingsWindow;
class StatusItemController;
class UserCommands;
class UserDefaults;

// The visible Tessarine around a running application model, created in launch order: the
// settings window's place, the tray icon, the global shortcut, the island's place, and
// onboarding's place. Lives until the process exits.
class Shell : public QObject {
    Q_OBJECT
public:
    struct Dependencies {
        AppModel& model;
        UserCommands& commands;
        UserDefaults& settings;
        GlobalHotkey* hotkey; // none where the desktop gives no global shortcuts
        LoopRow::IconLookup iconName;
        std::function<TimePoint()> now;
        // What the exclusion picker offers.
        std::function<QList<InstalledApplication>()> installedApplications;
        // This build (version and commit): the island peeks once per build.
        QString build;
        // Whether the island can sit at the top of the screen on this desktop.
        bool islandPlaceable = true;
    };
    explicit Shell(Dependencies dependencies, QObject* parent = nullptr);
    ~Shell() override;

    void toggleDropdown();
    // Opens the dropdown (under the tray icon, or at the pointer).
    void openDropdown();
    void openSettings();

    MenuBarView& menu() { return *m_menu; }
    DropdownWindow& dropdown() { return *m_dropdown; }
    StatusItemController& statusItem() { return *m_statusItem; }
    OnboardingController& onboarding() { return *m_onboarding; }
    SettingsWindow& settingsWindow() { return *m_settingsWindow; }
    NotchIsland& island() { return *m_island; }
    IslandWindow& islandWindow() { return *m_islandWindow; }

private:
    void askForAccessibility(bool firstTime);

    Dependencies m_dependencies;
    LoopImages m_images;
    QQmlEngine m_engine;
    std::unique_ptr<MenuBarView> m_menu;
    std::unique_ptr<DropdownWindow> m_dropdown;
    std::unique_ptr<SettingsView> m_settingsView;
    std::unique_ptr<SettingsWindow> m_settingsWindow;
    std::unique_ptr<StatusItemController> m_statusItem;
    std::unique_ptr<HotkeyManager> m_hotkey;
    std::unique_ptr<IslandView> m_islandView;
    std::unique_ptr<IslandWindow> m_islandWindow;
    std::unique_ptr<NotchIsland> m_island;
    std::unique_ptr<OnboardingController> m_onboarding;
};
