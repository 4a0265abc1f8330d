#pragma once

#include <QString>
#include <QStringList>
#include <stdexcept>

// The companion extension as shipped ("Chrome-Firefox" among the application's resources),
// copied to a fixed place in the user's data folder, from where the user loads it into the
// browser as an unpacked extension.
namespace BrowserExtensionBundle {

inline const QString resourceDirectoryName = QStringLiteral("Chrome-Firefox");
inline const QString installedDirectoryName = QStringLiteral("Tessarine Companion");
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

} // namespace BrowserExtensionBundle
