#pragma once

#include "model/ContextRecord.h"
#include "model/ContextState.h"
#include "model/FocusEvent.h"
#include "model/GroupedLoops.h"
#include "model/ReturnActionKind.h"
#include "model/Time.h"
#include "store/Database.h"
#include "store/LoopObservation.h"
#include "store/PrivacyRules.h"
#include "store/StoreError.h"
#include "store/WalCheckpointer.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

class StoreError;

class DatabaseKeyProviding;
class QUrl;

// The single owner of Tessarine's persistent data: one encrypted database file.
// Every operation is one synchronous transaction on the one connection, serialised
// across threads; errors are thrown unchanged and leave no partial change. Writes that
// concern an excluded application, title or address are silently skipped.
class ContextStore {
public:
    // $XDG_DATA_HOME/Kestrune/kestrune.db (a local path); creates the 0700 folder.
    static QString defaultDatabaseURL();

    // Opens the database with the provider's key and brings it to the current schema.
    // Only a file proven unreadable with this key (not a database, or corrupt pages
    // confirmed by an integrity check, or a migration that fails on a readable file for a
    // reason other than a full disk, an I/O error or a lock) is moved aside (quarantined),
    // and one fresh database is tried. Anything else (busy, full disk, I/O, read-only)
    // leaves the file untouched and is thrown. Throws what finally failed.
    ContextStore(const QString& databasePath, DatabaseKeyProviding& keyProvider);
    ~ContextStore();
    ContextStore(const ContextStore&) = delete;
    ContextStore& operator=(const ContextStore&) = delete;

    QString databasePath() const { return m_databasePath; }

    // --- schema, seeding, diagnostics -------------------------------------------------
    // Inserts the shipped exclusions not yet stored (matched on scope and matcher), then
    // reloads the rule cache. A malformed file inserts nothing.
    void seedDefaultExclusions(const QString& seedFilePath);
    QSet<QString> appliedMigrations();
    // The migrations this process applied when it opened the database, in order.
    QStringList migrationsAppliedAtOpen() const { return m_migratedAtOpen; }
    // Row counts of the ten data tables, in a fixed order.
    std::vector<std::pair<QString, qint64>> tableCounts();
    // Checkpoints of the write-ahead log that ran to the end, on the checkpointer's thread.
    int completedCheckpoints() const { return m_checkpointer->completed(); }
    // The newest focus events as (application, event type), newest first.
    QList<EventSummary> recentEventSummaries(int limit);

    // --- privacy rules ------------------------------------------------------------------
    PrivacyRules privacyRules() const;
    // Reads the never-track rules again; on failure the previous rules stay.
    void reloadPrivacyRules();

    // --- loops and what happened to them -------------------------------------------------
    // Runs the body's writes as one commit: each write inside is a savepoint, so a failing
    // one is undone alone and those before it are committed; the observers hear of the
    // whole once. Reads inside see the writes before them. An exception leaving the body
    // rolls everything back and is rethrown.
    template <typename Body> void inOneCommit(Body&& body) {
        std::lock_guard lock(m_dbMutex);
        if (m_oneCommitDepth > 0) {
            body();
            return;
        }
        m_db->takeChangedTables();
        try {
            Transaction transaction(*m_db, Transaction::Kind::Write);
            ++m_oneCommitDepth;
            try {
                body();
            } catch (...) {
                --m_oneCommitDepth;
                throw;
            }
            --m_oneCommitDepth;
            if (!m_db->inTransaction()) {
                // A full disk or an I/O error ended it; what it held is gone.
                noteTransactionLost();
                return;
            }
            transaction.commit();
        } catch (const StoreError& error) {
            noteWriteFailure(error);
            throw;
        }
        afterCommit();
    }
    // A new active loop; nothing (and no id) for an excluded application or label.
    std::optional<QString> createContext(const QString& bundleID,
                                         const std::optional<QString>& label,
                                         const std::optional<QString>& titleKey, bool isSession,
                                         const std::optional<QString>& detectorKind, TimePoint at);
    // The only way a loop's state changes; dismissed and unknown loops are left alone.
    void transitionContext(const QString& id, ContextState to, const QString& reason, TimePoint at);
    // Refreshes the ageing clock of a waiting loop whose work is still running.
    void touchWorkingActivity(const QString& contextID, TimePoint at);
    void dismissContext(const QString& id, const QString& reason, TimePoint at);
    // Dismisses every open loop, pinned ones too; returns how many.
    qint64 dismissAllOpenContexts(const QString& reason, TimePoint at);
    void reopenDismissed(const QString& contextID);
    void updateContextLabel(const QString& id, const QString& label);
    // Trimmed; an absent or empty note clears it.
    void setNote(const QString& contextID, const std::optional<QString>& note);
    void setPinned(const QString& contextID, bool isPinned);
    // An absent time ends the snooze.
    void setSnooze(const QString& contextID, std::optional<TimePoint> until);
    void setInterruptedBy(const QString& contextID, const QString& bundleID,
                          const std::optional<QString>& displayName);
    // Trimmed and cut to 200 / 80 characters; an absent or blank value changes nothing.
    void setPromptLine(const QString& contextID, const std::optional<QString>& line);
    void setTopic(const QString& contextID, const std::optional<QString>& topic);
    // Only "data:image/…" URLs of at most 64 KiB.
    void setContextIcon(const QString& contextID, const std::optional<QString>& favicon);
    // Kind "url" or "file"; replaces the loop's earlier document.
    void attachDocumentRef(const QString& contextID, const QString& kind, const QString& locator,
                           const std::optional<QString>& title, TimePoint at);
    std::optional<DocumentRefRecord> documentRef(const QString& contextID);
    // Stores one focus event, attributed to the application's newest open loop.
    void record(const FocusEvent& event);
    void recordDetectorSignal(const QString& contextID, const QString& detectorKind,
                              const QString& signal, const std::optional<QString>& detail,
                              TimePoint at);
    std::optional<DetectorSignalRecord> latestDetectorSignal(const QString& contextID);
    void recordCorrection(const QString& contextID, const QString& kind,
                          std::optional<ContextState> previousState,
                          const std::optional<QString>& note, TimePoint at);

    // --- reading loops back ------------------------------------------------------------------
    // All open loops, most recently changed first.
    QList<ContextRecord> openContexts();
    // One loop, open or dismissed.
    std::optional<ContextRecord> context(const QString& id);
    // The newest open loop of an application (optionally with that exact title key).
    std::optional<ContextRecord> openContext(const QString& bundleID);
    std::optional<ContextRecord> openContext(const QString& bundleID, const QString& titleKey);
    // The most recently changed active loop of an application.
    std::optional<ContextRecord> activeContext(const QString& bundleID);
    GroupedLoops openLoopsGroupedByState(TimePoint asOf);
    // What the ageing timer needs of the open loops, without reading them all.
    AgeingClocks ageingClocks();
    std::optional<CapsuleRecord> capsule(const QString& contextID);
    // Delivers a fresh grouping on the main thread after start and after every committed
    // change to loops, applications or detector states, in commit order. Needs a running
    // QCoreApplication.
    LoopObservation observeOpenLoops(std::function<void(const GroupedLoops&)> callback);

    // --- return actions ----------------------------------------------------------------------
    // Cleans, filters, merges and stores suggestions, keeping the best three per loop.
    void upsertReturnActions(const QString& contextID,
                             const QList<ReturnActionSuggestion>& suggestions,
                             const QString& provenance, TimePoint at);
    // Best first.
    QList<ReturnActionRecord> returnActions(const QString& contextID);
    void setReturnActionValidity(const QString& id, bool isValid, TimePoint at);

    // --- exclusions, retention, audit, export, delete everything ---------------------------
    // Defaults first, then by matcher.
    QList<PrivacyRuleRecord> privacyRuleRecords();
    // Stops tracking an application and erases everything stored about it.
    void addExclusion(const QString& bundleID, TimePoint at);
    // Resumes tracking; default rules and unknown ids are left alone silently.
    void removeExclusion(const QString& ruleID, TimePoint at);
    // Never tracks pages matching the pattern, and erases stored addresses that match.
    void addURLExclusion(const QString& pattern, TimePoint at);
    RetentionSettings retentionSettings();
    void setRetentionTTL(qint64 days, TimePoint at);
    // Deletes what was created before the retention period; returns the rows deleted.
    qint64 purgeExpired(TimePoint now);
    void recordAudit(const QString& action, const std::optional<QString>& detail, TimePoint at);
    // Newest first.
    QList<AuditEntry> auditEntries(int limit);
    // Writes every table as JSON to a local file (owner-only, atomic). A URL that is not a
    // local file does nothing.
    void exportTo(const QUrl& url, TimePoint at);
    // Erases all loops and what belongs to them; exclusions, retention and audit survive.
    void deleteEverything(TimePoint at);

    // How long a statement waits for another connection's lock before failing as busy.
    static constexpr int kBusyTimeoutMs = 2000;
    // Moves the database and its side files aside under one stamp; returns the new path of
    // the database file, or nothing when there was no file. Throws StoreFileError.
    static std::optional<QString> quarantine(const QString& path);

private:
    // The connection is handed out through `db` as soon as it exists, so that a failed
    // attempt can be moved aside before it is closed (closing may tidy up side files).
    enum class OpenStage { Opening, Reading, Migrating };
    static void openAndMigrate(const QString& path, const QByteArray& key,
                               std::unique_ptr<Database>& db, QStringList& migrated,
                               OpenStage& stage);
    // True when the failure proves the file unreadable with this key.
    static bool provesUnreadable(const StoreError& error, OpenStage stage, Database* db);

    PrivacyRules loadPrivacyRules();

    template <typename Body> auto read(Body&& body) {
        std::lock_guard lock(m_dbMutex);
        if (m_oneCommitDepth > 0) // inside inOneCommit: its transaction, its own writes seen
            return body(*m_db);
        Transaction transaction(*m_db, Transaction::Kind::Read);
        if constexpr (std::is_void_v<std::invoke_result_t<Body, Database&>>) {
            body(*m_db);
            transaction.commit();
        } else {
            auto result = body(*m_db);
            transaction.commit();
            return result;
        }
    }

    template <typename Body> auto write(Body&& body) {
        std::lock_guard lock(m_dbMutex);
        if (m_oneCommitDepth > 0) {
            // Inside inOneCommit: a failing step is undone alone; the steps before it stay.
            try {
                Savepoint step(*m_db);
                if constexpr (std::is_void_v<std::invoke_result_t<Body, Database&>>) {
                    body(*m_db);
                    step.release();
                    return;
                } else {
                    auto result = body(*m_db);
                    step.release();
                    return result;
                }
            } catch (const StoreError& error) {
                noteWriteFailure(error);
                throw;
            }
        }
        m_db->takeChangedTables();
        try {
            Transaction transaction(*m_db, Transaction::Kind::Write);
            if constexpr (std::is_void_v<std::invoke_result_t<Body, Database&>>) {
                body(*m_db);
                transaction.commit();
                afterCommit();
            } else {
                auto result = body(*m_db);
                transaction.commit();
                afterCommit();
                return result;
            }
        } catch (const StoreError& error) {
            noteWriteFailure(error);
            throw;
        }
    }

    // Called with the connection locked, after each committed write.
    void afterCommit();
    // A write that failed, said once until a commit succeeds again (connection locked): every
    // writer (window switches, detectors, topics, the user's commands) goes through here.
    void noteWriteFailure(const StoreError& error);
    void noteTransactionLost(); // a full disk or an I/O error rolled it back by itself
    // Folds the log into the main file and empties it, so erased rows leave the disk.
    void checkpointErasedPages();
    void checkpoint(); // connection locked
    // After each commit: a log this long (in pages) is handed to the checkpointer; one
    // ten times as long is folded back at once.
    static constexpr int kCheckpointPages = 1000;
    static int onLogWritten(void* store, sqlite3* db, const char* name, int pages);
    // Fetches the open loops and posts them to the live observations (connection locked).
    void deliverToObservers(const std::vector<std::shared_ptr<LoopObservationState>>& targets);

    // Open-loop application lookup: the loop's bundle id while it exists and is open.
    static std::optional<QString> openLoopApplication(Database& db, const QString& contextID);
    static QString upsertSource(Database& db, const QString& bundleID,
                                const std::optional<QString>& displayName, TimePoint at);
    static void deleteRows(Database& db, const QString& bundleID);
    void setCappedText(const QString& contextID, const std::optional<QString>& value,
                       qsizetype limit, const QString& sql);

    QString m_databasePath;
    QStringList m_migratedAtOpen;
    std::unique_ptr<Database> m_db;
    std::unique_ptr<WalCheckpointer> m_checkpointer; // before m_db goes: declared after it
    // Recursive: the writes inside inOneCommit take it again.
    std::recursive_mutex m_dbMutex;
    int m_oneCommitDepth = 0;         // guarded by m_dbMutex
    qsizetype m_openCountHint = 0;    // open loops last read (guarded by m_dbMutex)
    bool m_checkpointPending = false; // an erase's checkpoint was blocked by a reader
    // Since the last commit that succeeded (said once each): the disk or file failed a
    // write; a change was refused (a constraint).
    bool m_diskFailing = false;
    bool m_changeRefused = false;
    PrivacyRules m_cachedRules;
    mutable std::mutex m_rulesMutex;
    std::vector<std::shared_ptr<LoopObservationState>> m_observers; // guarded by m_dbMutex
};
