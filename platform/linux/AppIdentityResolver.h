#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <optional>

// Works out which application a window belongs to, as an identity the detectors know:
// the desktop-entry id (from _GTK_APPLICATION_ID, the Flatpak id or systemd scope in the
// process's cgroup, or WM_CLASS matched to installed .desktop files), its display name from
// the desktop entry; a Linux id that is the same program as one the detectors know by
// another identifier takes that identifier. Each application keeps an identity of its own.
class AppIdentityResolver {
public:
    struct Clues {
        std::optional<QString> gtkApplicationID;
        std::optional<QString> cgroup; // contents of /proc/<pid>/cgroup
        std::optional<QString> wmClassInstance;
        std::optional<QString> wmClassName;
        // A Wayland application id (by convention the desktop id, else a class-like name):
        // matched like a class name, before it.
        std::optional<QString> waylandAppID;
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
    // The identifier detectors use for a Linux application that is the same program as one
    // they know by another name (google-chrome is com.google.Chrome), or nothing.
    static std::optional<QString> alias(const QString& desktopID);

    // The installed desktop entry of an identity (for launching, icons and the exclusion
    // picker): the entry of that id, one whose alias or StartupWMClass it is, else one whose
    // id ends in it after a distribution's prefix ("debian-xterm" for XTerm).
    struct DesktopEntry {
        QString id;
        QString path;
        std::optional<QString> name;
    };
    std::optional<DesktopEntry> desktopEntry(const QString& identity) const;
    // The applications a launcher shows (not NoDisplay or Hidden), each with its identity.
    struct Application {
        QString identity;
        QString name;
        QString path;
    };
    QList<Application> applications() const;

private:
    struct Entry {
        QString id;
        QString path;
        std::optional<QString> name;
        std::optional<QString> startupWMClass;
        bool shown = true; // neither NoDisplay nor Hidden
    };

    void index(const QString& folder, const QString& prefix);
    std::optional<QString> matchWMClass(const QString& wmClass) const;

    QHash<QString, Entry> m_entries; // by desktop id
};
