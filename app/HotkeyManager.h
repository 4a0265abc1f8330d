#pragma once

#include <QObject>
#include <functional>
#include <optional>

class GlobalHotkey;
class UserDefaults;

// The global shortcut that toggles the dropdown, from "settings.hotkey.keyCode" and
// "settings.hotkey.modifiers" (Alt+Super+L by default); taken again whenever the settings
// change it. Releasing the manager gives the shortcut up.
class HotkeyManager : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 kDefaultKeyCode = 37;     // L
    static constexpr qint64 kDefaultModifiers = 2304; // command + option
    static inline const QString kKeyCodeKey = QStringLiteral("settings.hotkey.keyCode");
    static inline const QString kModifiersKey = QStringLiteral("settings.hotkey.modifiers");

    HotkeyManager(GlobalHotkey& hotkey, UserDefaults& settings, std::function<void()> onPress,
                  QObject* parent = nullptr);
    ~HotkeyManager() override;

    // Reads the settings and takes the shortcut; false (logged once per shortcut) when it
    // cannot be had.
    bool registerHotkey();
    bool isRegistered() const { return m_registered; }
    // The shortcut the settings name, as people read it ("Alt+Super+L").
    static QString shortcutText(const UserDefaults& settings);

Q_SIGNALS:
    // The settings' "app.kestrune.hotkey-changed": the shortcut was taken again.
    void hotkeyChanged();

private:
    struct Shortcut {
        qint64 keyCode;
        qint64 modifiers;
        bool operator==(const Shortcut&) const = default;
    };
    static Shortcut current(const UserDefaults& settings);

    GlobalHotkey& m_hotkey;
    UserDefaults& m_settings;
    std::function<void()> m_onPress;
    std::optional<Shortcut> m_shortcut;
    bool m_registered = false;
};
