#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// Works out which application a window belongs to, as an identity the detectors know:
// the desktop-entry id (from _GTK_APPLICATION_ID, the Flatpak id or systemd scope in the
// process's cgroup, or WM_CLASS matched to installed .desktop files), its display name from
// the desktop entry, then well-known Linux ids mapped to the detectors' identifiers.
class AppIdentityResolver {
public:
    struct Clues {
        std::optional<QString> gtkApplicationID;
        std::optional<QString> cgroup; // contents of /proc/<pid>/cgroup
        std::optional<QString> wmClassInstance;
        std::optional<QString> wmClassName;
    };
    struct Identity {
        std::optional<QString> bundleID;
        std::optional<QString> displayName;
        std::optional<QString> desktopID;
    };

    // Indexes the applications folders of $XDG_DATA_HOME and $XDG_DATA_DIRS.
    AppIdentityResolver();
    explicit AppIdentityResolver(const QStringList& applicationFolders);

    Identity resolve(const Clues& clues) const;

    // Desktop-id candidates named by a process's cgroup, most specific first; a Flatpak id
    // is certain and comes alone.
    static QStringList desktopIDsFromCgroup(const QString& cgroup, bool* certain = nullptr);
    // The identifier detectors use for a well-known Linux application, or nothing.
    static std::optional<QString> alias(const QString& desktopID);

private:
    struct Entry {
        QString id;
        std::optional<QString> name;
        std::optional<QString> startupWMClass;
    };

    void index(const QString& folder, const QString& prefix);
    std::optional<QString> matchWMClass(const QString& wmClass) const;

    QHash<QString, Entry> m_entries; // by desktop id
};
