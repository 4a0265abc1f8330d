#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What Tessarine writes into the user's home folder outside its own data, so a package
// removal (which cannot touch home folders) leaves nothing behind that points at it:
// browsers' host manifests, the autostart entry, the companion copy, the GNOME Shell
// extension copy. The loops themselves (the database) are never part of it.
namespace IntegrationRemoval {

struct Place {
    QString path;
    QString what; // for the report: "Chromium's host manifest", "autostart entry", …
};
struct Homes {
    QString home;
    QString configHome;
    QString dataHome;
    QString autostartEntry;
    QString gnomeExtensionFolder;
};

QList<Place> places(const Homes& homes);

struct Outcome {
    QStringList removed; // one line per place removed
    QStringList failed;  // one line per place that could not be removed, with the reason
};
// Removes the places that exist. A place that is a symbolic link loses only the link.
Outcome remove(const QList<Place>& places);

} // namespace IntegrationRemoval
