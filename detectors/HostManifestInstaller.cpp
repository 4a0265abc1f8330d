#include "detectors/HostManifestInstaller.h"

#include "detectors/BrowserDetector.h"
#include "model/KnownBrowsers.h"
#include "model/Log.h"
#include "platform/UserDefaults.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QSet>

HostManifestInstaller::HostManifestInstaller(QString hostPath, std::function<QString()> extensionID,
                                             QList<Folder> folders)
    : m_hostPath(std::move(hostPath))
    , m_extensionID(std::move(extensionID))
    , m_folders(std::move(folders)) {}

QList<HostManifestInstaller::Folder> HostManifestInstaller::linuxFolders(const QString& configHome,
                                                                         const QString& home) {
    QList<Folder> folders;
    for (const KnownBrowsers::Browser& browser : KnownBrowsers::all()) {
        for (const KnownBrowsers::ManifestFolder& folder : browser.manifestFolders) {
            const QString base = (folder.inHome ? home : configHome) + u'/';
            folders.append(
                {base + folder.path, browser.firefox, folder.usable, browser.name,
                 folder.installedWhen.isEmpty() ? QString() : base + folder.installedWhen});
        }
    }
    return folders;
}

QString HostManifestInstaller::extensionID(const UserDefaults& settings) {
    const QString configured =
        settings.stringValue(QStringLiteral("settings.browserExtensionID")).value_or(QString());
    const QString trimmed = configured.trimmed();
    return trimmed.isEmpty() ? BrowserDetector::defaultExtensionID : trimmed;
}

QJsonObject HostManifestInstaller::manifest(const QString& hostPath, const QString& extensionID,
                                            bool firefox) {
    QJsonObject object{
        {QStringLiteral("name"), hostName},
        {QStringLiteral("description"),
         QStringLiteral("Tessarine native messaging host \u2014 relays AI-completion signals to "
                        "the local app.")},
        {QStringLiteral("path"), hostPath},
        {QStringLiteral("type"), QStringLiteral("stdio")},
    };
    if (firefox)
        object.insert(QStringLiteral("allowed_extensions"),
                      QJsonArray{BrowserDetector::firefoxAddonID});
    else
        object.insert(QStringLiteral("allowed_origins"),
                      QJsonArray{QStringLiteral("chrome-extension://") + extensionID + u'/'});
    return object;
}

int HostManifestInstaller::installAll() const {
    if (!QFileInfo(m_hostPath).isExecutable()) {
        qCCritical(lcDetector) << "kestrune-native-host helper missing from bundle";
        return 0;
    }
    const QString id = m_extensionID();
    QSet<QString> written;
    for (const Folder& folder : m_folders) {
        if (folder.usable) {
            // Two installs of one browser may share a folder: one manifest serves both.
            if (!written.contains(folder.path) &&
                write(manifest(m_hostPath, id, folder.firefox), folder))
                written.insert(folder.path);
        } else if (QFileInfo(QFileInfo(folder.path).path()).isDir()) {
            qCInfo(lcDetector).noquote()
                << QStringLiteral("%1 runs in a sandbox (Flatpak or Snap) that cannot start "
                                  "Tessarine's host; its AI chats are followed only in a "
                                  "natively installed browser")
                       .arg(folder.browser);
        }
    }
    return static_cast<int>(written.size());
}

bool HostManifestInstaller::write(const QJsonObject& manifest, const Folder& folder) {
    const QFileInfo parent(QFileInfo(folder.path).path());
    if (!QFileInfo(folder.installedWhen.isEmpty() ? parent.filePath() : folder.installedWhen)
             .isDir())
        return false; // that browser is not installed for this user
    QString failure;
    if (!QDir().mkpath(folder.path)) {
        failure = QStringLiteral("cannot create the folder");
    } else {
        // Keys come out sorted: a JSON object keeps them in order.
        QSaveFile file(QDir(folder.path).filePath(fileName));
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(QJsonDocument(manifest).toJson(QJsonDocument::Indented)) < 0 ||
            !file.commit())
            failure = file.errorString();
    }
    if (failure.isEmpty())
        return true;
    qCCritical(lcDetector).noquote() << QStringLiteral("failed to install host manifest in %1: %2")
                                            .arg(parent.fileName(), failure);
    return false;
}
