#include "ui/SettingsView.h"
#include "DropdownFixture.h"
#include "Wait.h"
#include "app/HotkeyManager.h"
#include "platform/fake/FakeGlobalHotkey.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

namespace {

using State = ContextState;

class SettingsViewTest : public DropdownFixture {
protected:
    FakeGlobalHotkey hotkey;
    std::unique_ptr<HotkeyManager> hotkeys;
    std::unique_ptr<SettingsView> view;
    int downloadsMade = 0;

    void SetUp() override {
        makeDownloadsDetector = [this]() -> std::unique_ptr<Detector> {
            ++downloadsMade;
            return std::make_unique<DownloadsProbe>();
        };
        languageModel = &fakeLanguageModel;
        DropdownFixture::SetUp();
        hotkeys = std::make_unique<HotkeyManager>(hotkey, settings, [] {});
        hotkeys->registerHotkey();
        view = std::make_unique<SettingsView>(SettingsView::Dependencies{
            .model = *model,
            .commands = *commands,
            .settings = settings,
            .hotkey = hotkeys.get(),
            .installedApplications =
                [] {
                    return QList<InstalledApplication>{
                        {u"org.example.Vault"_qs, u"Vault"_qs, std::nullopt},
                        {u"org.example.Mail"_qs, u"Mail"_qs, std::nullopt}};
                },
            .now = [this] { return clock; },
        });
        view->reload();
    }
    qsizetype audited(const char* action) {
        qsizetype n = 0;
        for (const AuditEntry& entry : model->settingsData().auditEntries)
            n += entry.action == QLatin1String(action) ? 1 : 0;
        return n;
    }
};

} // namespace

TEST_F(SettingsViewTest, SwitchesWriteTypedSettingsTakeEffectAndAuditWhatConcernsPrivacy) {
    EXPECT_EQ(view->sensoryProfile(), u"whisper"_qs);
    view->setSensoryProfile(u"coach"_qs);
    EXPECT_EQ(settings.stringValue(u"settings.sensoryProfile"_qs), u"coach"_qs);
    EXPECT_EQ(model->nudgeEngine().currentProfile(), NudgeEngine::Profile::Coach);
    view->setSensoryProfile(u"loud"_qs);
    EXPECT_EQ(view->sensoryProfile(), u"coach"_qs) << "not a profile: ignored";

    view->setPrimarySurface(u"menubar"_qs);
    EXPECT_EQ(settings.stringValue(u"settings.primarySurface"_qs), u"menubar"_qs);
    EXPECT_TRUE(view->surfaceText().startsWith(u"The menu-bar dropdown"_qs));
    view->setPrimarySurface(u"notch"_qs);
    EXPECT_TRUE(view->surfaceText().contains(u"Alt+Super+L"_qs)) << "the shortcut as set";

    view->setDownloadsDetection(true);
    view->setDownloadsDetection(false);
    view->setDownloadsDetection(true);
    EXPECT_EQ(settings.boolValue(u"settings.downloadsDetector"_qs), true);
    EXPECT_EQ(downloadsMade, 1) << "one detector, however often it is switched";
    EXPECT_NE(model->detectorRegistry()->detector(u"downloads"_qs), nullptr);

    view->setUrlReceipts(true);
    view->setUrlReceipts(true);
    view->setSmartSummaries(true);
    view->setSmartSummaries(false);
    EXPECT_EQ(settings.boolValue(u"settings.urlReceipts"_qs), true);
    EXPECT_EQ(audited("url_receipts_enabled"), 1) << "a change only";
    EXPECT_EQ(audited("smart_summaries_enabled"), 1);
    EXPECT_EQ(audited("smart_summaries_disabled"), 1);
    EXPECT_TRUE(view->auditEntries().constFirst().contains(u"smart_summaries_disabled"_qs));

    view->setRemoteApprove(true);
    EXPECT_EQ(settings.boolValue(u"settings.remoteApprove"_qs), true);
    view->setRetentionDays(30);
    EXPECT_EQ(model->store()->retentionSettings().ttlDays, 30);
    view->setRetentionDays(5);
    EXPECT_EQ(view->retentionDays(), 30) << "only the offered choices";
}

TEST_F(SettingsViewTest, TheSummariesSwitchSaysWhichModelNamesChats) {
    EXPECT_EQ(view->summaryModelText(), QString()) << "switched off";
    fakeLanguageModel.setAnswer({u"Topic"_qs, {}});
    view->setSmartSummaries(true);
    EXPECT_TRUE(waitFor([&] { return view->summaryModelText().startsWith(u"Topics come"_qs); }))
        << view->summaryModelText().toStdString();
    EXPECT_EQ(view->summaryModelText(), u"Topics come from fake-model (here)."_qs);

    // The window looks again each time it opens: the server has gone meanwhile.
    fakeLanguageModel.setAnswer({std::nullopt, u"no local model server found"_qs});
    int changes = 0;
    QObject::connect(view.get(), &SettingsView::changed, [&] { ++changes; });
    view->reload();
    EXPECT_TRUE(waitFor([&] { return changes >= 2; })) << "the window heard of the change";
    EXPECT_TRUE(view->summaryModelText().startsWith(u"No local"_qs));
    EXPECT_TRUE(view->summaryModelText().contains(u"first line of your prompt"_qs));
}

TEST_F(SettingsViewTest, PrivacyControlsEraseExportAndDeleteWhatTheySay) {
    const QString vault = add("org.example.Vault", State::Backgrounded, 5, u"secret"_qs);
    add("org.example.Mail", State::Ready, 2);
    EXPECT_EQ(view->applications(u"vau"_qs).size(), 1);
    EXPECT_EQ(view->applications(QString()).constFirst().toMap().value(u"name"_qs), u"Mail"_qs)
        << "by name";

    view->excludeApplication(u"org.example.Vault"_qs);
    EXPECT_FALSE(model->store()->context(vault).has_value()) << "its loops are erased";
    const QVariantList excluded = view->excludedApplications();
    const auto listed = std::find_if(excluded.begin(), excluded.end(), [](const QVariant& rule) {
        return rule.toMap().value(u"identity"_qs) == u"org.example.Vault"_qs;
    });
    ASSERT_NE(listed, excluded.end());
    EXPECT_EQ(listed->toMap().value(u"name"_qs), u"Vault"_qs);
    view->removeExclusion(listed->toMap().value(u"id"_qs).toString());
    EXPECT_EQ(view->excludedApplications().size(), excluded.size() - 1);

    const qsizetype addresses = view->excludedAddresses().size();
    view->addExcludedAddress(u"   "_qs);
    EXPECT_FALSE(view->message().isEmpty()) << "an empty pattern is refused";
    view->addExcludedAddress(u"  *.bank.example/*  "_qs);
    ASSERT_EQ(view->excludedAddresses().size(), addresses + 1);
    EXPECT_EQ(view->excludedAddresses().constLast().toMap().value(u"pattern"_qs),
              u"*.bank.example/*"_qs);

    const QString file = dir.filePath(u"out/tessarine-export.json"_qs);
    QDir().mkpath(dir.filePath(u"out"_qs));
    EXPECT_TRUE(view->exportTo(file));
    EXPECT_EQ(TestSupport::modeOf(file), 0600);
    EXPECT_FALSE(QJsonDocument::fromJson([&] {
                     QFile read(file);
                     read.open(QIODevice::ReadOnly);
                     return read.readAll();
                 }())
                     .isNull());

    EXPECT_TRUE(view->deleteEverythingWarning().contains(u"all 1 loops"_qs))
        << view->deleteEverythingWarning().toStdString();
    view->deleteEverything();
    EXPECT_TRUE(model->store()->openContexts().isEmpty());
    EXPECT_EQ(model->loops().openCount(), 0);
    EXPECT_EQ(audited("delete_everything"), 1);
}

TEST_F(SettingsViewTest, TheRecorderKeepsOnlyShortcutsThatCanBeGrabbed) {
    EXPECT_EQ(SettingsView::virtualKey(Qt::Key_K), 40u);
    EXPECT_EQ(SettingsView::virtualKey(Qt::Key_F1), 122u);
    EXPECT_FALSE(SettingsView::virtualKey(Qt::Key_CapsLock));

    EXPECT_FALSE(view->recordShortcut(Qt::Key_K, Qt::ShiftModifier)) << "Shift alone";
    EXPECT_FALSE(settings.integerValue(HotkeyManager::kKeyCodeKey).has_value());

    EXPECT_TRUE(view->recordShortcut(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier));
    EXPECT_EQ(settings.integerValue(HotkeyManager::kKeyCodeKey), 40);
    EXPECT_EQ(settings.integerValue(HotkeyManager::kModifiersKey), 0x1200);
    EXPECT_EQ(hotkey.grabbed, std::pair(40u, 0x1200u)) << "taken at once";
    EXPECT_EQ(view->shortcut(), u"Ctrl+Shift+K"_qs);

    // Held by another program: the working one stays.
    hotkey.taken.append({38u, 0x900u});
    EXPECT_FALSE(view->recordShortcut(Qt::Key_J, Qt::AltModifier | Qt::MetaModifier));
    EXPECT_TRUE(view->message().contains(u"Alt+Super+J is taken"_qs))
        << view->message().toStdString();
    EXPECT_EQ(settings.integerValue(HotkeyManager::kKeyCodeKey), 40);
    EXPECT_EQ(hotkey.grabbed, std::pair(40u, 0x1200u));
}
