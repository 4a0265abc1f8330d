#include "model/KnownBrowsers.h"

#include <QHash>
#include <QSet>

namespace KnownBrowsers {

namespace {

QList<ManifestFolder> chromiumFamily(const QString& folder, const QString& flatpakID,
                                     const QString& snap = QString()) {
    const QString hosts = QStringLiteral("/NativeMessagingHosts");
    QList<ManifestFolder> folders{{folder + hosts, false, true, QString()}};
    if (!flatpakID.isEmpty())
        folders.append(
            {QStringLiteral(".var/app/") + flatpakID + QStringLiteral("/config/") + folder + hosts,
             true, false, QString()});
    if (!snap.isEmpty())
        folders.append(
            {QStringLiteral("snap/") + snap + QStringLiteral("/common/") + folder + hosts, true,
             false, QString()});
    return folders;
}

} // namespace

const QList<Browser>& all() {
    static const QList<Browser> browsers = {
        {QStringLiteral("com.google.Chrome"),
         QStringLiteral("Google Chrome"),
         {QStringLiteral("google-chrome"), QStringLiteral("google-chrome-stable"),
          QStringLiteral("com.google.chrome")},
         chromiumFamily(QStringLiteral("google-chrome"), QStringLiteral("com.google.Chrome")),
         false},
        {QStringLiteral("com.google.Chrome.canary"),
         QStringLiteral("Google Chrome (unstable)"),
         {QStringLiteral("google-chrome-unstable"), QStringLiteral("google-chrome-beta")},
         chromiumFamily(QStringLiteral("google-chrome-unstable"), QString()),
         false},
        {QStringLiteral("org.chromium.Chromium"),
         QStringLiteral("Chromium"),
         {QStringLiteral("chromium"), QStringLiteral("chromium-browser"),
          QStringLiteral("org.chromium.chromium"), QStringLiteral("chromium_chromium")},
         chromiumFamily(QStringLiteral("chromium"), QStringLiteral("org.chromium.Chromium"),
                        QStringLiteral("chromium")),
         false},
        {QStringLiteral("com.microsoft.edgemac"),
         QStringLiteral("Microsoft Edge"),
         {QStringLiteral("microsoft-edge"), QStringLiteral("microsoft-edge-stable"),
          QStringLiteral("com.microsoft.edge")},
         chromiumFamily(QStringLiteral("microsoft-edge"), QStringLiteral("com.microsoft.Edge")),
         false},
        {QStringLiteral("com.brave.Browser"),
         QStringLiteral("Brave"),
         {QStringLiteral("brave-browser"), QStringLiteral("com.brave.browser"),
          QStringLiteral("brave_brave")},
         chromiumFamily(QStringLiteral("BraveSoftware/Brave-Browser"),
                        QStringLiteral("com.brave.Browser"), QStringLiteral("brave")),
         false},
        {QStringLiteral("com.vivaldi.Vivaldi"),
         QStringLiteral("Vivaldi"),
         {QStringLiteral("vivaldi-stable"), QStringLiteral("vivaldi"),
          QStringLiteral("com.vivaldi.vivaldi")},
         chromiumFamily(QStringLiteral("vivaldi"), QStringLiteral("com.vivaldi.Vivaldi")),
         false},
        {QStringLiteral("org.mozilla.firefox"),
         QStringLiteral("Firefox"),
         {QStringLiteral("firefox"), QStringLiteral("firefox-esr"),
          QStringLiteral("org.mozilla.firefox"), QStringLiteral("firefox_firefox")},
         // Debian's firefox-esr shares the regular install's folder. Snap's Firefox starts
         // hosts outside its sandbox through the desktop portal (Ubuntu 22.04 and later),
         // which reads the common folder; Flatpak's cannot start one at all.
         {{QStringLiteral(".mozilla/native-messaging-hosts"), true, true, QString()},
          {QStringLiteral(".mozilla/native-messaging-hosts"), true, true,
           QStringLiteral("snap/firefox")},
          {QStringLiteral(".var/app/org.mozilla.firefox/.mozilla/native-messaging-hosts"), true,
           false, QString()}},
         true},
        // No Linux builds: known by identity only.
        {QStringLiteral("company.thebrowser.Browser"), QStringLiteral("Arc"), {}, {}, false},
        {QStringLiteral("company.thebrowser.dia"), QStringLiteral("Dia"), {}, {}, false},
        {QStringLiteral("com.openai.atlas"), QStringLiteral("ChatGPT Atlas"), {}, {}, false},
    };
    return browsers;
}

std::optional<QString> identityOf(const QString& desktopID) {
    static const QHash<QString, QString> byDesktopID = [] {
        QHash<QString, QString> table;
        for (const Browser& browser : all()) {
            for (const QString& id : browser.desktopIDs)
                table.insert(id, browser.identity);
        }
        return table;
    }();
    const auto found = byDesktopID.constFind(desktopID.toLower());
    return found == byDesktopID.cend() ? std::nullopt : std::optional<QString>(*found);
}

bool isBrowser(const QString& identity) {
    static const QSet<QString> identities = [] {
        QSet<QString> set;
        for (const Browser& browser : all())
            set.insert(browser.identity);
        return set;
    }();
    return identities.contains(identity);
}

} // namespace KnownBrowsers
