#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Tessarine's GNOME Shell extension as shipped (two builds of one reporter: "legacy" for
// GNOME 40–44, "module" for GNOME 45 and later) and its installation for the current user:
// copied into the user's extension folder and added to GNOME's enabled extensions. On
// Wayland GNOME Shell loads a newly installed extension only at the next login.
class GnomeShellExtension {
public:
    static inline const QString uuid = QStringLiteral("tessarine@kestrune.app");

    // Runs `gsettings ARGUMENTS…`; its standard output, or nothing when it failed.
    using Gsettings = std::function<std::optional<QString>(const QStringList& arguments)>;

    // `shipped`: the folder holding legacy/ and module/; `dataHome`: $XDG_DATA_HOME.
    GnomeShellExtension(std::optional<QString> shipped, QString dataHome,
                        Gsettings gsettings = runGsettings);

    // The running Shell's major version (org.gnome.Shell's ShellVersion), when it answers.
    static std::optional<int> runningShellVersion();
    // The build for a Shell version; nothing before GNOME 40.
    static std::optional<QString> variantFor(int shellMajorVersion);
    // A string list as gsettings prints it ("['a', 'b']", "@as []") with `item` added, in the
    // form gsettings takes; nothing when `printed` is not such a list.
    static std::optional<QString> withItem(const QString& printed, const QString& item);

    QString installedFolder() const;
    // Copies the build for that Shell version and enables it; the line to show the user.
    QString install(int shellMajorVersion);

    static std::optional<QString> runGsettings(const QStringList& arguments);

private:
    std::optional<QString> m_shipped;
    QString m_dataHome;
    Gsettings m_gsettings;
};
