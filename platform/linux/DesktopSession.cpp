#include "platform/linux/DesktopSession.h"

#include <QStringList>

DesktopSession::Kind DesktopSession::detect(const QProcessEnvironment& environment) {
    const QString chosen = environment.value(QStringLiteral("KESTRUNE_WORKSPACE")).toLower();
    for (const Kind kind : {Kind::X11, Kind::Wlroots, Kind::KWin, Kind::GnomeShell}) {
        if (chosen == name(kind))
            return kind;
    }
    const QString type = environment.value(QStringLiteral("XDG_SESSION_TYPE")).toLower();
    const bool wayland =
        type == u"wayland" ||
        (type != u"x11" && !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty());
    if (!wayland)
        return Kind::X11;
    // "ubuntu:GNOME", "KDE", "sway", "Hyprland", …
    const QStringList desktops = environment.value(QStringLiteral("XDG_CURRENT_DESKTOP"))
                                     .toLower()
                                     .split(u':', Qt::SkipEmptyParts);
    if (desktops.contains(QStringLiteral("gnome")))
        return Kind::GnomeShell;
    if (desktops.contains(QStringLiteral("kde")))
        return Kind::KWin;
    return Kind::Wlroots;
}

QString DesktopSession::name(Kind kind) {
    switch (kind) {
    case Kind::X11:
        return QStringLiteral("x11");
    case Kind::Wlroots:
        return QStringLiteral("wlroots");
    case Kind::KWin:
        return QStringLiteral("kwin");
    case Kind::GnomeShell:
        return QStringLiteral("gnome");
    }
    return {};
}
