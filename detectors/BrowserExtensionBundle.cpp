#include "detectors/BrowserExtensionBundle.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>

namespace BrowserExtensionBundle {

const QStringList& requiredFiles() {
    static const QStringList files = {QStringLiteral("manifest.json"),
                                      QStringLiteral("background.js"),
                                      QStringLiteral("options.html"),
                                      QStringLiteral("options.js"),
                                      QStringLiteral("content-scripts/detector-chatgpt.js"),
                                      QStringLiteral("content-scripts/detector-claude.js"),
                                      QStringLiteral("content-scripts/detector-gemini.js")};
    return files;
}

namespace {

std::filesystem::path installParent(const QString& dataHome) {
    return std::filesystem::path(QFile::encodeName(dataHome).toStdString()) / "Kestrune" /
           "BrowserExtension";
}

} // namespace

InstallError::InstallError(Kind which)
    : std::runtime_error(which == Kind::MissingSource ? "companion source folder missing"
                                                      : "companion bundle incomplete")
    , kind(which) {}

QString install(const QString& source, const QString& dataHome) {
    namespace fs = std::filesystem;
    if (!QFileInfo(source).isDir())
        throw InstallError(InstallError::Kind::MissingSource);
    for (const QString& file : requiredFiles()) {
        if (!QFileInfo::exists(QDir(source).filePath(file)))
            throw InstallError(InstallError::Kind::InvalidBundle);
    }
    const fs::path parent = installParent(dataHome);
    const fs::path installed = parent / installedDirectoryName.toStdString();
    const fs::path staging = parent / ("." + installedDirectoryName.toStdString() + ".new");
    fs::create_directories(parent);
    fs::remove_all(staging); // left by an earlier attempt that failed
    fs::copy(fs::path(QFile::encodeName(source).toStdString()), staging,
             fs::copy_options::recursive);
    fs::remove_all(installed);
    fs::rename(staging, installed);
    return QFile::decodeName(installed.c_str());
}

QString installFirefoxPackage(const QString& source, const QString& dataHome) {
    namespace fs = std::filesystem;
    if (!QFileInfo(source).isFile())
        throw InstallError(InstallError::Kind::MissingSource);
    const fs::path parent = installParent(dataHome);
    const fs::path installed = parent / firefoxPackageName.toStdString();
    const fs::path staging = parent / ("." + firefoxPackageName.toStdString() + ".new");
    fs::create_directories(parent);
    fs::copy_file(fs::path(QFile::encodeName(source).toStdString()), staging,
                  fs::copy_options::overwrite_existing);
    fs::rename(staging, installed);
    return QFile::decodeName(installed.c_str());
}

} // namespace BrowserExtensionBundle
