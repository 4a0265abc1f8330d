// Exclusions, retention, the audit log, export and delete everything.
#include "model/Log.h"
#include "store/AuditLog.h"
#include "store/ContextStore.h"
#include "store/FileSecurity.h"
#include "store/StoreError.h"
#include "store/StoreIds.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {

constexpr qint64 kSecondsPerDay = 86400;

const char* const kExportTables[] = {"source",         "context",        "event",
                                     "detector_state", "return_action",  "document_ref",
                                     "privacy_rule",   "retention_rule", "user_correction",
                                     "recall_query",   "audit_log"};

// A column value as text: integers as decimal digits, blobs as base64. NULL has no text.
std::optional<QString> exportText(const Statement& row, int column) {
    switch (row.columnType(column)) {
    case Statement::ColumnType::Null:
        return std::nullopt;
    case Statement::ColumnType::Integer:
        return QString::number(*row.int64(column));
    case Statement::ColumnType::Float:
        return QString::number(row.real(column), 'g', 17);
    case Statement::ColumnType::Blob:
        return QString::fromLatin1(row.blob(column).toBase64());
    case Statement::ColumnType::Text:
        return row.text(column);
    }
    Q_UNREACHABLE();
}

} // namespace

QList<PrivacyRuleRecord> ContextStore::privacyRuleRecords() {
    return read([](Database& db) {
        QList<PrivacyRuleRecord> records;
        Statement statement(db, QStringLiteral("SELECT id, scope, matcher, mode, is_default FROM "
                                               "privacy_rule ORDER BY is_default DESC, matcher"));
        while (statement.step())
            records.append(
                {statement.text(0).value_or(QString()), statement.text(1).value_or(QString()),
                 statement.text(2).value_or(QString()), statement.text(3).value_or(QString()),
                 statement.int64(4).value_or(0) != 0});
        return records;
    });
}

void ContextStore::deleteRows(Database& db, const QString& bundleID) {
    Statement source(db, QStringLiteral("SELECT id FROM source WHERE bundle_id = ?"));
    source.bindAll(bundleID);
    if (source.step()) {
        const QString sourceID = source.text(0).value_or(QString());
        // Children before parents, so foreign keys hold at every step.
        static const char* const erase[] = {
            "DELETE FROM detector_state WHERE context_id IN (SELECT id FROM context WHERE "
            "source_id = ?)",
            "DELETE FROM return_action WHERE context_id IN (SELECT id FROM context WHERE "
            "source_id = ?)",
            "DELETE FROM document_ref WHERE id IN (SELECT document_ref_id FROM context WHERE "
            "source_id = ? AND document_ref_id IS NOT NULL)",
            "DELETE FROM user_correction WHERE context_id IN (SELECT id FROM context WHERE "
            "source_id = ?)",
            "DELETE FROM event WHERE source_id = ?",
            "DELETE FROM context WHERE source_id = ?",
            "DELETE FROM source WHERE id = ?",
        };
        for (const char* sql : erase)
            db.execute(QString::fromLatin1(sql), sourceID);
    }
    db.execute(QStringLiteral("UPDATE context SET interrupted_by_bundle = NULL, "
                              "interrupted_by_name = NULL WHERE interrupted_by_bundle = ?"),
               bundleID);
}

void ContextStore::addExclusion(const QString& bundleID, TimePoint at) {
    write([&](Database& db) {
        const auto exists = db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM privacy_rule "
                                                        "WHERE scope = 'app' AND matcher = ?)"),
                                         bundleID);
        if (exists.value_or(0) == 0)
            db.execute(QStringLiteral("INSERT INTO privacy_rule (id, scope, matcher, mode, "
                                      "is_default, created_at) VALUES (?, 'app', ?, "
                                      "'never_track', 0, ?)"),
                       newID(), bundleID, toMillis(at));
        deleteRows(db, bundleID);
    });
    reloadPrivacyRules();
    recordAudit(AuditLog::rawValue(AuditLog::Action::ExclusionAdded), bundleID, at);
    checkpointErasedPages();
}

void ContextStore::removeExclusion(const QString& ruleID, TimePoint at) {
    const std::optional<QString> removed = write([&](Database& db) -> std::optional<QString> {
        Statement rule(db, QStringLiteral("SELECT matcher, is_default FROM privacy_rule WHERE id "
                                          "= ?"));
        rule.bindAll(ruleID);
        if (!rule.step() || rule.int64(1).value_or(0) != 0)
            return std::nullopt; // unknown, or shipped with the application
        const std::optional<QString> matcher = rule.text(0);
        db.execute(QStringLiteral("DELETE FROM privacy_rule WHERE id = ?"), ruleID);
        return matcher.value_or(QString());
    });
    if (!removed)
        return;
    reloadPrivacyRules();
    recordAudit(AuditLog::rawValue(AuditLog::Action::ExclusionRemoved), *removed, at);
}

void ContextStore::addURLExclusion(const QString& pattern, TimePoint at) {
    write([&](Database& db) {
        const auto exists = db.scalarInt(QStringLiteral("SELECT EXISTS(SELECT 1 FROM privacy_rule "
                                                        "WHERE scope = 'url_pattern' AND matcher "
                                                        "= ?)"),
                                         pattern);
        if (exists.value_or(0) == 0)
            db.execute(QStringLiteral("INSERT INTO privacy_rule (id, scope, matcher, mode, "
                                      "is_default, created_at) VALUES (?, 'url_pattern', ?, "
                                      "'never_track', 0, ?)"),
                       newID(), pattern, toMillis(at));
        db.execute(QStringLiteral("DELETE FROM return_action WHERE kind IN ('open_url', "
                                  "'deep_link') AND LOWER(payload) GLOB LOWER(?)"),
                   pattern);
        db.execute(QStringLiteral("DELETE FROM document_ref WHERE kind = 'url' AND LOWER(locator) "
                                  "GLOB LOWER(?)"),
                   pattern);
    });
    reloadPrivacyRules();
    recordAudit(AuditLog::rawValue(AuditLog::Action::ExclusionAdded),
                QStringLiteral("url: ") + pattern, at);
    checkpointErasedPages();
}

RetentionSettings ContextStore::retentionSettings() {
    return read([](Database& db) {
        RetentionSettings settings;
        Statement statement(db, QStringLiteral("SELECT ttl_days, exempt_pinned FROM retention_rule "
                                               "WHERE applies_to = 'all' LIMIT 1"));
        if (statement.step()) {
            settings.ttlDays = statement.int64(0).value_or(settings.ttlDays);
            settings.exemptPinned = statement.int64(1).value_or(1) != 0;
        }
        return settings;
    });
}

void ContextStore::setRetentionTTL(qint64 days, TimePoint at) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE retention_rule SET ttl_days = ?, updated_at = ? WHERE "
                                  "applies_to = 'all'"),
                   days, toMillis(at));
    });
    recordAudit(AuditLog::rawValue(AuditLog::Action::RetentionChanged),
                QString::number(days) + QStringLiteral(" days"), at);
}

qint64 ContextStore::purgeExpired(TimePoint now) {
    const RetentionSettings settings = retentionSettings();
    const qint64 cutoff = toMillis(now - std::chrono::seconds(settings.ttlDays * kSecondsPerDay));
    const QString pinned =
        settings.exemptPinned ? QStringLiteral("AND c.is_pinned = 0") : QString();
    const QString events = settings.exemptPinned
                               ? QStringLiteral("AND (context_id IS NULL OR context_id NOT IN "
                                                "(SELECT id FROM context WHERE is_pinned = 1))")
                               : QString();
    const QString expiredLoops =
        QStringLiteral("\n    (SELECT c.id FROM context c WHERE c.created_at < ? ") + pinned +
        QStringLiteral(")");
    const qint64 purged = write([&](Database& db) {
        // Rows that still point at a purged loop are tidied up before the commit checks
        // foreign keys (see below).
        db.execute(QStringLiteral("PRAGMA defer_foreign_keys = ON"));
        qint64 deleted = 0;
        const auto run = [&](const QString& sql, auto... args) {
            db.execute(sql, args...);
            deleted += db.changes();
        };
        run(QStringLiteral("DELETE FROM detector_state WHERE context_id IN") + expiredLoops,
            cutoff);
        run(QStringLiteral("DELETE FROM return_action WHERE context_id IN") + expiredLoops, cutoff);
        run(QStringLiteral("DELETE FROM event WHERE occurred_at < ? ") + events, cutoff);
        run(QStringLiteral("DELETE FROM context WHERE id IN") + expiredLoops, cutoff);
        run(QStringLiteral("DELETE FROM recall_query WHERE occurred_at < ?"), cutoff);
        run(QStringLiteral("DELETE FROM document_ref WHERE id NOT IN (SELECT document_ref_id FROM "
                           "context WHERE document_ref_id IS NOT NULL)"));
        run(QStringLiteral("DELETE FROM audit_log WHERE occurred_at < ? AND action NOT IN "
                           "('export_performed', 'delete_everything')"),
            cutoff);
        // A purged loop's corrections go with it; a recent event attributed to it is kept
        // without the attribution. Neither is counted: the purge reports its own deletes.
        db.execute(QStringLiteral("DELETE FROM user_correction WHERE context_id NOT IN (SELECT id "
                                  "FROM context)"));
        db.execute(QStringLiteral("UPDATE event SET context_id = NULL WHERE context_id IS NOT NULL "
                                  "AND context_id NOT IN (SELECT id FROM context)"));
        return deleted;
    });
    if (purged > 0)
        checkpointErasedPages();
    return purged;
}

void ContextStore::recordAudit(const QString& action, const std::optional<QString>& detail,
                               TimePoint at) {
    write([&](Database& db) {
        db.execute(QStringLiteral("INSERT INTO audit_log (id, action, detail, occurred_at) VALUES "
                                  "(?, ?, ?, ?)"),
                   newID(), action, detail, toMillis(at));
    });
}

QList<AuditEntry> ContextStore::auditEntries(int limit) {
    return read([&](Database& db) {
        QList<AuditEntry> entries;
        Statement statement(db, QStringLiteral("SELECT id, action, detail, occurred_at FROM "
                                               "audit_log ORDER BY occurred_at DESC LIMIT ?"));
        statement.bindAll(limit);
        while (statement.step())
            entries.append({statement.text(0).value_or(QString()),
                            statement.text(1).value_or(QString()), statement.text(2),
                            fromMillis(statement.int64(3).value_or(0))});
        return entries;
    });
}

void ContextStore::exportTo(const QUrl& url, TimePoint at) {
    if (!url.isLocalFile())
        return;
    const QJsonObject tables = read([](Database& db) {
        QJsonObject all;
        for (const char* table : kExportTables) {
            QJsonArray rows;
            Statement statement(db, QStringLiteral("SELECT * FROM ") + QLatin1String(table));
            while (statement.step()) {
                QJsonObject row;
                for (int column = 0; column < statement.columnCount(); ++column) {
                    if (const std::optional<QString> text = exportText(statement, column))
                        row.insert(statement.columnName(column), *text);
                }
                rows.append(row);
            }
            all.insert(QLatin1String(table), rows);
        }
        return all;
    });
    const QString path = url.toLocalFile();
    // Plain private data: owner-only, and never a half-written file.
    FileSecurity::writePrivateFileAtomically(path,
                                             QJsonDocument(tables).toJson(QJsonDocument::Indented));
    recordAudit(AuditLog::rawValue(AuditLog::Action::ExportPerformed), QFileInfo(path).fileName(),
                at);
}

void ContextStore::deleteEverything(TimePoint at) {
    write([](Database& db) {
        static const char* const tables[] = {"detector_state", "return_action", "user_correction",
                                             "event",          "context",       "document_ref",
                                             "recall_query",   "source"};
        for (const char* table : tables)
            db.execute(QStringLiteral("DELETE FROM ") + QLatin1String(table));
    });
    {
        std::lock_guard lock(m_dbMutex);
        m_db->execute(QStringLiteral("VACUUM"));
        checkpoint();
    }
    recordAudit(AuditLog::rawValue(AuditLog::Action::DeleteEverything), std::nullopt, at);
}

void ContextStore::checkpointErasedPages() {
    std::lock_guard lock(m_dbMutex);
    checkpoint();
}

void ContextStore::checkpoint() {
    // secure_delete zeroes erased rows in the pages written from now on, but in WAL mode the
    // older page images stay in the main file until a checkpoint and in -wal until it is
    // truncated. A reader (another connection) can block this; it is retried after the
    // next write.
    try {
        Statement run(*m_db, QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        m_checkpointPending = run.step() && run.int64(0).value_or(0) != 0;
    } catch (const StoreError& error) {
        m_checkpointPending = true;
        qCWarning(lcStore).noquote() << "Checkpoint after erasing failed (" + error.message() +
                                            "); retried after the next write";
    }
}
