#include "store/FileSecurity.h"

#include "store/StoreError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr QFileDevice::Permissions kOwnerFile = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
constexpr QFileDevice::Permissions kOwnerFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

} // namespace

void FileSecurity::ensurePrivateFolder(const QString& path) {
    if (!QDir().mkpath(path))
        throw StoreFileError(QStringLiteral("Could not create the folder %1").arg(path));
    if (!QFile::setPermissions(path, kOwnerFolder))
        throw StoreFileError(QStringLiteral("Could not make the folder %1 private").arg(path));
}

void FileSecurity::ensurePrivateFile(const QString& path) {
    if (QFileInfo::exists(path))
        return;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerFile) && !file.exists())
        throw StoreFileError(
            QStringLiteral("Could not create %1: %2").arg(path, file.errorString()));
}

void FileSecurity::restrictToOwner(const QString& path) {
    if (QFileInfo(path).isFile())
        QFile::setPermissions(path, kOwnerFile);
}

void FileSecurity::writePrivateFileAtomically(const QString& path, const QByteArray& contents) {
    QSaveFile file(path);
    // Owner-only before the first byte is written; commit() syncs and renames into place.
    const bool written = file.open(QIODevice::WriteOnly) && file.setPermissions(kOwnerFile) &&
                         file.write(contents) == contents.size() && file.commit();
    if (!written)
        throw StoreFileError(
            QStringLiteral("Could not write %1: %2").arg(path, file.errorString()));
}
