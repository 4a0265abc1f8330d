#pragma once

#include <QString>
#include <stdexcept>

// A database failure: the SQLite (extended) result code and its message, passed on unchanged.
class StoreError : public std::runtime_error {
public:
    StoreError(int code, const QString& message);

    int code() const { return m_code; }
    // The primary result code (SQLITE_NOTADB, SQLITE_CONSTRAINT, ...).
    int primaryCode() const { return m_code & 0xff; }
    QString message() const { return QString::fromUtf8(what()); }

private:
    int m_code;
};

// The key could not be read from or stored in the keychain, or no random key could be made.
// Carries the status the keychain or the random source returned; no text of its own.
class ContextStoreError : public std::runtime_error {
public:
    enum class Kind { KeychainFailure };

    static ContextStoreError keychainFailure(qint32 status);

    Kind kind() const { return m_kind; }
    qint32 status() const { return m_status; }

private:
    ContextStoreError(Kind kind, qint32 status);

    Kind m_kind;
    qint32 m_status;
};

// A file operation of the store (creating folders, moving an unreadable database aside,
// reading the seed file) failed.
class StoreFileError : public std::runtime_error {
public:
    explicit StoreFileError(const QString& message);
    QString message() const { return QString::fromUtf8(what()); }
};
