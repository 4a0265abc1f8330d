#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// What the companion's preparation asks of the desktop: show a folder in the file viewer
// (org.freedesktop.FileManager1, else xdg-open on its parent) and open the extension page
// of an installed Chromium-family browser.
class LinuxDesktopServices {
public:
    // Browsers tried in order, by executable name.
    static const QStringList& chromiumBrowsers();

    void revealInFileViewer(const QString& path) const;
    // The name of the browser whose extension page was opened ("Chromium"); nothing when no
    // Chromium-family browser is installed.
    std::optional<QString> openExtensionsPage() const;
    // A browser executable's name as people know it.
    static QString browserName(const QString& executable);
    static std::optional<QString> installedChromiumBrowser();
    // The installed Firefox as people know it: "Firefox ESR" (Debian's firefox-esr) or
    // "Firefox"; nothing when neither is on the PATH.
    static std::optional<QString> installedFirefox();
};
