#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

// The browsers Tessarine knows, in one table: the identity the detectors use, the Linux
// desktop ids that are that browser (native packages, Flatpak and Snap), and where the
// browser looks for native-messaging host manifests. Every browser list (the browser
// detector's set, the identity aliases, the manifest folders) is derived from it.
namespace KnownBrowsers {

struct ManifestFolder {
    // Relative to the configuration folder ($XDG_CONFIG_HOME), or to the home folder when
    // `inHome`; the browser's own folder is its parent.
    QString path;
    bool inHome = false;
    // A sandboxed browser (Flatpak, Snap) cannot start a host outside its sandbox: nothing is
    // written there.
    bool usable = true;
    // The folder (same base as `path`) whose presence shows the browser is installed; empty
    // means `path`'s parent. Snap's Firefox has its own folder yet reads the common one.
    QString installedWhen;
};

struct Browser {
    QString identity;
    QString name;
    QStringList desktopIDs; // lower case; native, Flatpak and Snap (<snap>_<app>) ids
    QList<ManifestFolder> manifestFolders;
    bool firefox = false; // "allowed_extensions" instead of "allowed_origins"
};

const QList<Browser>& all();
// The identity of a browser desktop id (any case), when it is one.
std::optional<QString> identityOf(const QString& desktopID);
bool isBrowser(const QString& identity);

} // namespace KnownBrowsers
