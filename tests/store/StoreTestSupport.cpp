#include "store/StoreTestSupport.h"

#include <QFile>
#include <sys/stat.h>

namespace TestSupport {

QByteArray testKey(char seed) {
    return QByteArray(32, seed);
}

std::unique_ptr<Database> openRaw(const QString& path, const QByteArray& key) {
    auto db = std::make_unique<Database>(path);
    db->applyKey(key);
    db->execute(QStringLiteral("PRAGMA foreign_keys = ON"));
    return db;
}

QByteArray readBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

int modeOf(const QString& path) {
    struct stat info {};
    if (::stat(path.toLocal8Bit().constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
}

QString seedFilePath() {
    return QStringLiteral(TESSARINE_SOURCE_DIR "/resources/default-exclusions.json");
}

} // namespace TestSupport
