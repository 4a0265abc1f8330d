#pragma once

#include <functional>
#include <optional>

// The desktop's switch that lets assistive technologies (and Tessarine) read other
// applications' controls. Main thread only.
class AccessibilitySwitch {
public:
    virtual ~AccessibilitySwitch() = default;
    // The switch as the desktop reports it now; nothing when no one answers.
    virtual std::optional<bool> isEnabled() const = 0;
    // Turns it on; false when the desktop refused or no one answers.
    virtual bool enable() = 0;
    // Called on the main thread whenever the desktop says the switch changed.
    virtual void onChange(std::function<void()> changed) = 0;
};
