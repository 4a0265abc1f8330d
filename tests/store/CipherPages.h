#pragma once

#include <QByteArray>

// Reads what an encrypted database really holds on disk: decrypts every page of a database
// file (and of its write-ahead log) with SQLCipher 4's default settings, so a test can look
// for text that should be gone, including in free pages and old log frames.
namespace CipherPages {
// The decrypted pages of the main file; the salt is its first 16 bytes.
QByteArray decryptDatabase(const QByteArray& file, const QByteArray& passphrase);
// The decrypted page images of a -wal file, using the salt of the main file.
QByteArray decryptLog(const QByteArray& log, const QByteArray& databaseFile,
                      const QByteArray& passphrase);
} // namespace CipherPages
