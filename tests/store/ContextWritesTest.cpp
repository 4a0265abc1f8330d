#include "LogCapture.h"
#include "Wait.h"
#include "model/StateReason.h"
#include "store/StoreError.h"
#include "store/StoreFixture.h"

#include <QFileInfo>
#include <QStringList>

namespace {

class ContextWritesTest : public StoreFixture {
protected:
    FocusEvent event(FocusEvent::Kind kind, const QString& bundleID, double seconds,
                     std::optional<QString> displayName = std::nullopt,
                     std::optional<QString> title = std::nullopt) {
        return FocusEvent{kind, bundleID, std::move(displayName), std::move(title), at(seconds)};
    }
    qint64 rows(const char* table) {
        return count(QStringLiteral("SELECT COUNT(*) FROM ") + QLatin1String(table));
    }
};

} // namespace

TEST_F(ContextWritesTest, ExcludedApplicationsAndTitlesLeaveNoRowAnywhere) {
    addRule(u"app"_qs, u"com.secret.Vault"_qs);
    addRule(u"window_pattern"_qs, u"*bank*"_qs);

    EXPECT_EQ(store->createContext(u"com.secret.Vault"_qs, u"x"_qs, std::nullopt, false,
                                   std::nullopt, at(1)),
              std::nullopt);
    EXPECT_EQ(store->createContext(u"com.example.Browser"_qs, u"My Bank Statement"_qs, std::nullopt,
                                   false, std::nullopt, at(1)),
              std::nullopt);
    store->record(event(FocusEvent::Kind::FocusGained, u"com.secret.Vault"_qs, 2, u"Vault"_qs));
    store->record(event(FocusEvent::Kind::FocusGained, u"com.example.Browser"_qs, 3, u"Browser"_qs,
                        u"Online BANKING"_qs));
    EXPECT_EQ(rows("source"), 0);
    EXPECT_EQ(rows("context"), 0);
    EXPECT_EQ(rows("event"), 0);

    const QString id = loop(u"com.example.Browser"_qs);
    store->updateContextLabel(id, u"bank login"_qs);
    store->setInterruptedBy(id, u"com.secret.Vault"_qs, u"Vault"_qs);
    store->attachDocumentRef(id, u"url"_qs, u"https://example.com/"_qs, u"bank"_qs, at(4));
    const auto record = store->context(id);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->label, std::nullopt);
    EXPECT_EQ(record->interruptedByBundle, std::nullopt);
    EXPECT_EQ(rows("document_ref"), 0);

    // A loop whose application became excluded takes no more prompt lines, topics or icons.
    addRule(u"app"_qs, u"com.example.Browser"_qs);
    store->setTopic(id, u"topic"_qs);
    store->setPromptLine(id, u"prompt"_qs);
    store->setContextIcon(id, u"data:image/png;base64,AAAA"_qs);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM context WHERE topic IS NOT NULL OR prompt_line IS NOT "
                    "NULL OR favicon IS NOT NULL"_qs),
              0);
}

TEST_F(ContextWritesTest, SourceRowsKeepFirstSeenAndTheLastGivenDisplayName) {
    store->record(event(FocusEvent::Kind::FocusGained, u"org.example.Mail"_qs, 10, u"Mail"_qs));
    store->record(event(FocusEvent::Kind::FocusLost, u"org.example.Mail"_qs, 20));
    auto db = raw();
    Statement first(*db, u"SELECT display_name, first_seen_at, last_seen_at, detector_kind, "
                         "is_excluded, length(id) FROM source"_qs);
    ASSERT_TRUE(first.step());
    EXPECT_EQ(first.text(0), u"Mail"_qs) << "an event without a name keeps the stored one";
    EXPECT_EQ(first.int64(1), ms(10));
    EXPECT_EQ(first.int64(2), ms(20));
    EXPECT_EQ(first.text(3), std::nullopt);
    EXPECT_EQ(first.int64(4), 0);
    EXPECT_EQ(first.int64(5), 36);
    EXPECT_FALSE(first.step());

    store->record(event(FocusEvent::Kind::FocusGained, u"org.example.Mail"_qs, 30, u"Mail 2"_qs));
    store->createContext(u"org.example.Mail"_qs, std::nullopt, std::nullopt, false, std::nullopt,
                         at(40));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM source WHERE display_name = 'Mail 2' AND first_seen_at "
                    "= "_qs +
                    QString::number(ms(10)) + u" AND last_seen_at = "_qs + QString::number(ms(40))),
              1);
    EXPECT_EQ(store->openContext(u"org.example.Mail"_qs)->displayName, u"Mail 2"_qs);
}

TEST_F(ContextWritesTest, EventsGoToTheNewestOpenLoopOfTheirApplication) {
    const QString older = loop(u"com.example.Editor"_qs, 1, u"a"_qs);
    const QString newer = loop(u"com.example.Editor"_qs, 2, u"b"_qs);
    // The older loop changed last, but attribution follows creation.
    store->transitionContext(older, ContextState::Backgrounded, StateReason::focusLost, at(5));
    store->record(event(FocusEvent::Kind::WindowTitleChanged, u"com.example.Editor"_qs, 6,
                        std::nullopt, u"A title"_qs));
    store->dismissContext(newer, StateReason::userDismissed, at(7));
    store->record(event(FocusEvent::Kind::FocusLost, u"com.example.Editor"_qs, 8));
    store->dismissContext(older, StateReason::userDismissed, at(9));
    store->record(event(FocusEvent::Kind::AppTerminated, u"com.example.Editor"_qs, 10));

    auto db = raw();
    Statement events(*db, u"SELECT context_id, type, window_title, occurred_at, metadata_json "
                          "FROM event ORDER BY occurred_at"_qs);
    const std::optional<QString> expected[] = {newer, older, std::nullopt};
    const char* types[] = {"window_title_changed", "focus_lost", "app_terminated"};
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(events.step());
        EXPECT_EQ(events.text(0), expected[i]) << i;
        EXPECT_EQ(events.text(1), QLatin1String(types[i]));
        EXPECT_EQ(events.isNull(4), true);
    }
    EXPECT_EQ(store->recentEventSummaries(2).size(), 2);
    EXPECT_EQ(store->recentEventSummaries(10).first().type, u"app_terminated"_qs);
}

TEST_F(ContextWritesTest, TransitionsKeepTheTimesEachStateWasLastEntered) {
    const QString id = loop(u"com.example.Chat"_qs, 0);
    auto created = store->context(id);
    ASSERT_TRUE(created);
    EXPECT_EQ(created->state, ContextState::Active);
    EXPECT_EQ(created->createdAt, created->stateChangedAt);
    EXPECT_EQ(created->backgroundedAt, std::nullopt);

    store->transitionContext(id, ContextState::Backgrounded, StateReason::focusLost, at(10));
    store->transitionContext(id, ContextState::Waiting, StateReason::detectorPending, at(20));
    store->transitionContext(id, ContextState::Ready, StateReason::detectorReady, at(30));
    auto ready = store->context(id);
    EXPECT_EQ(ready->state, ContextState::Ready);
    EXPECT_EQ(ready->backgroundedAt, at(10));
    EXPECT_EQ(ready->readyAt, at(30));
    EXPECT_EQ(ready->stateChangedAt, at(30));

    store->touchWorkingActivity(id, at(35)); // only waiting loops age on activity
    EXPECT_EQ(store->context(id)->stateChangedAt, at(30));
    store->transitionContext(id, ContextState::Waiting, StateReason::resumedAfterReady, at(40));
    store->touchWorkingActivity(id, at(45));
    EXPECT_EQ(store->context(id)->stateChangedAt, at(45));
    EXPECT_EQ(store->context(id)->readyAt, at(30)) << "never cleared";

    store->dismissContext(id, StateReason::userDismissed, at(50));
    store->dismissContext(id, StateReason::clearAll, at(60));
    store->transitionContext(id, ContextState::Stale, StateReason::staleAfter(1200), at(70));
    store->updateContextLabel(id, u"late"_qs);
    store->touchWorkingActivity(id, at(80));
    const auto dismissed = store->context(id);
    EXPECT_EQ(dismissed->state, ContextState::Waiting);
    EXPECT_EQ(dismissed->dismissedAt, at(50));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM context WHERE state_reason = 'user_dismissed' AND "
                    "label IS NULL"_qs),
              1);
    EXPECT_EQ(dismissed->stateChangedAt, at(45));

    // Reopening clears only the dismissal.
    store->reopenDismissed(id);
    const auto reopened = store->context(id);
    EXPECT_EQ(reopened->dismissedAt, std::nullopt);
    EXPECT_EQ(reopened->state, ContextState::Waiting);
    EXPECT_EQ(store->openContexts().size(), 1);
}

TEST_F(ContextWritesTest, DismissAllCountsOpenLoopsIncludingPinnedOnes) {
    EXPECT_EQ(store->dismissAllOpenContexts(StateReason::clearAll, at(1)), 0);
    const QString a = loop(u"a.app"_qs);
    const QString b = loop(u"b.app"_qs);
    loop(u"c.app"_qs);
    store->setPinned(b, true);
    store->dismissContext(a, StateReason::userDismissed, at(2));
    EXPECT_EQ(store->dismissAllOpenContexts(StateReason::clearAll, at(3)), 2);
    EXPECT_TRUE(store->openContexts().isEmpty());
    EXPECT_EQ(store->context(a)->dismissedAt, at(2));
}

TEST_F(ContextWritesTest, NotesPinsAndSnoozesAlsoApplyToDismissedLoops) {
    const QString id = loop(u"a.app"_qs);
    store->dismissContext(id, StateReason::userDismissed, at(1));
    store->setNote(id, u"  remember the flag \n"_qs);
    store->setPinned(id, true);
    store->setSnooze(id, at(100));
    auto record = store->context(id);
    EXPECT_EQ(record->note, u"remember the flag"_qs);
    EXPECT_TRUE(record->isPinned);
    EXPECT_EQ(record->snoozeUntil, at(100));
    store->setNote(id, u"   "_qs);
    store->setSnooze(id, std::nullopt);
    store->setPinned(id, false);
    record = store->context(id);
    EXPECT_EQ(record->note, std::nullopt);
    EXPECT_EQ(record->snoozeUntil, std::nullopt);
    EXPECT_FALSE(record->isPinned);
}

TEST_F(ContextWritesTest, TopicsAndPromptLinesAreTrimmedCutAndNeverCleared) {
    const QString id = loop(u"a.app"_qs);
    store->setTopic(id, u"  Renaming the parser  "_qs);
    store->setTopic(id, u"   "_qs);
    store->setTopic(id, std::nullopt);
    EXPECT_EQ(store->context(id)->topic, u"Renaming the parser"_qs);

    const QString family = u"👨‍👩‍👧"_qs;
    store->setTopic(id, family.repeated(100));
    EXPECT_EQ(store->context(id)->topic, family.repeated(80));
    store->setPromptLine(id, u"e\u0301"_qs.repeated(250));
    EXPECT_EQ(store->context(id)->promptLine, u"e\u0301"_qs.repeated(200));

    store->dismissContext(id, StateReason::userDismissed, at(1));
    store->setTopic(id, u"after dismissal"_qs);
    EXPECT_EQ(store->context(id)->topic, family.repeated(80));
}

TEST_F(ContextWritesTest, FaviconsMustBeSmallDataImages) {
    const QString id = loop(u"a.app"_qs);
    store->setContextIcon(id, u"https://example.com/favicon.ico"_qs);
    EXPECT_EQ(store->context(id)->favicon, std::nullopt);
    const QString prefix = u"data:image/png;base64,"_qs;
    store->setContextIcon(id, prefix + QString(70000 - prefix.size(), u'A'));
    EXPECT_EQ(store->context(id)->favicon, std::nullopt);
    // The limit is 65536 bytes of UTF-8, so one two-byte character can tip it over.
    const QString exact = prefix + QString(65536 - prefix.size(), u'A');
    store->setContextIcon(id, exact);
    EXPECT_EQ(store->context(id)->favicon, exact);
    store->setContextIcon(id, exact.chopped(2) + u"é"_qs);
    EXPECT_EQ(store->context(id)->favicon, exact.chopped(2) + u"é"_qs);
    store->setContextIcon(id, exact.chopped(1) + u"é"_qs);
    EXPECT_EQ(store->context(id)->favicon, exact.chopped(2) + u"é"_qs) << "65537 bytes";
}

TEST_F(ContextWritesTest, DocumentReferencesAreCleanedAndReplaced) {
    const QString id = loop(u"a.app"_qs);
    store->attachDocumentRef(id, u"url"_qs, u"https://docs.example/a?token=abc#x"_qs,
                             u"Spec draft"_qs, at(1));
    auto document = store->documentRef(id);
    ASSERT_TRUE(document);
    EXPECT_EQ(document->kind, u"url"_qs);
    EXPECT_EQ(document->locator, u"https://docs.example/a"_qs);
    EXPECT_EQ(document->title, u"Spec draft"_qs);

    store->attachDocumentRef(id, u"file"_qs, u"file:///home/me/plan.md"_qs, std::nullopt, at(2));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM document_ref"_qs), 1);
    document = store->documentRef(id);
    EXPECT_EQ(document->locator, u"/home/me/plan.md"_qs);
    EXPECT_EQ(document->title, std::nullopt);

    store->attachDocumentRef(id, u"folder"_qs, u"/home/me"_qs, std::nullopt, at(3));
    store->attachDocumentRef(id, u"url"_qs, u"ftp://example.com/x"_qs, std::nullopt, at(3));
    store->attachDocumentRef(id, u"file"_qs, u"relative/path"_qs, std::nullopt, at(3));
    addRule(u"url_pattern"_qs, u"https://private.example/*"_qs);
    store->attachDocumentRef(id, u"url"_qs, u"https://private.example/page?x=1"_qs, std::nullopt,
                             at(3));
    EXPECT_EQ(store->documentRef(id)->locator, u"/home/me/plan.md"_qs);

    store->dismissContext(id, StateReason::userDismissed, at(4));
    store->attachDocumentRef(id, u"url"_qs, u"https://docs.example/b"_qs, std::nullopt, at(5));
    EXPECT_EQ(store->documentRef(id)->locator, u"/home/me/plan.md"_qs);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM document_ref"_qs), 1);
}

TEST_F(ContextWritesTest, DetectorSignalsAreEvidenceAndTheNewestWins) {
    const QString id = loop(u"a.app"_qs);
    EXPECT_FALSE(store->context(id)->hasWorkEvidence);
    EXPECT_EQ(store->latestDetectorSignal(id), std::nullopt);

    EXPECT_NO_THROW(store->recordDetectorSignal(u"NO-SUCH-LOOP"_qs, u"browser"_qs, u"pending"_qs,
                                                std::nullopt, at(1)));
    EXPECT_EQ(rows("detector_state"), 0);

    store->recordDetectorSignal(id, u"browser"_qs, u"pending"_qs, QString(300, u'd'), at(2));
    store->recordDetectorSignal(id, u"browser"_qs, u"ready"_qs, std::nullopt, at(3));
    store->dismissContext(id, StateReason::userDismissed, at(4));
    store->recordDetectorSignal(id, u"terminal"_qs, u"ready"_qs, u"exit 0"_qs, at(1.5));
    EXPECT_EQ(rows("detector_state"), 3) << "dismissed loops still collect evidence";
    EXPECT_EQ(
        count(u"SELECT length(signal_detail) FROM detector_state WHERE signal = 'pending'"_qs),
        256);
    const auto latest = store->latestDetectorSignal(id);
    ASSERT_TRUE(latest);
    EXPECT_EQ(latest->signal, u"ready"_qs);
    EXPECT_EQ(latest->detectorKind, u"browser"_qs);
    EXPECT_EQ(latest->observedAt, at(3));
    EXPECT_TRUE(store->context(id)->hasWorkEvidence);
}

TEST_F(ContextWritesTest, CorrectionsAreLoggedAndFailuresLeaveNoPartialChange) {
    const QString id = loop(u"a.app"_qs);
    store->recordCorrection(id, u"not_ready"_qs, ContextState::Ready, u"still running"_qs, at(1));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM user_correction WHERE kind = 'not_ready' AND "
                    "previous_state = 'ready' AND note = 'still running'"_qs),
              1);
    // Foreign keys are enforced on the store's connection: a correction of a loop that
    // does not exist is refused with the database error.
    LogCapture log;
    try {
        store->recordCorrection(u"missing"_qs, u"not_ready"_qs, std::nullopt, std::nullopt, at(2));
        FAIL() << "expected a foreign-key error";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.primaryCode(), 19) << error.what(); // SQLITE_CONSTRAINT
    }
    EXPECT_EQ(rows("user_correction"), 1);

    // A failing statement in the middle of an operation rolls back the earlier ones.
    raw()->execute(u"CREATE TRIGGER refuse_doc BEFORE UPDATE OF document_ref_id ON context "
                   "BEGIN SELECT RAISE(ABORT, 'refused'); END"_qs);
    EXPECT_THROW(store->attachDocumentRef(id, u"file"_qs, u"/tmp/x"_qs, std::nullopt, at(3)),
                 StoreError);
    EXPECT_EQ(rows("document_ref"), 0);
    // Refused changes are said once until a commit succeeds, without disk advice: the disk
    // is fine.
    EXPECT_EQ(log.count(u"Cannot save to the database (FOREIGN KEY constraint failed)."_qs), 1)
        << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(log.count(u"Cannot save to the database"_qs), 1);
    EXPECT_EQ(log.count(u"free some space"_qs) + log.count(u"takes changes again"_qs), 0);
}

TEST_F(ContextWritesTest, TheLogIsFoldedBackOnItsOwnThreadOnceTheWritesPause) {
    // A burst of events leaves more than a thousand pages in the log; no commit folds them.
    const auto logSize = [&] { return QFileInfo(path + u"-wal"_qs).size(); };
    for (int i = 0; logSize() < 1100 * 4096 && i < 20000; ++i)
        store->record(
            event(FocusEvent::Kind::FocusGained, u"org.example.App%1"_qs.arg(i % 7), i, u"App"_qs));
    ASSERT_GE(logSize(), 1100 * 4096);
    EXPECT_EQ(store->completedCheckpoints(), 0) << "not while the writes go on";
    ASSERT_TRUE(waitFor([&] { return store->completedCheckpoints() > 0; }));

    // The log is written again from its start: a smaller burst does not make it longer.
    const qint64 folded = logSize();
    for (int i = 0; i < 100; ++i)
        store->record(event(FocusEvent::Kind::FocusLost, u"org.example.App1"_qs, 30000 + i));
    EXPECT_LE(logSize(), folded);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event WHERE type = 'focus_lost'"_qs), 100);
}
