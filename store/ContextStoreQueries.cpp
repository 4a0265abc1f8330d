// Reading loops back, grouping them, and observing them live.
#include "model/Log.h"
#include "store/ContextStore.h"
#include "store/StoreError.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <sqlcipher.h>

namespace {

const QString kLoopColumns = QStringLiteral(
    "SELECT c.id, s.bundle_id, s.display_name, c.label, c.title_key, c.note,\n"
    "       c.state, c.is_pinned,\n"
    "       c.created_at, c.state_changed_at, c.backgrounded_at, c.ready_at,\n"
    "       c.dismissed_at, c.snooze_until,\n"
    "       c.interrupted_by_bundle, c.interrupted_by_name, c.favicon, c.topic, c.prompt_line,\n"
    "       c.is_session, c.detector_kind, c.has_evidence\n"
    "FROM context c JOIN source s ON s.id = c.source_id ");

const QString kOpenContextsSQL =
    kLoopColumns +
    QStringLiteral("WHERE c.dismissed_at IS NULL ORDER BY c.state_changed_at DESC, c.rowid");

std::optional<TimePoint> optionalTime(const Statement& row, int column) {
    if (const auto millis = row.int64(column))
        return fromMillis(*millis);
    return std::nullopt;
}

bool flag(const Statement& row, int column) {
    return row.int64(column).value_or(0) != 0;
}

// Fills `record` from a row of the loop column list; false when its state is not one of
// the five.
bool readContextRecord(const Statement& row, ContextRecord& record) {
    // Compared as stored bytes: the list reads thousands of rows.
    const std::optional<ContextState> state =
        ContextStates::fromRawValue(QUtf8StringView(row.utf8(6)));
    if (!state)
        return false;
    record.id = row.text(0).value_or(QString());
    record.bundleID = row.text(1).value_or(QString());
    record.displayName = row.text(2);
    record.label = row.text(3);
    record.titleKey = row.text(4);
    record.note = row.text(5);
    record.state = *state;
    record.isPinned = flag(row, 7);
    record.createdAt = fromMillis(row.int64(8).value_or(0));
    record.stateChangedAt = fromMillis(row.int64(9).value_or(0));
    record.backgroundedAt = optionalTime(row, 10);
    record.readyAt = optionalTime(row, 11);
    record.dismissedAt = optionalTime(row, 12);
    record.snoozeUntil = optionalTime(row, 13);
    record.interruptedByBundle = row.text(14);
    record.interruptedByName = row.text(15);
    record.favicon = row.text(16);
    record.topic = row.text(17);
    record.promptLine = row.text(18);
    record.isSession = flag(row, 19);
    record.detectorKind = row.text(20);
    record.hasWorkEvidence = flag(row, 21);
    return true;
}

std::optional<ContextRecord> contextRecord(const Statement& row) {
    ContextRecord record;
    if (!readContextRecord(row, record))
        return std::nullopt;
    return record;
}

// Records are large: each is filled where it stays, in a list sized like the last one
// (`sizeHint`, updated for the next read).
QList<ContextRecord> fetchOpenContexts(Database& db, qsizetype& sizeHint) {
    QList<ContextRecord> records;
    records.reserve(sizeHint);
    Statement statement(db, kOpenContextsSQL);
    while (statement.step()) {
        if (!readContextRecord(statement, records.emplaceBack()))
            records.removeLast();
    }
    sizeHint = records.size() + 16;
    return records;
}

template <typename... Args>
std::optional<ContextRecord> fetchOne(Database& db, const QString& tail, const Args&... args) {
    Statement statement(db, kLoopColumns + tail);
    statement.bindAll(args...);
    if (!statement.step())
        return std::nullopt;
    return contextRecord(statement);
}

} // namespace

QList<ContextRecord> ContextStore::openContexts() {
    return read([this](Database& db) { return fetchOpenContexts(db, m_openCountHint); });
}

std::optional<ContextRecord> ContextStore::context(const QString& id) {
    return read([&](Database& db) { return fetchOne(db, QStringLiteral("WHERE c.id = ?"), id); });
}

std::optional<ContextRecord> ContextStore::openContext(const QString& bundleID) {
    return read([&](Database& db) {
        return fetchOne(db,
                        QStringLiteral("WHERE s.bundle_id = ? AND c.dismissed_at IS NULL\n"
                                       " ORDER BY c.created_at DESC LIMIT 1"),
                        bundleID);
    });
}

std::optional<ContextRecord> ContextStore::openContext(const QString& bundleID,
                                                       const QString& titleKey) {
    return read([&](Database& db) {
        return fetchOne(db,
                        QStringLiteral("WHERE s.bundle_id = ? AND c.title_key = ? AND "
                                       "c.dismissed_at IS NULL\n"
                                       " ORDER BY c.created_at DESC LIMIT 1"),
                        bundleID, titleKey);
    });
}

std::optional<ContextRecord> ContextStore::activeContext(const QString& bundleID) {
    return read([&](Database& db) {
        return fetchOne(db,
                        QStringLiteral("WHERE s.bundle_id = ? AND c.state = 'active' AND "
                                       "c.dismissed_at IS NULL\n"
                                       " ORDER BY c.state_changed_at DESC LIMIT 1"),
                        bundleID);
    });
}

GroupedLoops ContextStore::openLoopsGroupedByState(TimePoint asOf) {
    return GroupedLoops::group(openContexts(), asOf);
}

AgeingClocks ContextStore::ageingClocks() {
    return read([](Database& db) {
        // One seek per state in the open-loop index, however many loops are open.
        Statement statement(
            db, QStringLiteral("SELECT (SELECT MIN(state_changed_at) FROM context WHERE state = "
                               "'backgrounded' AND dismissed_at IS NULL),\n"
                               "       (SELECT MIN(state_changed_at) FROM context WHERE state = "
                               "'ready' AND dismissed_at IS NULL),\n"
                               "       (SELECT MIN(state_changed_at) FROM context WHERE state = "
                               "'waiting' AND dismissed_at IS NULL)"));
        statement.step();
        const std::optional<TimePoint> backgrounded = optionalTime(statement, 0);
        const std::optional<TimePoint> ready = optionalTime(statement, 1);
        std::optional<TimePoint> older = backgrounded ? backgrounded : ready;
        if (backgrounded && ready)
            older = std::min(*backgrounded, *ready);
        return AgeingClocks{older, optionalTime(statement, 2)};
    });
}

std::optional<DetectorSignalRecord> ContextStore::latestDetectorSignal(const QString& contextID) {
    return read([&](Database& db) -> std::optional<DetectorSignalRecord> {
        Statement statement(db, QStringLiteral("SELECT detector_kind, signal, signal_detail, "
                                               "observed_at\n"
                                               "FROM detector_state WHERE context_id = ?\n"
                                               "ORDER BY observed_at DESC LIMIT 1"));
        statement.bindAll(contextID);
        if (!statement.step())
            return std::nullopt;
        return DetectorSignalRecord{statement.text(0).value_or(QString()),
                                    statement.text(1).value_or(QString()), statement.text(2),
                                    fromMillis(statement.int64(3).value_or(0))};
    });
}

std::optional<DocumentRefRecord> ContextStore::documentRef(const QString& contextID) {
    return read([&](Database& db) -> std::optional<DocumentRefRecord> {
        Statement statement(db, QStringLiteral("SELECT d.kind, d.locator, d.title FROM "
                                               "document_ref d\n"
                                               "JOIN context c ON c.document_ref_id = d.id WHERE "
                                               "c.id = ?"));
        statement.bindAll(contextID);
        if (!statement.step())
            return std::nullopt;
        return DocumentRefRecord{statement.text(0).value_or(QString()), statement.text(1),
                                 statement.text(2)};
    });
}

std::optional<CapsuleRecord> ContextStore::capsule(const QString& contextID) {
    std::optional<ContextRecord> record = context(contextID);
    if (!record)
        return std::nullopt;
    CapsuleRecord capsule{std::move(*record), {}, {}, {}};
    capsule.latestSignal = latestDetectorSignal(contextID);
    capsule.returnActions = returnActions(contextID);
    capsule.documentRef = documentRef(contextID);
    return capsule;
}

QList<EventSummary> ContextStore::recentEventSummaries(int limit) {
    return read([&](Database& db) {
        QList<EventSummary> summaries;
        Statement statement(db, QStringLiteral("SELECT s.bundle_id AS bundle_id, e.type AS type\n"
                                               "FROM event e JOIN source s ON s.id = e.source_id\n"
                                               "ORDER BY e.occurred_at DESC LIMIT ?"));
        statement.bindAll(limit);
        while (statement.step())
            summaries.append(
                {statement.text(0).value_or(QString()), statement.text(1).value_or(QString())});
        return summaries;
    });
}

LoopObservation ContextStore::observeOpenLoops(std::function<void(const GroupedLoops&)> callback) {
    auto state = std::make_shared<LoopObservationState>();
    state->callback = std::move(callback);
    std::lock_guard lock(m_dbMutex);
    deliverToObservers({state});
    if (!state->cancelled)
        m_observers.push_back(state);
    return LoopObservation(state);
}

void ContextStore::noteWriteFailure(const StoreError& error) {
    bool diskAtFault = false;
    switch (error.primaryCode()) {
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        diskAtFault = true; // the disk or another program, not the change
        break;
    default:
        break;
    }
    // Once per kind until a commit succeeds: a streak on a full disk is one line.
    if (std::exchange(diskAtFault ? m_diskFailing : m_changeRefused, true))
        return;
    QString said = QStringLiteral("Cannot save to the database (%1).").arg(error.message());
    if (diskAtFault)
        said += QStringLiteral(" Tessarine keeps running and saves again as soon as it can; "
                               "if the disk is full, free some space.");
    qCWarning(lcStore).noquote() << said;
}

void ContextStore::noteTransactionLost() {
    noteWriteFailure(StoreError(SQLITE_IOERR, QStringLiteral("the transaction was rolled back")));
}

void ContextStore::afterCommit() {
    m_changeRefused = false;
    if (std::exchange(m_diskFailing, false))
        qCInfo(lcStore) << "The database takes changes again";
    if (m_checkpointPending)
        checkpoint();
    const QSet<QString> changed = m_db->takeChangedTables();
    // A detector's signal shows in the list only through its loop's evidence mark (context).
    if (!changed.contains(QStringLiteral("context")) && !changed.contains(QStringLiteral("source")))
        return;
    std::erase_if(m_observers, [](const auto& observer) { return observer->cancelled.load(); });
    if (!m_observers.empty())
        deliverToObservers(m_observers);
}

void ContextStore::deliverToObservers(
    const std::vector<std::shared_ptr<LoopObservationState>>& targets) {
    QList<ContextRecord> records;
    try {
        Transaction transaction(*m_db, Transaction::Kind::Read);
        records = fetchOpenContexts(*m_db, m_openCountHint);
        transaction.commit();
    } catch (const StoreError& error) {
        qCCritical(lcStore).noquote()
            << QStringLiteral("loop observation failed: %1").arg(error.message());
        for (const auto& observer : targets)
            observer->cancelled = true;
        return;
    }
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) {
        qCWarning(lcStore) << "Loop observation needs a running application; nothing delivered";
        return;
    }
    // Posted under the connection lock, so deliveries arrive in commit order. The grouping
    // uses the time of delivery.
    for (const auto& observer : targets) {
        QMetaObject::invokeMethod(
            application,
            [observer, records]() mutable {
                if (!observer->cancelled)
                    observer->callback(
                        GroupedLoops::group(std::move(records), std::chrono::system_clock::now()));
            },
            Qt::QueuedConnection);
    }
}
