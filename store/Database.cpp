#include "store/Database.h"

#include "store/StoreError.h"

#include <sqlcipher.h>
#include <utility>

Statement::Statement(Database& database, const QString& sql)
    : m_database(database) {
    const QByteArray utf8 = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(database.handle(), utf8.constData(),
                                      static_cast<int>(utf8.size()), &m_statement, nullptr);
    if (rc != SQLITE_OK)
        database.throwError(rc);
}

Statement::Statement(Statement&& other) noexcept
    : m_database(other.m_database)
    , m_statement(other.m_statement) {
    other.m_statement = nullptr;
}

Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

void Statement::bind(int index, qint64 value) {
    if (const int rc = sqlite3_bind_int64(m_statement, index, value); rc != SQLITE_OK)
        m_database.throwError(rc);
}

void Statement::bind(int index, const QString& value) {
    const QByteArray utf8 = value.toUtf8();
    const int rc = sqlite3_bind_text64(m_statement, index, utf8.constData(),
                                       static_cast<sqlite3_uint64>(utf8.size()), SQLITE_TRANSIENT,
                                       SQLITE_UTF8);
    if (rc != SQLITE_OK)
        m_database.throwError(rc);
}

void Statement::bind(int index, const QByteArray& blob) {
    const int rc = sqlite3_bind_blob64(m_statement, index, blob.constData(),
                                       static_cast<sqlite3_uint64>(blob.size()), SQLITE_TRANSIENT);
    if (rc != SQLITE_OK)
        m_database.throwError(rc);
}

void Statement::bind(int index, std::nullopt_t) {
    if (const int rc = sqlite3_bind_null(m_statement, index); rc != SQLITE_OK)
        m_database.throwError(rc);
}

bool Statement::step() {
    const int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    m_database.throwError(rc);
}

void Statement::reset() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

int Statement::columnCount() const {
    return sqlite3_column_count(m_statement);
}

Statement::ColumnType Statement::columnType(int column) const {
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_INTEGER:
        return ColumnType::Integer;
    case SQLITE_FLOAT:
        return ColumnType::Float;
    case SQLITE_BLOB:
        return ColumnType::Blob;
    case SQLITE_NULL:
        return ColumnType::Null;
    default:
        return ColumnType::Text;
    }
}

double Statement::real(int column) const {
    return sqlite3_column_double(m_statement, column);
}

QByteArray Statement::blob(int column) const {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(m_statement, column));
    return QByteArray(bytes, sqlite3_column_bytes(m_statement, column));
}

QString Statement::columnName(int column) const {
    return QString::fromUtf8(sqlite3_column_name(m_statement, column));
}

bool Statement::isNull(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_NULL;
}

bool Statement::isInteger(int column) const {
    return sqlite3_column_type(m_statement, column) == SQLITE_INTEGER;
}

std::optional<qint64> Statement::int64(int column) const {
    if (isNull(column))
        return std::nullopt;
    return sqlite3_column_int64(m_statement, column);
}

std::optional<QString> Statement::text(int column) const {
    if (isNull(column))
        return std::nullopt;
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    const int size = sqlite3_column_bytes(m_statement, column);
    return QString::fromUtf8(data, size);
}

QByteArrayView Statement::utf8(int column) const {
    const auto* data = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return data ? QByteArrayView(data, sqlite3_column_bytes(m_statement, column))
                : QByteArrayView();
}

Database::Database(const QString& path)
    : m_path(path) {
    // No mutex of SQLite's own: a connection is used by one thread at a time (the store
    // serialises its connection with its own lock; the checkpointer's stays on its thread),
    // and SQLite's would be taken again for every column read.
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &m_db, flags, nullptr);
    if (rc != SQLITE_OK) {
        // sqlite3_open_v2 hands back a handle even on failure; it carries the message.
        const QString message =
            m_db ? QString::fromUtf8(sqlite3_errmsg(m_db)) : QString::fromUtf8(sqlite3_errstr(rc));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        throw StoreError(rc, message);
    }
    sqlite3_extended_result_codes(m_db, 1);
    sqlite3_update_hook(m_db, &Database::onRowChange, this);
}

void Database::onRowChange(void* self, int, const char*, const char* table, long long) {
    auto* database = static_cast<Database*>(self);
    if (database->m_unnoted > 0)
        return;
    const QString name = QString::fromUtf8(table);
    if (!database->m_changedTables.contains(name))
        database->m_changedTables.insert(name);
}

QSet<QString> Database::takeChangedTables() {
    return std::exchange(m_changedTables, {});
}

Database::~Database() {
    sqlite3_close_v2(m_db);
}

void Database::applyKey(const QByteArray& passphrase) {
    const int rc = sqlite3_key(m_db, passphrase.constData(), static_cast<int>(passphrase.size()));
    if (rc != SQLITE_OK)
        throwError(rc);
}

qint64 Database::changes() const {
    return sqlite3_changes64(m_db);
}

bool Database::inTransaction() const {
    return sqlite3_get_autocommit(m_db) == 0;
}

void Database::throwLastError() const {
    throw StoreError(sqlite3_extended_errcode(m_db), QString::fromUtf8(sqlite3_errmsg(m_db)));
}

void Database::throwError(int code) const {
    // The connection's message belongs to the failing call; fall back to the code's text.
    const int extended = sqlite3_extended_errcode(m_db);
    const int reported = (extended & 0xff) == (code & 0xff) ? extended : code;
    const char* message =
        (extended & 0xff) == (code & 0xff) ? sqlite3_errmsg(m_db) : sqlite3_errstr(code);
    throw StoreError(reported, QString::fromUtf8(message));
}

Transaction::Transaction(Database& database, Kind kind)
    : m_database(database) {
    // A write transaction takes the write lock at once, so it never fails half-way on BUSY.
    m_database.execute(kind == Kind::Write ? QStringLiteral("BEGIN IMMEDIATE")
                                           : QStringLiteral("BEGIN DEFERRED"));
    m_open = true;
}

Transaction::~Transaction() {
    if (m_open && m_database.inTransaction())
        sqlite3_exec(m_database.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

Savepoint::Savepoint(Database& database)
    : m_database(database) {
    m_database.execute(QStringLiteral("SAVEPOINT write_step"));
    m_open = true;
}

Savepoint::~Savepoint() {
    // Some failures (a full disk, I/O errors) end the whole transaction: nothing to undo then.
    if (m_open && m_database.inTransaction()) {
        sqlite3_exec(m_database.handle(), "ROLLBACK TO write_step", nullptr, nullptr, nullptr);
        sqlite3_exec(m_database.handle(), "RELEASE write_step", nullptr, nullptr, nullptr);
    }
}

void Savepoint::release() {
    m_database.execute(QStringLiteral("RELEASE write_step"));
    m_open = false;
}

void Transaction::commit() {
    m_database.execute(QStringLiteral("COMMIT"));
    m_open = false;
}
