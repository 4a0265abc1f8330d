#include "LogCapture.h"
#include "app/ModelHarness.h"
#include "app/UserCommands.h"
#include "model/SnoozeDuration.h"
#include "model/StateReason.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <algorithm>

namespace {

class AppModelTest : public ::testing::Test, public ModelHarness {
protected:
    int downloadsDetectorsMade = 0;
    AppModelTest() {
        makeDownloadsDetector = [this]() -> std::unique_ptr<Detector> {
            ++downloadsDetectorsMade;
            return std::make_unique<DownloadsProbe>();
        };
    }
};

} // namespace

TEST_F(AppModelTest, WithoutAStoreTheTrackerStillRunsAndNothingBreaks) {
    storeFails = true;
    auto model = makeModel();
    EXPECT_EQ(model->store(), nullptr);
    EXPECT_EQ(model->stateMachine(), nullptr);
    EXPECT_TRUE(model->focusTracker().isStarted());
    launch(10, "com.example.Chat", "Claude");
    workspace.activate(10);
    model->togglePause();
    model->togglePause();
    EXPECT_EQ(loginItem.registrations, 1);
}

TEST_F(AppModelTest, SettingsShapeTheStateMachineAndFocusCreatesLoops) {
    settings.setInteger(u"settings.engagementSeconds"_qs, 0);
    settings.setString(u"settings.staleAfterMinutes"_qs, u"twenty"_qs);
    auto model = makeModel();
    int changes = 0;
    model->observeChanges([&] { ++changes; });
    EXPECT_EQ(model->stateMachine()->configuration().staleAfter, 1200) << "not an integer: default";
    EXPECT_EQ(model->stateMachine()->configuration().engagementThreshold, 0);
    EXPECT_GT(model->store()->privacyRules().excludedBundleIDs.size(), 0) << "defaults seeded";

    launch(10, "com.example.Chat", "Claude");
    launch(20, "com.example.Mail", "Inbox");
    workspace.activate(10);
    workspace.activate(20);
    const auto chat = model->store()->openContext(u"com.example.Chat"_qs);
    ASSERT_TRUE(chat);
    EXPECT_EQ(chat->state, ContextState::Backgrounded);
    EXPECT_EQ(chat->label, u"Claude"_qs);
    EXPECT_EQ(chat->interruptedByBundle, u"com.example.Mail"_qs);

    // The live list follows on the event loop.
    QElapsedTimer waited;
    waited.start();
    while (model->loops().alsoOpen.isEmpty() && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_EQ(model->loops().alsoOpen.size(), 1);
    EXPECT_GT(changes, 0);
}

TEST_F(AppModelTest, AWelcomeBackNeedsFiveMinutesAway) {
    settings.setString(u"settings.sensoryProfile"_qs, u"nudge"_qs);
    settings.setString(u"settings.primarySurface"_qs, u"menubar"_qs);
    auto model = makeModel();
    int surfaced = 0;
    model->dropdownNotifier().onSurface = [&] { ++surfaced; };
    const auto id =
        model->store()->createContext(u"com.example.Chat"_qs, u"Claude"_qs, {}, false, {}, clock);
    model->store()->transitionContext(*id, ContextState::Ready, u"detector_ready"_qs, clock);

    Q_EMIT sessionMonitor.away();
    clock += std::chrono::seconds(299);
    Q_EMIT sessionMonitor.returned();
    EXPECT_EQ(surfaced, 0);

    Q_EMIT sessionMonitor.away();
    Q_EMIT sessionMonitor.away(); // the first moment away counts
    clock += std::chrono::seconds(300);
    Q_EMIT sessionMonitor.returned();
    EXPECT_EQ(surfaced, 1);
    EXPECT_EQ(model->loops().ready.size(), 1) << "refreshed before the summary";
}

TEST_F(AppModelTest, PauseStopsCaptureAndResumeReconcilesWithAnAuditTrail) {
    settings.setInteger(u"settings.engagementSeconds"_qs, 0);
    auto model = makeModel();
    launch(10, "com.example.Chat", "Claude");
    launch(20, "com.example.Mail", "Inbox");
    workspace.activate(10);
    const QString chat = model->store()->openContext(u"com.example.Chat"_qs)->id;

    model->togglePause();
    EXPECT_TRUE(model->isPaused());
    EXPECT_FALSE(model->focusTracker().isStarted());
    workspace.activate(20); // not seen while paused
    EXPECT_FALSE(model->store()->openContext(u"com.example.Mail"_qs).has_value());

    model->togglePause();
    const auto reconciled = model->store()->context(chat);
    EXPECT_EQ(reconciled->state, ContextState::Backgrounded);
    auto db = TestSupport::openRaw(dir.filePath(u"kestrune.db"_qs), TestSupport::testKey());
    EXPECT_EQ(db->scalarInt(u"SELECT COUNT(*) FROM context WHERE state_reason = "
                            "'reconciled_on_launch'"_qs),
              1);
    QStringList actions;
    for (const AuditEntry& entry : model->store()->auditEntries(10))
        actions.append(entry.action);
    EXPECT_TRUE(actions.contains(u"capture_paused"_qs));
    EXPECT_TRUE(actions.contains(u"capture_resumed"_qs));
}

TEST_F(AppModelTest, AChangedProfileTakesEffectAtOnce) {
    auto model = makeModel();
    EXPECT_EQ(model->nudgeEngine().currentProfile(), NudgeEngine::Profile::Whisper);
    settings.setString(u"settings.sensoryProfile"_qs, u"coach"_qs);
    EXPECT_EQ(model->nudgeEngine().currentProfile(), NudgeEngine::Profile::Coach);
    settings.setString(u"settings.sensoryProfile"_qs, u"loud"_qs);
    EXPECT_EQ(model->nudgeEngine().currentProfile(), NudgeEngine::Profile::Whisper);
}

TEST_F(AppModelTest, TheLoginItemIsRegisteredOnlyOnTheFirstRun) {
    loginItem.fail = true;
    makeModel().reset();
    EXPECT_EQ(settings.boolValue(u"settings.launchAtLogin.configured"_qs), true)
        << "an error is ignored";
    makeModel().reset();
    EXPECT_EQ(loginItem.registrations, 1);
}

TEST_F(AppModelTest, TheDownloadsSwitchRegistersOneDetectorPerRun) {
    qunsetenv("KESTRUNE_DOWNLOADS_DIR");
    {
        auto model = makeModel();
        EXPECT_EQ(downloadsDetectorsMade, 0) << "off by default";
        settings.setBool(u"settings.downloadsDetector"_qs, true);
        EXPECT_EQ(downloadsDetectorsMade, 1);
        EXPECT_EQ(model->detectorRegistry()->count(), 1);
        settings.setBool(u"settings.downloadsDetector"_qs, false);
        settings.setBool(u"settings.downloadsDetector"_qs, true);
        settings.setString(u"settings.sensoryProfile"_qs, u"nudge"_qs); // unrelated change
        EXPECT_EQ(downloadsDetectorsMade, 1) << "switching off and on again adds none";
    }
    // On at launch: registered then, and the switch does not add a second one.
    downloadsDetectorsMade = 0;
    auto model = makeModel();
    EXPECT_EQ(downloadsDetectorsMade, 1);
    settings.setBool(u"settings.downloadsDetector"_qs, false);
    settings.setBool(u"settings.downloadsDetector"_qs, true);
    EXPECT_EQ(downloadsDetectorsMade, 1);
    EXPECT_EQ(model->detectorRegistry()->count(), 1);
}

TEST_F(AppModelTest, TheDownloadsFolderVariableAloneRegistersTheDetector) {
    qputenv("KESTRUNE_DOWNLOADS_DIR", "");
    auto model = makeModel();
    qunsetenv("KESTRUNE_DOWNLOADS_DIR");
    EXPECT_EQ(downloadsDetectorsMade, 1) << "present, even empty";
}

TEST_F(AppModelTest, UserCommandsFindLoopsByAUniqueBeginningOfTheirId) {
    auto model = makeModel();
    UserCommands commands(*model, [this] { return clock; });
    auto raw = TestSupport::openRaw(dir.filePath(u"kestrune.db"_qs), TestSupport::testKey());
    const auto loopWithID = [&](const QString& id, const char* label) {
        const QString made = model->store()
                                 ->createContext(u"org.example.App"_qs, QString::fromLatin1(label),
                                                 std::nullopt, false, std::nullopt, clock)
                                 .value();
        raw->execute(u"UPDATE context SET id = ? WHERE id = ?"_qs, id, made);
    };
    loopWithID(u"ABCD0000-0000-4000-8000-000000000001"_qs, "first");
    loopWithID(u"ABCE0000-0000-4000-8000-000000000002"_qs, "second");

    const auto label = [&](const QString& prefix) {
        const auto found = commands.find(prefix);
        return std::holds_alternative<ContextRecord>(found)
                   ? std::get<ContextRecord>(found).label.value_or(QString())
                   : u"error: "_qs + std::get<QString>(found);
    };
    EXPECT_EQ(label(u"abcd"_qs), u"first"_qs) << "any case";
    EXPECT_EQ(label(u"ABCE0000-0000-4000-8000-000000000002"_qs), u"second"_qs);
    EXPECT_TRUE(label(u"ABC"_qs).startsWith(u"error: 2 loops have ids beginning with ABC"_qs));
    EXPECT_TRUE(label(u"FF"_qs).startsWith(u"error: No open loop"_qs));
    EXPECT_TRUE(label(u"  "_qs).startsWith(u"error: No loop id given"_qs));

    EXPECT_EQ(commands.snooze(u"abcd"_qs, u"90"_qs), QString());
    EXPECT_TRUE(model->store()->context(u"ABCD0000-0000-4000-8000-000000000001"_qs)->snoozeUntil);
    EXPECT_EQ(commands.dismiss(u"abce"_qs), QString());
    EXPECT_TRUE(label(u"abce"_qs).startsWith(u"error: No open loop"_qs)) << "dismissed";
    EXPECT_FALSE(commands.markNotReady(u"abcd"_qs).isEmpty()) << "not ready to begin with";
    EXPECT_EQ(commands.exportTo(u"relative.json"_qs),
              u"The export file must be given as an absolute path."_qs);

    EXPECT_EQ(SnoozeDuration::seconds(u"10m"_qs), 600);
    EXPECT_EQ(SnoozeDuration::seconds(u"1H"_qs), 3600);
    EXPECT_EQ(SnoozeDuration::seconds(u"45"_qs), 45);
    for (const char* bad : {"0", "-5", "soon", "1.5h", "", "99999999999"})
        EXPECT_EQ(SnoozeDuration::seconds(QString::fromLatin1(bad)), std::nullopt) << bad;
}

TEST_F(AppModelTest, TheLaunchAtLoginSwitchRegistersAndUnregistersAndLogsAFailure) {
    settings.setBool(u"settings.launchAtLogin.configured"_qs, true);
    auto model = makeModel();
    EXPECT_FALSE(model->launchesAtLogin());
    EXPECT_TRUE(model->setLaunchAtLogin(true));
    EXPECT_TRUE(model->launchesAtLogin());
    EXPECT_TRUE(model->setLaunchAtLogin(false));
    EXPECT_FALSE(model->launchesAtLogin());
    loginItem.fail = true;
    LogCapture log;
    EXPECT_FALSE(model->setLaunchAtLogin(true));
    EXPECT_EQ(log.count(u"launch-at-login change failed: refused"_qs), 1);
    EXPECT_FALSE(settings.boolValue(u"settings.launchAtLogin"_qs).has_value()) << "not stored";
}

TEST_F(AppModelTest, SettingsDataIsReloadedAndAPermissionChangeIsAudited) {
    accessibilitySwitch.set(true);
    auto model = makeModel();
    model->store()->addExclusion(u"org.example.Vault"_qs, clock);
    model->refreshSettingsData();
    const auto& data = model->settingsData();
    EXPECT_TRUE(data.accessibilityGranted);
    EXPECT_TRUE(std::any_of(
        data.exclusionRules.begin(), data.exclusionRules.end(),
        [](const PrivacyRuleRecord& rule) { return rule.matcher == u"org.example.Vault"_qs; }));
    EXPECT_EQ(data.retentionDays, 7);
    const auto audited = [&](const char* action) {
        return std::count_if(
            model->settingsData().auditEntries.begin(), model->settingsData().auditEntries.end(),
            [&](const AuditEntry& entry) { return entry.action == QLatin1String(action); });
    };
    EXPECT_EQ(audited("accessibility_granted"), 0) << "as it was at launch: nothing changed";

    accessibilitySwitch.set(false, false); // turned off elsewhere, silently
    model->refreshSettingsData();
    EXPECT_FALSE(model->settingsData().accessibilityGranted);
    EXPECT_FALSE(model->permissions().accessibilityGranted()) << "the same value everywhere";
    EXPECT_EQ(model->settingsData().auditEntries.first().action, u"accessibility_revoked"_qs);
    accessibilitySwitch.set(true);
    model->refreshSettingsData();
    model->refreshSettingsData();
    EXPECT_EQ(audited("accessibility_granted"), 1) << "written on a change only";
    EXPECT_EQ(audited("accessibility_revoked"), 1);
}

TEST_F(AppModelTest, TheAccessibilityPermissionAsksInOurDialogAndIsHeardOnlyWhenItChanges) {
    auto model = makeModel();
    Permissions& permissions = model->permissions();
    QList<bool> heard;
    QObject::connect(&permissions, &Permissions::accessibilityGrantedChanged,
                     [&](bool granted) { heard.append(granted); });
    QList<bool> asked;
    QObject::connect(&permissions, &Permissions::consentRequested,
                     [&](bool firstTime) { asked.append(firstTime); });

    EXPECT_FALSE(permissions.accessibilityGranted());
    accessibilitySwitch.set(false);
    permissions.refresh();
    EXPECT_TRUE(heard.isEmpty()) << "no change, no notification";

    // The first request records that the user was asked; later ones ask again.
    permissions.requestAccessibility();
    permissions.requestAccessibility();
    EXPECT_EQ(asked, (QList<bool>{true, false}));
    EXPECT_EQ(settings.boolValue(Permissions::kPromptedKey), true);

    // A desktop that refuses leaves it off and says so.
    accessibilitySwitch.refuse = true;
    EXPECT_FALSE(permissions.grant());
    EXPECT_FALSE(permissions.accessibilityGranted());
    accessibilitySwitch.refuse = false;
    EXPECT_TRUE(permissions.grant());
    EXPECT_EQ(heard, QList<bool>{true});
    permissions.requestAccessibility();
    EXPECT_EQ(asked.size(), 2) << "granted: nothing to ask";

    // Turned off elsewhere without a signal: the next refresh of the model finds out.
    accessibilitySwitch.set(false, false);
    EXPECT_TRUE(permissions.accessibilityGranted());
    model->refresh();
    EXPECT_EQ(heard, (QList<bool>{true, false}));
    // No one answering counts as off.
    accessibilitySwitch.set(std::nullopt);
    EXPECT_FALSE(permissions.grant());
}

TEST_F(AppModelTest, APromptIsAnsweredWithTheChatsOwnButtonAndStaysWhenThatFails) {
    auto model = makeModel();
    UserCommands commands(*model, [this] { return clock; });
    const QString id = model->store()
                           ->createContext(u"com.openai.chat"_qs, u"Trip plan"_qs, std::nullopt,
                                           false, std::nullopt, clock)
                           .value();
    QList<std::pair<AppModel::Response, QString>> answered;
    bool pressed = true;
    model->setRemoteResponder([&](AppModel::Response response, const QString& bundleID) {
        answered.append({response, bundleID});
        return pressed;
    });
    model->setPendingApproval(id, true);

    EXPECT_EQ(commands.respond(id.left(8), false), QString());
    ASSERT_EQ(answered.size(), 1);
    EXPECT_EQ(answered[0].first, AppModel::Response::Deny);
    EXPECT_EQ(answered[0].second, u"com.openai.chat"_qs);
    EXPECT_FALSE(model->hasPendingApproval(id)) << "answered";

    // The chat's button could not be pressed and the application cannot be brought back:
    // the user is told, and the prompt is still waiting.
    model->setPendingApproval(id, true);
    pressed = false;
    EXPECT_FALSE(commands.respond(id, true).isEmpty());
    EXPECT_EQ(answered.size(), 2);
    EXPECT_TRUE(model->hasPendingApproval(id));
}
