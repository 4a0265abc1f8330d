#pragma once

#include <QString>

// Owner-only files and folders for the user's private data.
namespace FileSecurity {
// Creates the folder (and its parents) if missing and makes it 0700. Throws StoreFileError.
void ensurePrivateFolder(const QString& path);
// Creates an empty 0600 file if nothing exists at the path. Throws StoreFileError.
void ensurePrivateFile(const QString& path);
// Makes an existing file 0600; a missing file is skipped.
void restrictToOwner(const QString& path);
// Writes a 0600 file atomically and durably (synced temporary file, then rename).
void writePrivateFileAtomically(const QString& path, const QByteArray& contents);
} // namespace FileSecurity
