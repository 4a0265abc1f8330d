#pragma once

#include "platform/AccessibilitySwitch.h"

// A switch the test turns; `refuse` makes `enable` fail as a locked-down desktop would.
class FakeAccessibilitySwitch final : public AccessibilitySwitch {
public:
    std::optional<bool> isEnabled() const override { return m_enabled; }
    bool enable() override {
        ++enableCalls;
        if (refuse || !m_enabled.has_value())
            return false;
        set(true);
        return true;
    }
    void onChange(std::function<void()> changed) override { m_changed = std::move(changed); }

    // Control surface: the desktop changes the switch (nothing = no one answers), saying so
    // or, as a desktop that sends no signal would, silently.
    void set(std::optional<bool> enabled, bool announce = true) {
        m_enabled = enabled;
        if (announce && m_changed)
            m_changed();
    }
    bool refuse = false;
    int enableCalls = 0;

private:
    std::optional<bool> m_enabled = false;
    std::function<void()> m_changed;
};
