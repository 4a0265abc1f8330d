#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

class Database;

// A prepared statement; finalized when it goes out of scope.
class Statement {
public:
    Statement(Database& database, const QString& sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement(Statement&& other) noexcept;
    Statement& operator=(Statement&&) = delete;

    // Positional parameters start at 1.
    void bind(int index, qint64 value);
    void bind(int index, int value) { bind(index, static_cast<qint64>(value)); }
    void bind(int index, const QString& value);
    void bind(int index, const char* value) { bind(index, QString::fromUtf8(value)); }
    void bind(int index, const QByteArray& blob);
    void bind(int index, std::nullopt_t);
    template <typename T> void bind(int index, const std::optional<T>& value) {
        if (value)
            bind(index, *value);
        else
            bind(index, std::nullopt);
    }

    template <typename... Args> void bindAll(const Args&... args) {
        int index = 0;
        (bind(++index, args), ...);
    }

    // Advances to the next row; false when the statement is done.
    bool step();
    void reset();

    enum class ColumnType { Integer, Float, Text, Blob, Null };

    int columnCount() const;
    ColumnType columnType(int column) const;
    double real(int column) const;
    QByteArray blob(int column) const;
    QString columnName(int column) const;
    bool isNull(int column) const;
    bool isInteger(int column) const;
    std::optional<qint64> int64(int column) const;
    std::optional<QString> text(int column) const;
    // The column's UTF-8 bytes, valid until the next step; empty for NULL.
    QByteArrayView utf8(int column) const;

private:
    Database& m_database;
    sqlite3_stmt* m_statement = nullptr;
};

// One SQLCipher connection, opened serialized and closed when it goes out of scope.
class Database {
public:
    // Opens (creating if missing) the file. Nothing is read until the first statement.
    explicit Database(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // The SQLCipher passphrase for this connection; must come before any other statement.
    void applyKey(const QByteArray& passphrase);

    // Runs a statement that returns no rows of interest.
    template <typename... Args> void execute(const QString& sql, const Args&... args) {
        Statement statement(*this, sql);
        statement.bindAll(args...);
        while (statement.step()) {
        }
    }

    // The first column of the first row, or nothing when there is no row or it is NULL.
    template <typename... Args>
    std::optional<qint64> scalarInt(const QString& sql, const Args&... args) {
        Statement statement(*this, sql);
        statement.bindAll(args...);
        if (!statement.step())
            return std::nullopt;
        return statement.int64(0);
    }

    // Rows changed by the last INSERT, UPDATE or DELETE.
    qint64 changes() const;

    // Tables in which rows were inserted, updated or deleted since the last call.
    // (Deletes that SQLite performs as a whole-table truncation are not seen; with foreign
    // keys on, the loop tables are never truncated that way.)
    QSet<QString> takeChangedTables();
    // While one is alive, changed rows are not noted (a write that cannot change what the
    // observers see, such as an application's last-seen time).
    class UnnotedChanges {
    public:
        explicit UnnotedChanges(Database& database)
            : m_database(database) {
            ++m_database.m_unnoted;
        }
        ~UnnotedChanges() { --m_database.m_unnoted; }
        UnnotedChanges(const UnnotedChanges&) = delete;
        UnnotedChanges& operator=(const UnnotedChanges&) = delete;

    private:
        Database& m_database;
    };
    bool inTransaction() const;

    [[noreturn]] void throwLastError() const;
    [[noreturn]] void throwError(int code) const;
    sqlite3* handle() const { return m_db; }
    QString path() const { return m_path; }

private:
    static void onRowChange(void* self, int operation, const char* database, const char* table,
                            long long rowid);

    QString m_path;
    sqlite3* m_db = nullptr;
    QSet<QString> m_changedTables;
    int m_unnoted = 0;
};

// A savepoint inside an open transaction: what ran since it is undone alone unless release()
// succeeded, also when an exception unwinds; the transaction goes on.
class Savepoint {
public:
    explicit Savepoint(Database& database);
    ~Savepoint();
    Savepoint(const Savepoint&) = delete;
    Savepoint& operator=(const Savepoint&) = delete;

    void release();

private:
    Database& m_database;
    bool m_open = false;
};

// BEGIN on construction; rolls back unless commit() succeeded, also when an exception unwinds.
class Transaction {
public:
    enum class Kind { Read, Write };

    Transaction(Database& database, Kind kind);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    void commit();

private:
    Database& m_database;
    bool m_open = false;
};
