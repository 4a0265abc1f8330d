#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

class UserDefaults;

// Writes the native-messaging host manifest "app.kestrune.host.json" into the manifest folder
// of every browser the user has, so the browser may start kestrune-native-host for the
// companion extension. A browser whose own folder is absent is not installed: skipped.
class HostManifestInstaller {
public:
    static inline const QString hostName = QStringLiteral("app.kestrune.host");
    static inline const QString fileName = QStringLiteral("app.kestrune.host.json");

    struct Folder {
        QString path;         // the NativeMessagingHosts folder
        bool firefox = false; // "allowed_extensions" rather than "allowed_origins"
        // A sandboxed browser's folder: it cannot start the host, so nothing is written and
        // its presence is only reported.
        bool usable = true;
        QString browser; // the browser's name, for that report
        // The folder that must exist, else the browser is not installed: `path`'s parent
        // when empty.
        QString installedWhen;
    };

    // `hostPath`: the kestrune-native-host executable; `extensionID` is asked at each install.
    HostManifestInstaller(QString hostPath, std::function<QString()> extensionID,
                          QList<Folder> folders);

    // Every manifest folder of the known browsers on Linux (native packages under the
    // configuration folder, Firefox under ~/.mozilla; Flatpak and Snap folders, unusable).
    static QList<Folder> linuxFolders(const QString& configHome, const QString& home);
    // "settings.browserExtensionID" trimmed; the companion's own id when unset or blank.
    static QString extensionID(const UserDefaults& settings);
    // Chromium manifests allow `extensionID`; Firefox ones the companion's add-on id.
    static QJsonObject manifest(const QString& hostPath, const QString& extensionID, bool firefox);

    // Writes every manifest; returns how many were written.
    int installAll() const;
    // One manifest into one folder; false when skipped or failed (failures are logged).
    static bool write(const QJsonObject& manifest, const Folder& folder);

private:
    QString m_hostPath;
    std::function<QString()> m_extensionID;
    QList<Folder> m_folders;
};
