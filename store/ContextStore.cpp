#include "store/ContextStore.h"

#include "core/Log.h"
#include "core/Time.h"
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
    try {
        openAndMigrate(databasePath, key, m_db, m_migratedAtOpen);
    } catch (const StoreError& error) {
        qCWarning(lcStore).noquote() << "Database could not be opened (" + error.message() +
                                            "); moving it aside and starting a new one";
        quarantine(databasePath);
        m_db.reset();
        openAndMigrate(databasePath, key, m_db, m_migratedAtOpen);
    }
    m_cachedRules = loadPrivacyRules();
}

ContextStore::~ContextStore() {
    // Deliveries still queued for the main thread are dropped with the store.
    std::lock_guard lock(m_dbMutex);
    for (const auto& observer : m_observers)
        observer->cancelled = true;
}

void ContextStore::openAndMigrate(const QString& path, const QByteArray& key,
                                  std::unique_ptr<Database>& db, QStringList& migrated) {
    // Created owner-only up front: SQLite gives its -wal and -shm files the same mode.
    FileSecurity::ensurePrivateFile(path);
    db = std::make_unique<Database>(path);
    db->applyKey(key);
    // The first statement that reads the file; a wrong key or a foreign file fails here.
    db->execute(QStringLiteral("PRAGMA journal_mode = WAL"));
    db->execute(QStringLiteral("PRAGMA foreign_keys = ON"));
    migrated = Migrations::migrate(*db);
    restrictDatabaseFiles(path);
}

void ContextStore::quarantine(const QString& path) {
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
