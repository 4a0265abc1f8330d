#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// The command line of a desktop entry's Exec key, read the freedesktop way: arguments split
// on unquoted blanks, double quotes with their backslash escapes, and the field codes
// expanded (%u/%U/%f/%F to the address or file given, or nothing; %i to "--icon ICON"; %c
// to the name; %k to the entry's path; %% to %; deprecated codes dropped).
// The result is run directly, never through a shell.
namespace DesktopEntryExec {

struct Entry {
    QString exec;
    std::optional<QString> name;
    std::optional<QString> icon;
    QString path; // the .desktop file
    // Started through D-Bus (org.freedesktop.Application) rather than its Exec line.
    bool dbusActivatable = false;
};

// The bus name and object path of a D-Bus activatable entry: its desktop id (the file name
// without ".desktop"), and that id with '.' as '/' and '-' as '_'.
QString busName(const Entry& entry);
QString objectPath(const Entry& entry);

// Program and arguments; nothing for an Exec line that cannot be read (an unclosed quote,
// nothing to run).
std::optional<QStringList> arguments(const Entry& entry, const std::optional<QString>& target);

// The keys of the [Desktop Entry] group of a .desktop file, their values unescaped; nothing
// when the file cannot be read.
std::optional<QHash<QString, QString>> mainGroup(const QString& path);
// That group as an entry to start; nothing when it has neither Exec nor DBusActivatable.
std::optional<Entry> read(const QString& path);

} // namespace DesktopEntryExec
