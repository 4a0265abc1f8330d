#pragma once

#include "platform/linux/GnomeShellExtension.h"

// A keyboard shortcut of GNOME's own (Settings › Keyboard › Custom Shortcuts) that runs a
// command, for GNOME on Wayland where no application may take a global shortcut: written
// through gsettings only when the user asks.
class GnomeKeybinding {
public:
    static inline const QString path =
        QStringLiteral("/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/"
                       "tessarine/");

    explicit GnomeKeybinding(
        GnomeShellExtension::Gsettings gsettings = GnomeShellExtension::runGsettings);

    // GNOME's notation of a shortcut ("<Alt><Super>l"); nothing for a key it has no name for.
    static std::optional<QString> accelerator(quint32 keyCode, quint32 modifiers);
    // Binds the shortcut to `command`; the line to show the user.
    QString bind(quint32 keyCode, quint32 modifiers, const QString& command);

private:
    GnomeShellExtension::Gsettings m_gsettings;
};
