#include "store/Migrations.h"

#include "model/Time.h"
#include "store/Database.h"
#include "store/StoreIds.h"

#include <functional>
#include <vector>

namespace {

struct Migration {
    QString identifier;
    std::function<void(Database&)> apply;
};

void executeAll(Database& db, std::initializer_list<const char*> statements) {
    for (const char* sql : statements)
        db.execute(QString::fromUtf8(sql));
}

QString newID() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

void v1(Database& db) {
    executeAll(
        db,
        {
            "CREATE TABLE source (id TEXT PRIMARY KEY, bundle_id TEXT NOT NULL UNIQUE, "
            "display_name TEXT, detector_kind TEXT, is_excluded INTEGER NOT NULL DEFAULT 0, "
            "first_seen_at INTEGER NOT NULL, last_seen_at INTEGER NOT NULL)",

            "CREATE TABLE context (id TEXT PRIMARY KEY, source_id TEXT NOT NULL REFERENCES source, "
            "document_ref_id TEXT, label TEXT, state TEXT NOT NULL, state_reason TEXT, "
            "is_pinned INTEGER NOT NULL DEFAULT 0, created_at INTEGER NOT NULL, "
            "state_changed_at INTEGER NOT NULL, backgrounded_at INTEGER, ready_at INTEGER, "
            "dismissed_at INTEGER, snooze_until INTEGER)",
            "CREATE INDEX context_state_changed ON context (state, state_changed_at)",
            "CREATE INDEX context_source ON context (source_id)",
            "CREATE INDEX context_pinned ON context (is_pinned)",

            "CREATE TABLE event (id TEXT PRIMARY KEY, source_id TEXT NOT NULL REFERENCES source, "
            "context_id TEXT REFERENCES context, type TEXT NOT NULL, window_title TEXT, "
            "occurred_at INTEGER NOT NULL, metadata_json TEXT)",
            "CREATE INDEX event_occurred ON event (occurred_at)",
            "CREATE INDEX event_context_occurred ON event (context_id, occurred_at)",
            "CREATE INDEX event_source_occurred ON event (source_id, occurred_at)",

            "CREATE TABLE detector_state (id TEXT PRIMARY KEY, "
            "context_id TEXT NOT NULL REFERENCES context, detector_kind TEXT NOT NULL, "
            "signal TEXT NOT NULL, signal_detail TEXT, observed_at INTEGER NOT NULL)",
            "CREATE INDEX detector_state_context_observed ON detector_state (context_id, "
            "observed_at)",

            "CREATE TABLE document_ref (id TEXT PRIMARY KEY, kind TEXT NOT NULL, locator TEXT, "
            "title TEXT, created_at INTEGER NOT NULL)",

            "CREATE TABLE user_correction (id TEXT PRIMARY KEY, "
            "context_id TEXT NOT NULL REFERENCES context, kind TEXT NOT NULL, previous_state TEXT, "
            "corrected_at INTEGER NOT NULL, note TEXT)",

            "CREATE TABLE recall_query (id TEXT PRIMARY KEY, trigger TEXT NOT NULL, query_text "
            "TEXT, "
            "result_context_id TEXT, occurred_at INTEGER NOT NULL)",

            "CREATE TABLE privacy_rule (id TEXT PRIMARY KEY, scope TEXT NOT NULL, "
            "matcher TEXT NOT NULL, mode TEXT NOT NULL, is_default INTEGER NOT NULL DEFAULT 0, "
            "created_at INTEGER NOT NULL)",

            "CREATE TABLE retention_rule (id TEXT PRIMARY KEY, applies_to TEXT NOT NULL, "
            "ttl_days INTEGER NOT NULL, exempt_pinned INTEGER NOT NULL DEFAULT 1, "
            "updated_at INTEGER NOT NULL)",
        });
    db.execute(
        QStringLiteral(
            "INSERT INTO retention_rule (id, applies_to, ttl_days, exempt_pinned, updated_at)\n"
            "VALUES (?, 'all', 7, 1, ?)"),
        newID(), toMillis(std::chrono::system_clock::now()));
}

void v3(Database& db) {
    executeAll(db, {
                       "ALTER TABLE context ADD COLUMN title_key TEXT",
                       "ALTER TABLE context ADD COLUMN note TEXT",
                       "CREATE INDEX context_source_titlekey ON context (source_id, title_key)",
                   });
}

void v2(Database& db) {
    executeAll(
        db, {
                "CREATE TABLE audit_log (id TEXT PRIMARY KEY, action TEXT NOT NULL, detail TEXT, "
                "occurred_at INTEGER NOT NULL)",
                "CREATE INDEX audit_occurred ON audit_log (occurred_at)",
            });
}

void v4(Database& db) {
    executeAll(db,
               {
                   "CREATE TABLE return_action (id TEXT PRIMARY KEY, "
                   "context_id TEXT NOT NULL REFERENCES context, kind TEXT NOT NULL, payload TEXT "
                   "NOT NULL, "
                   "label TEXT, provenance TEXT NOT NULL, rank INTEGER NOT NULL DEFAULT 0, "
                   "is_valid INTEGER NOT NULL DEFAULT 1, last_validated_at INTEGER, "
                   "created_at INTEGER NOT NULL, UNIQUE (context_id, kind, payload))",
                   "CREATE INDEX return_action_context_rank ON return_action (context_id, rank)",
               });
}

const std::vector<Migration>& migrations() {
    static const std::vector<Migration> list = {
        {QStringLiteral("v1"), v1},
        {QStringLiteral("v3"), v3},
        {QStringLiteral("v2"), v2},
        {QStringLiteral("v4"), v4},
        {QStringLiteral("v5"),
         [](Database& db) {
             executeAll(db, {"ALTER TABLE context ADD COLUMN interrupted_by_bundle TEXT",
                             "ALTER TABLE context ADD COLUMN interrupted_by_name TEXT"});
         }},
        {QStringLiteral("v6"),
         [](Database& db) { executeAll(db, {"ALTER TABLE context ADD COLUMN favicon TEXT"}); }},
        {QStringLiteral("v7"),
         [](Database& db) { executeAll(db, {"ALTER TABLE context ADD COLUMN topic TEXT"}); }},
        {QStringLiteral("v8"),
         [](Database& db) { executeAll(db, {"ALTER TABLE context ADD COLUMN prompt_line TEXT"}); }},
        {QStringLiteral("v9"),
         [](Database& db) {
             executeAll(db,
                        {"ALTER TABLE context ADD COLUMN detector_kind TEXT",
                         "ALTER TABLE context ADD COLUMN is_session INTEGER NOT NULL DEFAULT 0"});
         }},
        // The open loops alone, by state and age: the live list and the ageing clocks read
        // only these, however many dismissed loops are kept.
        {QStringLiteral("v10"),
         [](Database& db) {
             executeAll(db, {"CREATE INDEX context_open ON context (state, state_changed_at) "
                             "WHERE dismissed_at IS NULL"});
         }},
        // Whether a detector ever spoke about a loop, kept on the loop: the live list shows it
        // for every open loop, and looking for a signal per loop cost as much as the rest of
        // the list. A loop's signals are deleted only with the loop, so the mark is never
        // cleared; the trigger sets it in the same commit as the signal.
        {QStringLiteral("v11"),
         [](Database& db) {
             executeAll(db,
                        {"ALTER TABLE context ADD COLUMN has_evidence INTEGER NOT NULL DEFAULT 0",
                         "UPDATE context SET has_evidence = 1 WHERE id IN "
                         "(SELECT context_id FROM detector_state)",
                         "CREATE INDEX context_open_recent ON context (state_changed_at DESC) "
                         "WHERE dismissed_at IS NULL",
                         "CREATE TRIGGER detector_state_marks_evidence AFTER INSERT ON "
                         "detector_state BEGIN UPDATE context SET has_evidence = 1 WHERE id = "
                         "NEW.context_id AND has_evidence = 0; END"});
         }},
    };
    return list;
}

void createLedger(Database& db) {
    db.execute(QStringLiteral("CREATE TABLE IF NOT EXISTS migration_ledger "
                              "(identifier TEXT PRIMARY KEY, applied_at INTEGER NOT NULL)"));
}

} // namespace

QStringList Migrations::identifiers() {
    QStringList list;
    for (const Migration& migration : migrations())
        list.append(migration.identifier);
    return list;
}

QSet<QString> Migrations::applied(Database& database) {
    QSet<QString> identifiers;
    Statement statement(database, QStringLiteral("SELECT identifier FROM migration_ledger"));
    while (statement.step())
        identifiers.insert(statement.text(0).value_or(QString()));
    return identifiers;
}

QStringList Migrations::migrate(Database& database) {
    QStringList appliedNow;
    createLedger(database);
    const QSet<QString> done = applied(database);
    for (const Migration& migration : migrations()) {
        if (done.contains(migration.identifier))
            continue;
        Transaction transaction(database, Transaction::Kind::Write);
        // Foreign keys are checked once, when the migration commits.
        database.execute(QStringLiteral("PRAGMA defer_foreign_keys = ON"));
        migration.apply(database);
        database.execute(
            QStringLiteral("INSERT INTO migration_ledger (identifier, applied_at) VALUES (?, ?)"),
            migration.identifier, toMillis(std::chrono::system_clock::now()));
        transaction.commit();
        appliedNow.append(migration.identifier);
    }
    return appliedNow;
}
