#include "app/IntegrationRemoval.h"

#include "detectors/HostManifestInstaller.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

QList<IntegrationRemoval::Place> IntegrationRemoval::places(const Homes& homes) {
    QList<Place> found;
    for (const HostManifestInstaller::Folder& folder :
         HostManifestInstaller::linuxFolders(homes.configHome, homes.home))
        found.append({folder.path + u'/' + HostManifestInstaller::fileName,
                      folder.browser + QStringLiteral("'s host manifest")});
    found.append({homes.autostartEntry, QStringLiteral("autostart entry")});
    found.append({homes.dataHome + QStringLiteral("/Kestrune/BrowserExtension"),
                  QStringLiteral("browser companion copy")});
    found.append({homes.gnomeExtensionFolder, QStringLiteral("GNOME Shell extension")});
    return found;
}

IntegrationRemoval::Outcome IntegrationRemoval::remove(const QList<Place>& places) {
    Outcome outcome;
    for (const Place& place : places) {
        const QFileInfo info(place.path);
        if (!info.exists() && !info.isSymLink())
            continue;
        bool removed = false;
        QString why;
        if (info.isDir() && !info.isSymLink()) {
            removed = QDir(place.path).removeRecursively();
        } else {
            QFile file(place.path);
            removed = file.remove();
            why = file.errorString();
        }
        const QString line = place.what + QStringLiteral(": ") + place.path;
        if (removed)
            outcome.removed.append(line);
        else
            outcome.failed.append(line +
                                  (why.isEmpty() ? QString() : QStringLiteral(" (") + why + u')'));
    }
    return outcome;
}
