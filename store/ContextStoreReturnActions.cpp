// Return actions: cleaned, merged, ranked by provenance and kept to the best three.
#include "model/ReturnActionSanitizer.h"
#include "store/ContextStore.h"
#include "store/StoreIds.h"

namespace {

// The read and the prune rank alike: provenance, then the suggester's order, then newest.
const QString kReadSQL = QStringLiteral("SELECT * FROM return_action WHERE context_id = ?\n"
                                        "ORDER BY\n"
                                        "    CASE WHEN provenance = 'user' THEN 0\n"
                                        "         WHEN provenance LIKE 'detector:%' THEN 1\n"
                                        "         ELSE 2 END,\n"
                                        "    rank, created_at DESC");

const QString kPruneSQL =
    QStringLiteral("DELETE FROM return_action WHERE context_id = ? AND id NOT "
                   "IN (\n"
                   "    SELECT id FROM return_action WHERE context_id = ?\n"
                   "    ORDER BY\n"
                   "        CASE WHEN provenance = 'user' THEN 0\n"
                   "             WHEN provenance LIKE 'detector:%' THEN 1\n"
                   "             ELSE 2 END,\n"
                   "        rank, created_at DESC\n"
                   "    LIMIT ?\n"
                   ")");

bool replacesSameProvenance(ReturnActionKind kind) {
    return kind == ReturnActionKind::OpenURL || kind == ReturnActionKind::DeepLink ||
           kind == ReturnActionKind::OpenFile;
}

struct PreparedAction {
    ReturnActionKind kind;
    QString payload;
    std::optional<QString> label;
};

} // namespace

void ContextStore::upsertReturnActions(const QString& contextID,
                                       const QList<ReturnActionSuggestion>& suggestions,
                                       const QString& provenance, TimePoint at) {
    const PrivacyRules rules = privacyRules();
    QList<PreparedAction> prepared;
    for (const ReturnActionSuggestion& suggestion : suggestions) {
        const std::optional<QString> payload =
            ReturnActionSanitizer::sanitizedPayload(suggestion.kind, suggestion.payload);
        if (!payload)
            continue;
        if ((suggestion.kind == ReturnActionKind::OpenURL ||
             suggestion.kind == ReturnActionKind::DeepLink) &&
            rules.excludesURL(*payload))
            continue;
        prepared.append(
            {suggestion.kind, *payload, ReturnActionSanitizer::sanitizedLabel(suggestion.label)});
    }
    if (prepared.isEmpty())
        return;

    write([&](Database& db) {
        Statement owner(db, QStringLiteral("SELECT s.bundle_id FROM context c JOIN source s ON "
                                           "s.id = c.source_id WHERE c.id = ?"));
        owner.bindAll(contextID);
        if (!owner.step() || rules.excludesBundleID(owner.text(0).value_or(QString())))
            return;
        const qint64 millis = toMillis(at);
        for (qsizetype i = 0; i < prepared.size(); ++i) {
            const PreparedAction& action = prepared.at(i);
            const QString kind = ReturnActionKinds::rawValue(action.kind);
            if (replacesSameProvenance(action.kind))
                db.execute(QStringLiteral("DELETE FROM return_action WHERE context_id = ? AND kind "
                                          "= ? AND provenance = ? AND payload <> ?"),
                           contextID, kind, provenance, action.payload);
            db.execute(
                QStringLiteral("INSERT INTO return_action (id, context_id, kind, payload, label, "
                               "provenance, rank, is_valid, created_at)\n"
                               "VALUES (?, ?, ?, ?, ?, ?, ?, 1, ?)\n"
                               "ON CONFLICT(context_id, kind, payload) DO UPDATE SET\n"
                               "    label = COALESCE(excluded.label, return_action.label),\n"
                               "    rank = MIN(return_action.rank, excluded.rank),\n"
                               "    is_valid = 1"),
                newID(), contextID, kind, action.payload, action.label, provenance,
                static_cast<qint64>(i), millis);
        }
        db.execute(kPruneSQL, contextID, contextID, ReturnActionSanitizer::maxPerContext);
    });
}

QList<ReturnActionRecord> ContextStore::returnActions(const QString& contextID) {
    return read([&](Database& db) {
        QList<ReturnActionRecord> records;
        // Columns in table order: id, context_id, kind, payload, label, provenance, rank,
        // is_valid, last_validated_at, created_at.
        Statement statement(db, kReadSQL);
        statement.bindAll(contextID);
        while (statement.step()) {
            const auto kind =
                ReturnActionKinds::fromRawValue(statement.text(2).value_or(QString()));
            if (!kind)
                continue;
            std::optional<TimePoint> validatedAt;
            if (const auto millis = statement.int64(8))
                validatedAt = fromMillis(*millis);
            records.append({statement.text(0).value_or(QString()),
                            statement.text(1).value_or(QString()), *kind,
                            statement.text(3).value_or(QString()), statement.text(4),
                            statement.text(5).value_or(QString()), statement.int64(6).value_or(0),
                            statement.int64(7).value_or(0) != 0, validatedAt,
                            fromMillis(statement.int64(9).value_or(0))});
        }
        return records;
    });
}

void ContextStore::setReturnActionValidity(const QString& id, bool isValid, TimePoint at) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE return_action SET is_valid = ?, last_validated_at = ? "
                                  "WHERE id = ?"),
                   isValid ? 1 : 0, toMillis(at), id);
    });
}
