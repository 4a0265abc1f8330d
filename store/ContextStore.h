#pragma once

#include "store/PrivacyRules.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

class Database;
class DatabaseKeyProviding;

// The single owner of Tessarine's persistent data: one encrypted database file.
// Every operation is one synchronous transaction on the one connection, serialised
// across threads; errors are thrown unchanged and leave no partial change.
class ContextStore {
public:
    // $XDG_DATA_HOME/Kestrune/kestrune.db (a local path); creates the 0700 folder.
    static QString defaultDatabaseURL();

    // Opens the database with the provider's key and brings it to the current schema.
    // A file that cannot be opened, decrypted or migrated is moved aside (quarantined)
    // and one fresh database is tried. Throws what finally failed.
    ContextStore(const QString& databasePath, DatabaseKeyProviding& keyProvider);
    ~ContextStore();
    ContextStore(const ContextStore&) = delete;
    ContextStore& operator=(const ContextStore&) = delete;

    QString databasePath() const { return m_databasePath; }

    // Inserts the shipped exclusions not yet stored (matched on scope and matcher), then
    // reloads the rule cache. A malformed file inserts nothing.
    void seedDefaultExclusions(const QString& seedFilePath);

    QSet<QString> appliedMigrations();
    // The migrations this process applied when it opened the database, in order.
    QStringList migrationsAppliedAtOpen() const { return m_migratedAtOpen; }
    // Row counts of the ten data tables, in a fixed order (diagnostics).
    std::vector<std::pair<QString, qint64>> tableCounts();

    PrivacyRules privacyRules() const;
    // Reads the never-track rules again; on failure the previous rules stay.
    void reloadPrivacyRules();

private:
    // The connection is handed out through `db` as soon as it exists, so that a failed
    // attempt can be moved aside before it is closed (closing may tidy up side files).
    static void openAndMigrate(const QString& path, const QByteArray& key,
                               std::unique_ptr<Database>& db, QStringList& migrated);
    static void quarantine(const QString& path);
    PrivacyRules loadPrivacyRules();

    QString m_databasePath;
    QStringList m_migratedAtOpen;
    std::unique_ptr<Database> m_db;
    std::mutex m_dbMutex;
    PrivacyRules m_cachedRules;
    mutable std::mutex m_rulesMutex;
};
