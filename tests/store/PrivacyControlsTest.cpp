#include "model/StateReason.h"
#include "store/AuditLog.h"
#include "store/CipherPages.h"
#include "store/Retention.h"
#include "store/StoreFixture.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

using namespace TestSupport;

namespace {

const QString vault = u"com.secret.Vault"_qs;
const QString browser = u"com.example.Browser"_qs;

class PrivacyControlsTest : public StoreFixture {
protected:
    // A loop with everything that can hang off it.
    QString richLoop(const QString& app, double created, const QString& marker) {
        const auto id =
            store->createContext(app, marker, marker.toLower(), false, std::nullopt, at(created));
        store->record(
            FocusEvent{FocusEvent::Kind::FocusGained, app, u"App"_qs, marker, at(created)});
        store->recordDetectorSignal(*id, u"browser"_qs, u"pending"_qs, marker, at(created));
        store->upsertReturnActions(
            *id, {{ReturnActionKind::OpenURL, u"https://example.com/"_qs + marker, marker}},
            u"detector:browser"_qs, at(created));
        store->attachDocumentRef(*id, u"url"_qs, u"https://docs.example/"_qs + marker, marker,
                                 at(created));
        store->recordCorrection(*id, u"false_ready"_qs, ContextState::Ready, marker, at(created));
        return *id;
    }
    qint64 rows(const char* table) {
        return count(QStringLiteral("SELECT COUNT(*) FROM ") + QLatin1String(table));
    }
    QStringList auditActions() {
        QStringList actions;
        for (const AuditEntry& entry : store->auditEntries(50))
            actions.append(entry.action);
        return actions;
    }
};

} // namespace

TEST_F(PrivacyControlsTest, ExcludingAnApplicationErasesEverythingAboutIt) {
    const QString kept = richLoop(browser, 1, u"Kept"_qs);
    for (int i = 0; i < 3; ++i)
        richLoop(vault, 2 + i, QStringLiteral("Vault%1").arg(i));
    store->setInterruptedBy(kept, vault, u"Vault"_qs);

    store->addExclusion(vault, at(10));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM source WHERE bundle_id = 'com.secret.Vault'"_qs), 0);
    EXPECT_EQ(rows("context"), 1);
    EXPECT_EQ(rows("event"), 1);
    EXPECT_EQ(rows("detector_state"), 1);
    EXPECT_EQ(rows("return_action"), 1);
    EXPECT_EQ(rows("document_ref"), 1);
    EXPECT_EQ(rows("user_correction"), 1);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event WHERE window_title LIKE 'Vault%'"_qs), 0);
    EXPECT_EQ(store->context(kept)->interruptedByBundle, std::nullopt);
    EXPECT_EQ(store->context(kept)->interruptedByName, std::nullopt);
    EXPECT_TRUE(store->privacyRules().excludesBundleID(vault));
    const auto entries = store->auditEntries(50);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(AuditLog::describe(entries[0]),
              u"Stopped tracking com.secret.Vault and deleted its data"_qs);

    // Excluding again: no second rule, the erase runs again, a second entry.
    raw()->execute(u"INSERT INTO source (id, bundle_id, first_seen_at, last_seen_at) VALUES "
                   "('S2', 'com.secret.Vault', 1, 1)"_qs);
    store->addExclusion(vault, at(11));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM privacy_rule WHERE matcher = 'com.secret.Vault'"_qs), 1);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM source WHERE bundle_id = 'com.secret.Vault'"_qs), 0);
    EXPECT_EQ(auditActions(), (QStringList{u"exclusion_added"_qs, u"exclusion_added"_qs}));
}

TEST_F(PrivacyControlsTest, DefaultRulesStayAndUserRulesCanBeRemoved) {
    store->seedDefaultExclusions(seedFilePath());
    store->addExclusion(vault, at(1));
    QString defaultID;
    QString userID;
    const auto records = store->privacyRuleRecords();
    ASSERT_GT(records.size(), 2);
    EXPECT_TRUE(records.first().isDefault) << "defaults listed first";
    EXPECT_FALSE(records.last().isDefault);
    for (const PrivacyRuleRecord& rule : records) {
        if (rule.isDefault && defaultID.isEmpty())
            defaultID = rule.id;
        if (rule.matcher == vault)
            userID = rule.id;
    }
    for (qsizetype i = 1; i < records.size(); ++i) {
        if (records[i].isDefault == records[i - 1].isDefault) {
            EXPECT_LE(records[i - 1].matcher, records[i].matcher) << "alphabetical by matcher";
        }
    }

    store->removeExclusion(defaultID, at(2));
    store->removeExclusion(u"no-such-rule"_qs, at(2));
    EXPECT_EQ(store->privacyRuleRecords().size(), records.size());
    EXPECT_EQ(auditActions(), QStringList{u"exclusion_added"_qs});

    store->removeExclusion(userID, at(3));
    EXPECT_FALSE(store->privacyRules().excludesBundleID(vault));
    EXPECT_EQ(AuditLog::describe(store->auditEntries(1).first()), u"Resumed tracking "_qs + vault);
    // Tracking resumes with the next event.
    store->record(
        FocusEvent{FocusEvent::Kind::FocusGained, vault, std::nullopt, std::nullopt, at(4)});
    EXPECT_EQ(rows("event"), 1);
}

TEST_F(PrivacyControlsTest, URLPatternsEraseMatchingAddressesWhateverTheirCase) {
    const QString id = loop(browser);
    store->upsertReturnActions(id,
                               {{ReturnActionKind::OpenURL, u"https://BANK.example/Account"_qs, {}},
                                {ReturnActionKind::CopyText, u"see https://bank.example/x"_qs, {}},
                                {ReturnActionKind::DeepLink, u"bankapp://bank.example/a"_qs, {}}},
                               u"detector:browser"_qs, at(1));
    store->attachDocumentRef(id, u"url"_qs, u"https://Bank.Example/statement"_qs, std::nullopt,
                             at(1));
    const QString other = loop(u"com.example.Other"_qs);
    store->attachDocumentRef(other, u"url"_qs, u"https://news.example/"_qs, std::nullopt, at(1));

    store->addURLExclusion(u"*://bank.example/*"_qs, at(2));
    const auto actions = store->returnActions(id);
    ASSERT_EQ(actions.size(), 1);
    EXPECT_EQ(actions[0].kind, ReturnActionKind::CopyText);
    EXPECT_EQ(store->documentRef(id), std::nullopt) << "the loop keeps a dangling reference";
    EXPECT_TRUE(store->documentRef(other).has_value());
    EXPECT_TRUE(store->privacyRules().excludesURL(u"https://bank.example/login"_qs));
    EXPECT_EQ(store->auditEntries(1).first().detail, u"url: *://bank.example/*"_qs);

    store->addURLExclusion(u"*://bank.example/*"_qs, at(3));
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM privacy_rule WHERE scope = 'url_pattern'"_qs), 1);
}

TEST_F(PrivacyControlsTest, RetentionSettingsAndTheirAuditSentence) {
    EXPECT_EQ(store->retentionSettings().ttlDays, 7);
    EXPECT_TRUE(store->retentionSettings().exemptPinned);
    store->setRetentionTTL(30, at(1));
    EXPECT_EQ(store->retentionSettings().ttlDays, 30);
    EXPECT_EQ(AuditLog::describe(store->auditEntries(1).first()),
              u"Changed data retention to 30 days"_qs);
    raw()->execute(u"DELETE FROM retention_rule"_qs);
    EXPECT_EQ(store->retentionSettings().ttlDays, 7);
}

TEST_F(PrivacyControlsTest, ThePurgeKeepsPinnedLoopsAndNeverFailsOnRowsPointingAtPurgedLoops) {
    constexpr double day = 86400;
    const double now = 40 * day;
    const QString pinnedOld = richLoop(browser, now - 30 * day, u"PinnedOld"_qs);
    store->setPinned(pinnedOld, true);
    const QString dismissedOld = richLoop(u"org.example.Mail"_qs, now - 8 * day, u"Old"_qs);
    store->dismissContext(dismissedOld, StateReason::userDismissed, at(now - 8 * day));
    // A recent event still attributed to the old loop, and its correction.
    store->record(FocusEvent{FocusEvent::Kind::FocusLost, u"org.example.Mail"_qs, std::nullopt,
                             std::nullopt, at(now - 1)});
    raw()->execute(u"UPDATE event SET context_id = ? WHERE occurred_at = ?"_qs, dismissedOld,
                   ms(now - 1));
    const QString fresh = richLoop(u"org.example.Chat"_qs, now - day, u"Fresh"_qs);
    store->recordAudit(u"retention_changed"_qs, u"7 days"_qs, at(now - 9 * day));
    store->recordAudit(u"export_performed"_qs, u"x.json"_qs, at(now - 9 * day));
    store->recordAudit(u"delete_everything"_qs, std::nullopt, at(now - 9 * day));

    const qint64 purged = store->purgeExpired(at(now));
    // detector_state 1 + return_action 1 + event 1 + context 1 + document_ref 1 + audit 1
    EXPECT_EQ(purged, 6);
    EXPECT_TRUE(store->context(pinnedOld).has_value());
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event WHERE context_id = '"_qs + pinnedOld + u"'"_qs), 1)
        << "a pinned loop keeps its events";
    EXPECT_FALSE(store->context(dismissedOld).has_value());
    EXPECT_TRUE(store->context(fresh).has_value());
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM event WHERE occurred_at = "_qs +
                    QString::number(ms(now - 1)) + u" AND context_id IS NULL"_qs),
              1)
        << "the recent event stays, without its attribution";
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM user_correction WHERE context_id = '"_qs + dismissedOld +
                    u"'"_qs),
              0);
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM pragma_foreign_key_check"_qs), 0);
    EXPECT_EQ(auditActions().count(u"retention_changed"_qs), 0);
    EXPECT_EQ(auditActions().count(u"export_performed"_qs), 1);
    EXPECT_EQ(auditActions().count(u"delete_everything"_qs), 1);

    // Without the pinned exemption, pinned loops age like any other.
    raw()->execute(u"UPDATE retention_rule SET exempt_pinned = 0"_qs);
    EXPECT_GT(store->purgeExpired(at(now)), 0);
    EXPECT_FALSE(store->context(pinnedOld).has_value());
    EXPECT_EQ(count(u"SELECT COUNT(*) FROM pragma_foreign_key_check"_qs), 0);
    EXPECT_EQ(store->purgeExpired(at(now)), 0);
}

TEST_F(PrivacyControlsTest, RetentionRunsAtOnceAndAgainEachInterval) {
    const QString old = loop(browser, 0);
    TimePoint now = at(30 * 86400.0);
    auto retention = std::make_unique<Retention>(*store, 0.05, [&] { return now; });
    retention->start();
    EXPECT_FALSE(store->context(old).has_value()) << "the first purge runs at start";
    EXPECT_TRUE(retention->isScheduled());

    const QString later = loop(browser, 1);
    QElapsedTimer waited;
    waited.start();
    while (store->context(later) && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(store->context(later).has_value()) << "purged again after the interval";

    retention.reset(); // released: the chain stops
    const QString survivor = loop(browser, 2);
    runEventLoopFor(300); // six intervals
    EXPECT_TRUE(store->context(survivor).has_value());
}

TEST_F(PrivacyControlsTest, ExportWritesEveryTableAsStringsToAPrivateFile) {
    const QString id = richLoop(browser, 1, u"Exported"_qs);
    store->setNote(id, u"line one\n\"quoted\""_qs);
    const QString path = dir.filePath(u"out/tessarine-export.json"_qs);
    QDir().mkpath(dir.filePath(u"out"_qs));
    store->exportTo(QUrl::fromLocalFile(path), at(5));

    EXPECT_EQ(modeOf(path), 0600);
    const QByteArray bytes = readBytes(path);
    EXPECT_TRUE(bytes.contains("\n    \"audit_log\"")) << "pretty printed";
    const QJsonObject all = QJsonDocument::fromJson(bytes).object();
    EXPECT_EQ(all.keys(), (QStringList{u"audit_log"_qs, u"context"_qs, u"detector_state"_qs,
                                       u"document_ref"_qs, u"event"_qs, u"privacy_rule"_qs,
                                       u"recall_query"_qs, u"retention_rule"_qs,
                                       u"return_action"_qs, u"source"_qs, u"user_correction"_qs}));
    const QJsonObject context = all[u"context"_qs].toArray().first().toObject();
    EXPECT_EQ(context[u"id"_qs].toString(), id);
    EXPECT_EQ(context[u"created_at"_qs].toString(), QString::number(ms(1)));
    EXPECT_EQ(context[u"note"_qs].toString(), u"line one\n\"quoted\""_qs);
    EXPECT_EQ(context[u"is_pinned"_qs].toString(), u"0"_qs);
    EXPECT_FALSE(context.contains(u"snooze_until"_qs)) << "NULL columns are left out";
    for (const QString& table : all.keys()) {
        for (const QJsonValue& row : all[table].toArray()) {
            for (const QJsonValue& value : row.toObject())
                EXPECT_TRUE(value.isString()) << table.toStdString();
        }
    }
    const auto entry = store->auditEntries(1).first();
    EXPECT_EQ(AuditLog::describe(entry), u"Exported data to tessarine-export.json"_qs);
    EXPECT_FALSE(bytes.contains(entry.id.toUtf8())) << "written before its own audit entry";

    // A failed export leaves no file and no entry; a non-file URL does nothing.
    const QString blocked = dir.filePath(u"missing-folder/x.json"_qs);
    EXPECT_ANY_THROW(store->exportTo(QUrl::fromLocalFile(blocked), at(6)));
    EXPECT_FALSE(QFileInfo::exists(blocked));
    store->exportTo(QUrl(u"https://example.com/x.json"_qs), at(7));
    EXPECT_EQ(store->auditEntries(50).size(), 1);
}

TEST_F(PrivacyControlsTest, DeleteEverythingLeavesNoDeletedTextInTheFileOrItsLog) {
    store->seedDefaultExclusions(seedFilePath());
    const QByteArray secret = "Payroll-forecast-Q3-8d1c";
    for (int i = 0; i < 50; ++i) {
        const auto id = store->createContext(u"com.example.Sheets"_qs,
                                             QString::fromLatin1(secret) + QString::number(i),
                                             std::nullopt, false, std::nullopt, at(i));
        store->recordDetectorSignal(*id, u"browser"_qs, u"pending"_qs, QString::fromLatin1(secret),
                                    at(i));
    }
    const auto decrypted = [&] {
        const QByteArray file = readBytes(path);
        return CipherPages::decryptDatabase(file, testKey()) +
               CipherPages::decryptLog(readBytes(path + u"-wal"_qs), file, testKey());
    };
    ASSERT_TRUE(decrypted().contains(secret)) << "the pages can be read before";
    const auto before = store->tableCounts();

    int deliveries = 0;
    GroupedLoops last;
    LoopObservation observation = store->observeOpenLoops([&](const GroupedLoops& loops) {
        ++deliveries;
        last = loops;
    });
    store->deleteEverything(at(100));

    const QByteArray left = decrypted();
    EXPECT_FALSE(left.contains(secret));
    EXPECT_FALSE(left.contains("com.example.Sheets"));
    EXPECT_TRUE(left.contains("never_track")) << "exclusions survive";
    const auto after = store->tableCounts();
    for (std::size_t i = 0; i < after.size(); ++i) {
        const QString& table = after[i].first;
        if (table == u"privacy_rule" || table == u"retention_rule")
            EXPECT_EQ(after[i].second, before[i].second) << table.toStdString();
        else if (table == u"audit_log")
            EXPECT_EQ(after[i].second, before[i].second + 1);
        else
            EXPECT_EQ(after[i].second, 0) << table.toStdString();
    }
    EXPECT_EQ(AuditLog::describe(store->auditEntries(1).first()), u"Deleted everything"_qs);
    EXPECT_TRUE(waitFor([&] { return deliveries >= 2; })) << "the emptied loop list is delivered";
    EXPECT_EQ(deliveries, 2);
    EXPECT_EQ(last.alsoOpen.size() + last.openCount(), 0);
}

TEST_F(PrivacyControlsTest, ExclusionsAndThePurgeLeaveNoErasedTextInTheFileOrItsLog) {
    EXPECT_EQ(count(u"PRAGMA secure_delete"_qs), 1);
    const auto onDisk = [&] {
        const QByteArray file = readBytes(path);
        return CipherPages::decryptDatabase(file, testKey()) +
               CipherPages::decryptLog(readBytes(path + u"-wal"_qs), file, testKey());
    };
    richLoop(browser, 1, u"Keep-this-loop"_qs);
    for (int i = 0; i < 20; ++i)
        richLoop(vault, 2, QStringLiteral("Vault-secret-%1").arg(i));
    richLoop(browser, 3, u"Tracking-token-page"_qs);
    richLoop(u"org.example.Mail"_qs, 4, u"Expired-mail-draft"_qs);
    ASSERT_TRUE(onDisk().contains("Vault-secret-7")) << "the pages can be read before";

    store->addExclusion(vault, at(10));
    QByteArray left = onDisk();
    EXPECT_FALSE(left.contains("Vault-secret-")) << "an excluded application's rows";

    store->addURLExclusion(u"https://example.com/tracking*"_qs, at(11));
    left = onDisk();
    EXPECT_FALSE(left.contains("https://example.com/Tracking-token-page"));
    EXPECT_TRUE(left.contains("Keep-this-loop")) << "what is kept stays readable";

    // Everything but the newest loop expires after the default seven days.
    raw()->execute(u"UPDATE context SET created_at = ? WHERE label = 'Keep-this-loop'"_qs,
                   ms(20 * 86400.0));
    EXPECT_GT(store->purgeExpired(at(20 * 86400.0)), 0);
    left = onDisk();
    EXPECT_FALSE(left.contains("Expired-mail-draft"));
    EXPECT_TRUE(left.contains("Keep-this-loop"));
}

TEST_F(PrivacyControlsTest, ACheckpointBlockedByAReaderIsRetriedAfterTheNextWrite) {
    for (int i = 0; i < 5; ++i)
        richLoop(vault, 1, QStringLiteral("Vault-secret-%1").arg(i));
    const auto logHolds = [&](const QByteArray& text) {
        return CipherPages::decryptLog(readBytes(path + u"-wal"_qs), readBytes(path), testKey())
            .contains(text);
    };
    {
        // Another connection reading keeps the log from being emptied.
        auto reader = openRaw(path, testKey());
        reader->execute(u"BEGIN"_qs);
        EXPECT_GE(reader->scalarInt(u"SELECT COUNT(*) FROM context"_qs).value_or(0), 5);
        store->addExclusion(vault, at(10));
        EXPECT_TRUE(logHolds("Vault-secret-")) << "blocked for now";
        reader->execute(u"COMMIT"_qs);
    }
    store->recordAudit(u"capture_paused"_qs, std::nullopt, at(11));
    EXPECT_FALSE(logHolds("Vault-secret-"));
    EXPECT_FALSE(readBytes(path).isEmpty());
}

TEST(AuditLogTest, EveryActionHasItsSentence) {
    const auto sentence = [](const char* action, std::optional<QString> detail) {
        return AuditLog::describe({u"id"_qs, QString::fromLatin1(action), std::move(detail), {}});
    };
    EXPECT_EQ(sentence("exclusion_added", u"org.app"_qs),
              u"Stopped tracking org.app and deleted its data"_qs);
    EXPECT_EQ(sentence("exclusion_added", std::nullopt),
              u"Stopped tracking an app and deleted its data"_qs);
    EXPECT_EQ(sentence("exclusion_removed", std::nullopt), u"Resumed tracking an app"_qs);
    EXPECT_EQ(sentence("retention_changed", std::nullopt),
              u"Changed data retention to a new value"_qs);
    EXPECT_EQ(sentence("accessibility_granted", u"ignored"_qs), u"Accessibility access granted"_qs);
    EXPECT_EQ(sentence("accessibility_revoked", std::nullopt), u"Accessibility access revoked"_qs);
    EXPECT_EQ(sentence("capture_paused", std::nullopt), u"Paused Tessarine"_qs);
    EXPECT_EQ(sentence("capture_resumed", std::nullopt), u"Resumed Tessarine"_qs);
    EXPECT_EQ(sentence("export_performed", std::nullopt), u"Exported data to a local file"_qs);
    EXPECT_EQ(sentence("delete_everything", std::nullopt), u"Deleted everything"_qs);
    EXPECT_EQ(sentence("url_receipts_enabled", std::nullopt),
              u"Started remembering exact pages (addresses without search terms or tokens)"_qs);
    EXPECT_EQ(sentence("url_receipts_disabled", std::nullopt),
              u"Stopped remembering exact pages"_qs);
    EXPECT_EQ(sentence("smart_summaries_enabled", std::nullopt), u"smart_summaries_enabled"_qs);
    EXPECT_EQ(sentence("Exclusion_Added", u"x"_qs), u"Exclusion_Added"_qs);
    EXPECT_EQ(AuditLog::actionFromRawValue(u"capture_paused"_qs), AuditLog::Action::CapturePaused);
}
