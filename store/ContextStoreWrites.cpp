// Writing applications, loops, events, detector states, documents and corrections.
#include "model/Graphemes.h"
#include "model/ReturnActionSanitizer.h"
#include "store/ContextStore.h"
#include "store/StoreError.h"
#include "store/StoreIds.h"

#include <sqlcipher.h>

namespace {

constexpr qsizetype kTopicLimit = 80;
constexpr qsizetype kPromptLineLimit = 200;
constexpr qsizetype kSignalDetailLimit = 256;
constexpr qsizetype kFaviconMaxBytes = 65536;

std::optional<qint64> optionalMillis(std::optional<TimePoint> time) {
    if (!time)
        return std::nullopt;
    return toMillis(*time);
}

} // namespace

std::optional<QString> ContextStore::openLoopApplication(Database& db, const QString& contextID) {
    Statement lookup(db, QStringLiteral("SELECT s.bundle_id FROM context c JOIN source s ON s.id "
                                        "= c.source_id WHERE c.id = ? AND c.dismissed_at IS NULL"));
    lookup.bindAll(contextID);
    if (!lookup.step())
        return std::nullopt;
    return lookup.text(0);
}

QString ContextStore::upsertSource(Database& db, const QString& bundleID,
                                   const std::optional<QString>& displayName, TimePoint at) {
    const qint64 millis = toMillis(at);
    Statement find(db, QStringLiteral("SELECT id, display_name FROM source WHERE bundle_id = ?"));
    find.bindAll(bundleID);
    if (find.step() && !find.isNull(0)) {
        const QString id = *find.text(0);
        const std::optional<QString> storedName = find.text(1);
        find.reset();
        {
            // Seen again: nothing the loop lists show changes, so observers are not woken.
            Database::UnnotedChanges unnoted(db);
            db.execute(QStringLiteral("UPDATE source SET last_seen_at = ? WHERE id = ?"), millis,
                       id);
        }
        if (displayName && displayName != storedName)
            db.execute(QStringLiteral("UPDATE source SET display_name = ? WHERE id = ?"),
                       *displayName, id);
        return id;
    }
    const QString id = newID();
    db.execute(QStringLiteral("INSERT INTO source (id, bundle_id, display_name, detector_kind, "
                              "is_excluded, first_seen_at, last_seen_at)\n"
                              "VALUES (?, ?, ?, NULL, 0, ?, ?)"),
               id, bundleID, displayName, millis, millis);
    return id;
}

std::optional<QString>
ContextStore::createContext(const QString& bundleID, const std::optional<QString>& label,
                            const std::optional<QString>& titleKey, bool isSession,
                            const std::optional<QString>& detectorKind, TimePoint at) {
    const PrivacyRules rules = privacyRules();
    if (rules.excludesBundleID(bundleID) || (label && rules.excludesWindowTitle(*label)))
        return std::nullopt;
    return write([&](Database& db) {
        const QString sourceID = upsertSource(db, bundleID, std::nullopt, at);
        const QString id = newID();
        const qint64 millis = toMillis(at);
        db.execute(QStringLiteral("INSERT INTO context (id, source_id, label, title_key, state, "
                                  "state_reason, is_pinned, created_at, state_changed_at, "
                                  "is_session, detector_kind)\n"
                                  "VALUES (?, ?, ?, ?, ?, 'created_on_focus', 0, ?, ?, ?, ?)"),
                   id, sourceID, label, titleKey, ContextStates::rawValue(ContextState::Active),
                   millis, millis, isSession ? 1 : 0, detectorKind);
        return std::optional<QString>(id);
    });
}

void ContextStore::transitionContext(const QString& id, ContextState to, const QString& reason,
                                     TimePoint at) {
    const QString state = ContextStates::rawValue(to);
    const qint64 millis = toMillis(at);
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET\n"
                                  "    state = ?,\n"
                                  "    state_reason = ?,\n"
                                  "    state_changed_at = ?,\n"
                                  "    backgrounded_at = CASE WHEN ? = 'backgrounded' THEN ? ELSE "
                                  "backgrounded_at END,\n"
                                  "    ready_at = CASE WHEN ? = 'ready' THEN ? ELSE ready_at END\n"
                                  "WHERE id = ? AND dismissed_at IS NULL"),
                   state, reason, millis, state, millis, state, millis, id);
    });
}

void ContextStore::touchWorkingActivity(const QString& contextID, TimePoint at) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET state_changed_at = ? WHERE id = ? AND state "
                                  "= 'waiting' AND dismissed_at IS NULL"),
                   toMillis(at), contextID);
    });
}

void ContextStore::dismissContext(const QString& id, const QString& reason, TimePoint at) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET dismissed_at = ?, state_reason = ? WHERE id "
                                  "= ? AND dismissed_at IS NULL"),
                   toMillis(at), reason, id);
    });
}

qint64 ContextStore::dismissAllOpenContexts(const QString& reason, TimePoint at) {
    return write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET dismissed_at = ?, state_reason = ? WHERE "
                                  "dismissed_at IS NULL"),
                   toMillis(at), reason);
        return db.changes();
    });
}

void ContextStore::reopenDismissed(const QString& contextID) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET dismissed_at = NULL WHERE id = ?"),
                   contextID);
    });
}

void ContextStore::updateContextLabel(const QString& id, const QString& label) {
    if (privacyRules().excludesWindowTitle(label))
        return;
    write([&](Database& db) {
        db.execute(
            QStringLiteral("UPDATE context SET label = ? WHERE id = ? AND dismissed_at IS NULL"),
            label, id);
    });
}

void ContextStore::setNote(const QString& contextID, const std::optional<QString>& note) {
    std::optional<QString> cleaned;
    if (note && !note->trimmed().isEmpty())
        cleaned = note->trimmed();
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET note = ? WHERE id = ?"), cleaned, contextID);
    });
}

void ContextStore::setPinned(const QString& contextID, bool isPinned) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET is_pinned = ? WHERE id = ?"),
                   isPinned ? 1 : 0, contextID);
    });
}

void ContextStore::setSnooze(const QString& contextID, std::optional<TimePoint> until) {
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET snooze_until = ? WHERE id = ?"),
                   optionalMillis(until), contextID);
    });
}

void ContextStore::setInterruptedBy(const QString& contextID, const QString& bundleID,
                                    const std::optional<QString>& displayName) {
    if (privacyRules().excludesBundleID(bundleID))
        return;
    write([&](Database& db) {
        db.execute(QStringLiteral("UPDATE context SET interrupted_by_bundle = ?, "
                                  "interrupted_by_name = ? WHERE id = ? AND dismissed_at IS NULL"),
                   bundleID, displayName, contextID);
    });
}

void ContextStore::setCappedText(const QString& contextID, const std::optional<QString>& value,
                                 qsizetype limit, const QString& sql) {
    if (!value)
        return;
    const QString trimmed = value->trimmed();
    if (trimmed.isEmpty())
        return; // a blank value never clears what is stored
    const QString capped = Graphemes::prefix(trimmed, limit);
    const PrivacyRules rules = privacyRules();
    write([&](Database& db) {
        const std::optional<QString> application = openLoopApplication(db, contextID);
        if (!application || rules.excludesBundleID(*application))
            return;
        db.execute(sql, capped, contextID);
    });
}

void ContextStore::setPromptLine(const QString& contextID, const std::optional<QString>& line) {
    setCappedText(contextID, line, kPromptLineLimit,
                  QStringLiteral("UPDATE context SET prompt_line = ? WHERE id = ?"));
}

void ContextStore::setTopic(const QString& contextID, const std::optional<QString>& topic) {
    setCappedText(contextID, topic, kTopicLimit,
                  QStringLiteral("UPDATE context SET topic = ? WHERE id = ?"));
}

void ContextStore::setContextIcon(const QString& contextID, const std::optional<QString>& favicon) {
    if (!favicon || !favicon->startsWith(u"data:image/") ||
        favicon->toUtf8().size() > kFaviconMaxBytes)
        return;
    const PrivacyRules rules = privacyRules();
    write([&](Database& db) {
        const std::optional<QString> application = openLoopApplication(db, contextID);
        if (!application || rules.excludesBundleID(*application))
            return;
        db.execute(QStringLiteral("UPDATE context SET favicon = ? WHERE id = ?"), *favicon,
                   contextID);
    });
}

void ContextStore::attachDocumentRef(const QString& contextID, const QString& kind,
                                     const QString& locator, const std::optional<QString>& title,
                                     TimePoint at) {
    const PrivacyRules rules = privacyRules();
    std::optional<QString> cleaned;
    if (kind == u"url")
        cleaned = ReturnActionSanitizer::redactedURLString(locator, true);
    else if (kind == u"file")
        cleaned = ReturnActionSanitizer::sanitizedPayload(ReturnActionKind::OpenFile, locator);
    else
        return;
    if (!cleaned || (kind == u"url" && rules.excludesURL(*cleaned)) ||
        (title && rules.excludesWindowTitle(*title)))
        return;
    write([&](Database& db) {
        const std::optional<QString> application = openLoopApplication(db, contextID);
        if (!application || rules.excludesBundleID(*application))
            return;
        db.execute(QStringLiteral("DELETE FROM document_ref WHERE id = (SELECT document_ref_id "
                                  "FROM context WHERE id = ?)"),
                   contextID);
        const QString documentID = newID();
        db.execute(QStringLiteral("INSERT INTO document_ref (id, kind, locator, title, "
                                  "created_at) VALUES (?, ?, ?, ?, ?)"),
                   documentID, kind, *cleaned, title, toMillis(at));
        db.execute(QStringLiteral("UPDATE context SET document_ref_id = ? WHERE id = ?"),
                   documentID, contextID);
    });
}

void ContextStore::record(const FocusEvent& event) {
    const PrivacyRules rules = privacyRules();
    if (rules.excludesBundleID(event.bundleID) ||
        (event.windowTitle && rules.excludesWindowTitle(*event.windowTitle)))
        return;
    write([&](Database& db) {
        const QString sourceID =
            upsertSource(db, event.bundleID, event.displayName, event.occurredAt);
        Statement newest(db, QStringLiteral("SELECT id FROM context\n"
                                            "WHERE source_id = ? AND dismissed_at IS NULL\n"
                                            "ORDER BY created_at DESC LIMIT 1"));
        newest.bindAll(sourceID);
        const std::optional<QString> contextID =
            newest.step() ? newest.text(0) : std::optional<QString>();
        db.execute(QStringLiteral("INSERT INTO event (id, source_id, context_id, type, "
                                  "window_title, occurred_at, metadata_json)\n"
                                  "VALUES (?, ?, ?, ?, ?, ?, NULL)"),
                   newID(), sourceID, contextID, FocusEvent::rawValue(event.kind),
                   event.windowTitle, toMillis(event.occurredAt));
    });
}

void ContextStore::recordDetectorSignal(const QString& contextID, const QString& detectorKind,
                                        const QString& signal, const std::optional<QString>& detail,
                                        TimePoint at) {
    std::optional<QString> cappedDetail;
    if (detail)
        cappedDetail = Graphemes::prefix(*detail, kSignalDetailLimit);
    write([&](Database& db) {
        const auto exists = db.scalarInt(
            QStringLiteral("SELECT EXISTS(SELECT 1 FROM context WHERE id = ?)"), contextID);
        if (exists.value_or(0) == 0)
            return;
        db.execute(QStringLiteral("INSERT INTO detector_state (id, context_id, detector_kind, "
                                  "signal, signal_detail, observed_at)\n"
                                  "VALUES (?, ?, ?, ?, ?, ?)"),
                   newID(), contextID, detectorKind, signal, cappedDetail, toMillis(at));
    });
}

void ContextStore::recordCorrection(const QString& contextID, const QString& kind,
                                    std::optional<ContextState> previousState,
                                    const std::optional<QString>& note, TimePoint at) {
    std::optional<QString> previous;
    if (previousState)
        previous = ContextStates::rawValue(*previousState);
    write([&](Database& db) {
        db.execute(QStringLiteral("INSERT INTO user_correction (id, context_id, kind, "
                                  "previous_state, corrected_at, note)\n"
                                  "VALUES (?, ?, ?, ?, ?, ?)"),
                   newID(), contextID, kind, previous, toMillis(at), note);
    });
}
