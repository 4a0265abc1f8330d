#pragma once

#include "platform/UserDefaults.h"

#include <QString>
#include <functional>
#include <optional>

// Where loops are shown: the notch island or the menu-bar dropdown.
enum class AppSurface { Notch, MenuBar };

namespace AppSurfaces {
// "settings.primarySurface" when it is "notch" or "menubar"; otherwise the notch unless
// "settings.notchHUD" is false.
AppSurface current(const UserDefaults& settings);
} // namespace AppSurfaces

// Shows the nudge engine's messages.
class Presenter {
public:
    virtual ~Presenter() = default;
    virtual void requestAuthorization() = 0;
    // `id` is a loop's id or "app.kestrune.reentry".
    virtual void present(const QString& id, const QString& title, const QString& body) = 0;
    virtual void withdraw(const QString& id) = 0;
};

class NoopPresenter final : public Presenter {
public:
    void requestAuthorization() override {}
    void present(const QString&, const QString&, const QString&) override {}
    void withdraw(const QString&) override {}
};

// The dropdown is the notification: presenting drops it down on the active screen when the
// menu bar is the primary surface. Nothing is shown as text, no sound is played.
class DropdownNotifier final : public Presenter {
public:
    explicit DropdownNotifier(const UserDefaults& settings);
    void requestAuthorization() override {}
    void present(const QString& id, const QString& title, const QString& body) override;
    void withdraw(const QString&) override {}

    std::function<void()> onSurface;

private:
    const UserDefaults& m_settings;
};
