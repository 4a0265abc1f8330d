#pragma once

#include <QString>
#include <QStringList>
#include <stdexcept>

// The companion extension as shipped ("Chrome-Firefox" among the application's resources,
// and its Firefox package beside it), copied to a fixed place in the user's data folder, from
// where the user loads it into the browser: Chromium takes the folder as an unpacked
// extension, Firefox the package as an add-on file.
namespace BrowserExtensionBundle {

inline const QString resourceDirectoryName = QStringLiteral("Chrome-Firefox");
inline const QString installedDirectoryName = QStringLiteral("Tessarine Companion");
inline const QString firefoxPackageName = QStringLiteral("tessarine-companion-firefox.xpi");
const QStringList& requiredFiles();

class InstallError : public std::runtime_error {
public:
    enum class Kind { MissingSource, InvalidBundle };
    explicit InstallError(Kind kind);
    Kind kind;
};

// Copies `source` to <dataHome>/Kestrune/BrowserExtension/Tessarine Companion through a
// staging folder beside it and returns that folder. Throws InstallError, or
// std::filesystem::filesystem_error for a copy that fails.
QString install(const QString& source, const QString& dataHome);
// Copies the Firefox package `source` beside that folder, replacing an earlier copy only once
// the new one is complete, and returns its path. Throws as `install` does.
QString installFirefoxPackage(const QString& source, const QString& dataHome);

} // namespace BrowserExtensionBundle
