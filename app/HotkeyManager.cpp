#include "app/HotkeyManager.h"

#include "model/Log.h"
#include "platform/GlobalHotkey.h"
#include "platform/UserDefaults.h"

#include <limits>

HotkeyManager::HotkeyManager(GlobalHotkey& hotkey, UserDefaults& settings,
                             std::function<void()> onPress, QObject* parent)
    : QObject(parent)
    , m_hotkey(hotkey)
    , m_settings(settings)
    , m_onPress(std::move(onPress)) {
    connect(&m_settings, &UserDefaults::changed, this, [this] {
        if (m_shortcut && current(m_settings) != *m_shortcut) {
            registerHotkey();
            Q_EMIT hotkeyChanged();
        }
    });
}

HotkeyManager::~HotkeyManager() {
    if (m_registered)
        m_hotkey.release();
}

HotkeyManager::Shortcut HotkeyManager::current(const UserDefaults& settings) {
    return {settings.integerValue(kKeyCodeKey).value_or(kDefaultKeyCode),
            settings.integerValue(kModifiersKey).value_or(kDefaultModifiers)};
}

QString HotkeyManager::shortcutText(const UserDefaults& settings) {
    const Shortcut shortcut = current(settings);
    return GlobalHotkey::describe(static_cast<quint32>(shortcut.keyCode),
                                  static_cast<quint32>(shortcut.modifiers));
}

bool HotkeyManager::registerHotkey() {
    const Shortcut shortcut = current(m_settings);
    const bool sameAsBefore = m_shortcut == shortcut;
    m_shortcut = shortcut;
    constexpr qint64 kMax = std::numeric_limits<quint32>::max();
    const bool fits = shortcut.keyCode >= 0 && shortcut.keyCode <= kMax &&
                      shortcut.modifiers >= 0 && shortcut.modifiers <= kMax;
    if (m_registered)
        m_hotkey.release();
    m_registered = fits && m_hotkey.grab(static_cast<quint32>(shortcut.keyCode),
                                         static_cast<quint32>(shortcut.modifiers), [this] {
                                             if (m_onPress)
                                                 m_onPress();
                                         });
    if (!m_registered && !sameAsBefore)
        qCWarning(lcApp).noquote()
            << "The shortcut"
            << (fits ? GlobalHotkey::describe(static_cast<quint32>(shortcut.keyCode),
                                              static_cast<quint32>(shortcut.modifiers))
                     : QStringLiteral("in settings"))
            << "cannot be used (another program holds it, or this keyboard has no such key);"
            << "open Tessarine from its tray icon, or choose another shortcut in settings";
    return m_registered;
}
