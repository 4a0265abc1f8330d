#include "store/ContextStore.h"

#include "model/Log.h"
#include "model/Time.h"
#include "store/Database.h"
#include "store/FileSecurity.h"
#include "store/KeyProviders.h"
#include "store/Migrations.h"
#include "store/SeedFile.h"
#include "store/StoreError.h"
#include "store/StoreIds.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <sqlcipher.h>

namespace {

const QString kSideFileSuffixes[] = {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")};

void restrictDatabaseFiles(const QString& path) {
    for (const QString& suffix : kSideFileSuffixes)
        FileSecurity::restrictToOwner(path + suffix);
}

} // namespace

QString ContextStore::defaultDatabaseURL() {
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (dataHome.isEmpty())
        throw StoreFileError(QStringLiteral("No data folder for this user (set XDG_DATA_HOME)"));
    const QString folder = QDir(dataHome).filePath(QStringLiteral("Kestrune"));
    FileSecurity::ensurePrivateFolder(folder);
    return QDir(folder).filePath(QStringLiteral("kestrune.db"));
}

ContextStore::ContextStore(const QString& databasePath, DatabaseKeyProviding& keyProvider)
    : m_databasePath(databasePath) {
    const QByteArray key = keyProvider.databaseKey();
    // An empty passphrase would mean an unencrypted file; refuse before touching the file.
    if (key.isEmpty())
        throw StoreError(SQLITE_MISUSE, QStringLiteral("The database key is empty"));
    OpenStage stage = OpenStage::Opening;
    try {
        openAndMigrate(databasePath, key, m_db, m_migratedAtOpen, stage);
    } catch (const StoreError& error) {
        if (!provesUnreadable(error, stage, m_db.get())) {
            m_db.reset();
            qCCritical(lcStore).noquote()
                << "The database" << databasePath
                << "could not be opened (" + error.message() +
                       "); it was left untouched. Free disk space, check its permissions or"
                << "close the program holding it, then start Tessarine again.";
            throw;
        }
        qCWarning(lcStore).noquote() << "Database could not be opened (" + error.message() +
                                            "); moving it aside and starting a new one";
        quarantine(databasePath);
        m_db.reset();
        openAndMigrate(databasePath, key, m_db, m_migratedAtOpen, stage);
    }
    m_cachedRules = loadPrivacyRules();
    // Replaces SQLite's automatic checkpoint, which ran inside a commit.
    m_checkpointer = std::make_unique<WalCheckpointer>(databasePath, key);
    sqlite3_wal_hook(m_db->handle(), &ContextStore::onLogWritten, this);
}

int ContextStore::onLogWritten(void* store, sqlite3*, const char*, int pages) {
    if (pages >= kCheckpointPages)
        static_cast<ContextStore*>(store)->m_checkpointer->request(pages >= 10 * kCheckpointPages);
    return SQLITE_OK;
}

ContextStore::~ContextStore() {
    // Deliveries still queued for the main thread are dropped with the store.
    std::lock_guard lock(m_dbMutex);
    for (const auto& observer : m_observers)
        observer->cancelled = true;
}

void ContextStore::openAndMigrate(const QString& path, const QByteArray& key,
                                  std::unique_ptr<Database>& db, QStringList& migrated,
                                  OpenStage& stage) {
    stage = OpenStage::Opening;
    // Created owner-only up front: SQLite gives its -wal and -shm files the same mode.
    FileSecurity::ensurePrivateFile(path);
    db = std::make_unique<Database>(path);
    db->applyKey(key);
    // Another connection's lock (a backup, a shell) is waited for rather than failing.
    sqlite3_busy_timeout(db->handle(), kBusyTimeoutMs);
    stage = OpenStage::Reading;
    // The first statement that reads the file; a wrong key or a foreign file fails here.
    db->execute(QStringLiteral("PRAGMA journal_mode = WAL"));
    // A commit reaches the log with write() and is synced at checkpoints: a crash of the
    // process loses nothing; a power cut may lose the last moments, never the file's health.
    db->execute(QStringLiteral("PRAGMA synchronous = NORMAL"));
    db->execute(QStringLiteral("PRAGMA foreign_keys = ON"));
    // Compiled in; set again so erased rows are zeroed whatever the build's default.
    db->execute(QStringLiteral("PRAGMA secure_delete = ON"));
    stage = OpenStage::Migrating;
    migrated = Migrations::migrate(*db);
    restrictDatabaseFiles(path);
}

bool ContextStore::provesUnreadable(const StoreError& error, OpenStage stage, Database* db) {
    switch (error.primaryCode()) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_NOMEM:
    case SQLITE_INTERRUPT:
    case SQLITE_NOLFS:
    case SQLITE_AUTH:
    case SQLITE_MISUSE:
        return false; // the file may be fine: a lock, the disk or this process is at fault
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        break;
    default:
        // A migration that fails on a file the key reads (a schema it cannot take).
        return stage == OpenStage::Migrating;
    }
    if (!db)
        return false;
    // Confirmed page by page (it reads the whole file, so only now): with a wrong key or a
    // foreign file every page fails its check.
    try {
        Statement check(*db, QStringLiteral("PRAGMA cipher_integrity_check"));
        return check.step();
    } catch (const StoreError& checkError) {
        qCWarning(lcStore).noquote()
            << "The integrity check could not run (" + checkError.message() + ")";
        return false;
    }
}

std::optional<QString> ContextStore::quarantine(const QString& path) {
    if (!QFileInfo::exists(path))
        return std::nullopt;
    const QString stamp = QString::number(toMillis(std::chrono::system_clock::now()));
    for (const QString& suffix : kSideFileSuffixes) {
        const QString from = path + suffix;
        if (!QFileInfo::exists(from))
            continue;
        const QString to = path + QStringLiteral(".unreadable-") + stamp + suffix;
        QFile file(from);
        if (!file.rename(to))
            throw StoreFileError(
                QStringLiteral("Could not move the unreadable database %1 aside: %2")
                    .arg(from, file.errorString()));
        qCWarning(lcStore).noquote() << "Moved unreadable database file to" << Log::privateArg(to);
    }
    return path + QStringLiteral(".unreadable-") + stamp;
}

void ContextStore::seedDefaultExclusions(const QString& seedFilePath) {
    const SeedFile seed = SeedFile::read(seedFilePath);
    const qint64 now = toMillis(std::chrono::system_clock::now());
    write([&](Database& db) {
        for (const SeedFile::Rule& rule : seed.rules) {
            const std::optional<qint64> exists = db.scalarInt(
                QStringLiteral(
                    "SELECT EXISTS(SELECT 1 FROM privacy_rule WHERE scope = ? AND matcher = ?)"),
                rule.scope, rule.matcher);
            if (exists.value_or(0) != 0)
                continue;
            db.execute(QStringLiteral("INSERT INTO privacy_rule (id, scope, matcher, mode, "
                                      "is_default, created_at)\nVALUES (?, ?, ?, ?, 1, ?)"),
                       newID(), rule.scope, rule.matcher, rule.mode, now);
        }
    });
    reloadPrivacyRules();
}

QSet<QString> ContextStore::appliedMigrations() {
    return read([](Database& db) { return Migrations::applied(db); });
}

std::vector<std::pair<QString, qint64>> ContextStore::tableCounts() {
    static const char* const tables[] = {
        "source",       "event",        "context",        "detector_state",  "return_action",
        "document_ref", "privacy_rule", "retention_rule", "user_correction", "audit_log"};
    return read([](Database& db) {
        std::vector<std::pair<QString, qint64>> counts;
        for (const char* table : tables) {
            const QString name = QString::fromLatin1(table);
            counts.emplace_back(
                name, db.scalarInt(QStringLiteral("SELECT COUNT(*) FROM ") + name).value_or(0));
        }
        return counts;
    });
}

PrivacyRules ContextStore::privacyRules() const {
    std::lock_guard lock(m_rulesMutex);
    return m_cachedRules;
}

void ContextStore::reloadPrivacyRules() {
    PrivacyRules rules = loadPrivacyRules();
    // Swapped only after the read has finished; the lock never spans database work.
    std::lock_guard lock(m_rulesMutex);
    m_cachedRules = std::move(rules);
}

PrivacyRules ContextStore::loadPrivacyRules() {
    return read([](Database& db) {
        PrivacyRules rules;
        Statement statement(db, QStringLiteral("SELECT scope, matcher FROM privacy_rule WHERE "
                                               "mode = 'never_track'"));
        while (statement.step()) {
            const QString scope = statement.text(0).value_or(QString());
            const QString matcher = statement.text(1).value_or(QString());
            if (scope == u"app")
                rules.excludedBundleIDs.insert(matcher);
            else if (scope == u"window_pattern")
                rules.neverTrackTitlePatterns.append(matcher);
            else if (scope == u"url_pattern")
                rules.neverTrackURLPatterns.append(matcher);
        }
        return rules;
    });
}
