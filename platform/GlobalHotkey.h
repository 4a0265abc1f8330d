#pragma once

#include <QString>
#include <functional>
#include <optional>

// One system-wide keyboard shortcut. The key is a virtual key code and the modifiers Carbon
// modifier bits, as the settings store them (37 = L; 0x100 command, 0x200 shift,
// 0x800 option, 0x1000 control). Main thread only.
class GlobalHotkey {
public:
    static constexpr quint32 kCommand = 0x100;
    static constexpr quint32 kShift = 0x200;
    static constexpr quint32 kOption = 0x800;
    static constexpr quint32 kControl = 0x1000;

    virtual ~GlobalHotkey() = default;
    // Takes the shortcut (giving up any earlier one); `pressed` runs on each press. False when
    // another program holds it or the key has no place on this keyboard.
    virtual bool grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) = 0;
    virtual void release() = 0;

    // The X keysym of a virtual key code (letters, digits, punctuation, function and
    // navigation keys of the ANSI keyboard); nothing for a code without one.
    static std::optional<quint32> keysym(quint32 keyCode);
    // A shortcut as people read it: "Alt+Super+L".
    static QString describe(quint32 keyCode, quint32 modifiers);
};
