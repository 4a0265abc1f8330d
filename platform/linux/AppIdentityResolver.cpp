#include "platform/linux/AppIdentityResolver.h"

#include "model/KnownBrowsers.h"
#include "platform/linux/DesktopEntryExec.h"

#include <QDir>
#include <QRegularExpression>
#include <QStandardPaths>

namespace {

// Desktop ids (lower case) of programs the detectors know under another identifier: only the
// same program on another platform (Chrome is com.google.Chrome everywhere). Different
// programs never share an identity; the detectors list the Linux ids of their kind instead.
// Browsers come from the browser table.
const QHash<QString, QString>& aliases() {
    static const QHash<QString, QString> table = {
        // terminals
        {QStringLiteral("kitty"), QStringLiteral("net.kovidgoyal.kitty")},
        {QStringLiteral("org.wezfurlong.wezterm"), QStringLiteral("com.github.wez.wezterm")},
        {QStringLiteral("alacritty"), QStringLiteral("org.alacritty")},
        {QStringLiteral("com.mitchellh.ghostty"), QStringLiteral("com.mitchellh.ghostty")},
        {QStringLiteral("tabby"), QStringLiteral("org.tabby")},
        {QStringLiteral("hyper"), QStringLiteral("co.zeit.hyper")},
        {QStringLiteral("dev.warp.warp"), QStringLiteral("dev.warp.Warp-Stable")},
        // editors
        {QStringLiteral("code"), QStringLiteral("com.microsoft.VSCode")},
        {QStringLiteral("code-oss"), QStringLiteral("com.microsoft.VSCode")},
        {QStringLiteral("com.visualstudio.code"), QStringLiteral("com.microsoft.VSCode")},
        {QStringLiteral("visual-studio-code"), QStringLiteral("com.microsoft.VSCode")},
        {QStringLiteral("cursor"), QStringLiteral("com.todesktop.230313mzl4w4u92")},
        {QStringLiteral("windsurf"), QStringLiteral("com.exafunction.windsurf")},
        // AI applications
        {QStringLiteral("claude-desktop"), QStringLiteral("com.anthropic.claudefordesktop")},
        {QStringLiteral("claude"), QStringLiteral("com.anthropic.claudefordesktop")},
        {QStringLiteral("chatgpt"), QStringLiteral("com.openai.chat")},
        {QStringLiteral("lm-studio"), QStringLiteral("ai.elementlabs.lmstudio")},
        {QStringLiteral("lmstudio"), QStringLiteral("ai.elementlabs.lmstudio")},
        {QStringLiteral("jan"), QStringLiteral("jan.ai.app")},
        {QStringLiteral("gpt4all"), QStringLiteral("com.nomic-ai.gpt4all")},
        {QStringLiteral("io.gpt4all.gpt4all"), QStringLiteral("com.nomic-ai.gpt4all")},
        {QStringLiteral("msty"), QStringLiteral("app.msty.app")},
        {QStringLiteral("ollama"), QStringLiteral("com.electron.ollama")},
    };
    return table;
}

QString unescapeUnit(QString text) {
    // systemd escapes "-" inside names as \x2d.
    return text.replace(QStringLiteral("\\x2d"), QStringLiteral("-"));
}

} // namespace

AppIdentityResolver::AppIdentityResolver()
    : AppIdentityResolver(QStandardPaths::standardLocations(QStandardPaths::ApplicationsLocation)) {
}

AppIdentityResolver::AppIdentityResolver(const QStringList& applicationFolders) {
    // The first folder that has an id wins, as the desktop does it.
    for (const QString& folder : applicationFolders)
        index(folder, QString());
}

void AppIdentityResolver::index(const QString& folder, const QString& prefix) {
    const QDir dir(folder);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Readable)) {
        if (info.isDir()) {
            index(info.filePath(), prefix + info.fileName() + QLatin1Char('-'));
            continue;
        }
        if (!info.fileName().endsWith(QLatin1String(".desktop")))
            continue;
        const QString id = prefix + info.completeBaseName();
        if (m_entries.contains(id))
            continue;
        const std::optional<QHash<QString, QString>> keys =
            DesktopEntryExec::mainGroup(info.filePath());
        if (!keys)
            continue;
        Entry entry{id, info.filePath(), std::nullopt, std::nullopt, true};
        entry.shown = keys->value(QStringLiteral("NoDisplay")) != u"true" &&
                      keys->value(QStringLiteral("Hidden")) != u"true";
        if (keys->contains(QStringLiteral("Name")))
            entry.name = keys->value(QStringLiteral("Name"));
        if (keys->contains(QStringLiteral("StartupWMClass")))
            entry.startupWMClass = keys->value(QStringLiteral("StartupWMClass"));
        m_entries.insert(id, entry);
    }
}

QStringList AppIdentityResolver::desktopIDsFromCgroup(const QString& cgroup, bool* certain) {
    if (certain)
        *certain = false;
    QStringList candidates;
    for (const QString& line : cgroup.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString unit = line.section(QLatin1Char('/'), -1);
        // Flatpak: app-flatpak-<app id>-<number>.scope
        static const QRegularExpression flatpak(QStringLiteral("^app-flatpak-(.+)-\\d+\\.scope$"));
        if (const auto match = flatpak.match(unit); match.hasMatch()) {
            if (certain)
                *certain = true;
            return {unescapeUnit(match.captured(1))};
        }
        // Snap: snap.<snap>.<app>.<uuid>.scope, whose desktop file is <snap>_<app>.desktop
        static const QRegularExpression snap(
            QStringLiteral("^snap\\.([^.]+)\\.([^.]+)\\..*\\.scope$"));
        if (const auto match = snap.match(unit); match.hasMatch()) {
            candidates.append(match.captured(1) + QLatin1Char('_') + match.captured(2));
            continue;
        }
        // systemd: app[-<launcher>]-<id>-<random>.scope or app[-<launcher>]-<id>[@<random>].service
        static const QRegularExpression scope(QStringLiteral("^app-(.+)-[0-9a-fA-F]+\\.scope$"));
        static const QRegularExpression service(QStringLiteral("^app-(.+?)(@[^.]*)?\\.service$"));
        QString body;
        if (const auto match = scope.match(unit); match.hasMatch())
            body = match.captured(1);
        else if (const auto match = service.match(unit); match.hasMatch())
            body = match.captured(1);
        if (body.isEmpty())
            continue;
        body = unescapeUnit(body);
        candidates.append(body);
        const qsizetype dash = body.indexOf(QLatin1Char('-'));
        if (dash > 0)
            candidates.append(body.mid(dash + 1)); // without the launcher ("gnome-", "kde-")
    }
    return candidates;
}

std::optional<QString> AppIdentityResolver::alias(const QString& desktopID) {
    if (const std::optional<QString> browser = KnownBrowsers::identityOf(desktopID))
        return browser;
    const auto found = aliases().constFind(desktopID.toLower());
    if (found == aliases().cend())
        return std::nullopt;
    return *found;
}

std::optional<AppIdentityResolver::DesktopEntry>
AppIdentityResolver::desktopEntry(const QString& identity) const {
    const auto entryOf = [](const Entry& entry) {
        return DesktopEntry{entry.id, entry.path, entry.name};
    };
    if (const auto exact = m_entries.constFind(identity); exact != m_entries.cend())
        return entryOf(*exact);
    const QString wanted = identity.toLower();
    std::optional<DesktopEntry> loose;
    for (const Entry& entry : m_entries) {
        if (alias(entry.id) == identity || entry.id.toLower() == wanted ||
            (entry.startupWMClass && entry.startupWMClass->toLower() == wanted))
            return entryOf(entry);
        // A distribution's prefix ("debian-xterm" for the XTerm window class).
        if (!loose && entry.id.section(QLatin1Char('-'), -1).toLower() == wanted)
            loose = entryOf(entry);
    }
    return loose;
}

std::optional<QString> AppIdentityResolver::matchWMClass(const QString& wmClass) const {
    const QString wanted = wmClass.toLower();
    for (const Entry& entry : m_entries) {
        if (entry.id.toLower() == wanted ||
            (entry.startupWMClass && entry.startupWMClass->toLower() == wanted) ||
            entry.id.section(QLatin1Char('.'), -1).toLower() == wanted)
            return entry.id;
    }
    return std::nullopt;
}

AppIdentityResolver::Identity AppIdentityResolver::resolve(const Clues& clues) const {
    std::optional<QString> desktopID;
    if (clues.gtkApplicationID && !clues.gtkApplicationID->isEmpty())
        desktopID = clues.gtkApplicationID;
    if (!desktopID && clues.cgroup) {
        bool certain = false;
        for (const QString& candidate : desktopIDsFromCgroup(*clues.cgroup, &certain)) {
            if (certain || m_entries.contains(candidate)) {
                desktopID = candidate;
                break;
            }
        }
    }
    for (const auto& wmClass : {clues.waylandAppID, clues.wmClassName, clues.wmClassInstance}) {
        if (!desktopID && wmClass && !wmClass->isEmpty())
            desktopID = matchWMClass(*wmClass);
    }

    Identity identity;
    if (desktopID) {
        identity.desktopID = desktopID;
        if (const auto entry = m_entries.constFind(*desktopID); entry != m_entries.cend())
            identity.displayName = entry->name;
    } else if (clues.waylandAppID && !clues.waylandAppID->isEmpty()) {
        identity.desktopID = clues.waylandAppID; // an unknown application keeps its own name
    } else if (clues.wmClassName && !clues.wmClassName->isEmpty()) {
        identity.desktopID = clues.wmClassName;
    } else if (clues.wmClassInstance && !clues.wmClassInstance->isEmpty()) {
        identity.desktopID = clues.wmClassInstance;
    }
    if (!identity.displayName)
        identity.displayName = clues.wmClassName ? clues.wmClassName : clues.waylandAppID;
    if (identity.desktopID)
        identity.bundleID = alias(*identity.desktopID).value_or(*identity.desktopID);
    return identity;
}

QList<AppIdentityResolver::Application> AppIdentityResolver::applications() const {
    QList<Application> list;
    for (const Entry& entry : m_entries) {
        if (entry.shown)
            list.append(
                {alias(entry.id).value_or(entry.id), entry.name.value_or(entry.id), entry.path});
    }
    return list;
}
