#pragma once

#include "platform/GlobalHotkey.h"

#include <QList>
#include <utility>

// Records what is grabbed; `press` fires the grabbed shortcut; `taken` lists shortcuts
// another program holds.
class FakeGlobalHotkey final : public GlobalHotkey {
public:
    bool grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) override {
        ++grabs;
        m_pressed = nullptr;
        grabbed.reset();
        if (taken.contains({keyCode, modifiers}))
            return false;
        grabbed = std::pair(keyCode, modifiers);
        m_pressed = std::move(pressed);
        return true;
    }
    void release() override {
        grabbed.reset();
        m_pressed = nullptr;
    }
    bool press(quint32 keyCode, quint32 modifiers) {
        if (!m_pressed || grabbed != std::pair(keyCode, modifiers))
            return false;
        m_pressed();
        return true;
    }

    std::optional<std::pair<quint32, quint32>> grabbed;
    QList<std::pair<quint32, quint32>> taken;
    int grabs = 0;

private:
    std::function<void()> m_pressed;
};
