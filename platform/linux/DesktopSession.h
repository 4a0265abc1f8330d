#pragma once

#include <QProcessEnvironment>
#include <QString>

// Which display server reports windows and focus in the user's session, from the session's
// own variables (never from DISPLAY alone: a Wayland session has an XWayland DISPLAY too).
struct DesktopSession {
    enum class Kind {
        X11,        // an X11 session: EWMH properties of the root window
        Wlroots,    // a Wayland compositor of the wlroots family, or one not known better
        KWin,       // KDE Plasma on Wayland
        GnomeShell, // GNOME on Wayland
    };
    // KESTRUNE_WORKSPACE (x11, wlroots, kwin, gnome) overrides what the session says.
    static Kind detect(const QProcessEnvironment& environment);
    static QString name(Kind kind);
    static bool isWayland(Kind kind) { return kind != Kind::X11; }
};
