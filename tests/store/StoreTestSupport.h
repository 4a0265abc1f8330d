#pragma once

#include "store/Database.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <memory>

namespace TestSupport {
// A 32-byte key that differs per seed.
QByteArray testKey(char seed = 'k');
// A second, raw connection to an encrypted database, for looking behind the store's back.
std::unique_ptr<Database> openRaw(const QString& path, const QByteArray& key);
QByteArray readBytes(const QString& path);
// Unix permission bits of a file or folder, e.g. 0600.
int modeOf(const QString& path);
QString seedFilePath();
} // namespace TestSupport
