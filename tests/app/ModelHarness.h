#pragma once

// An application model over a real encrypted database in a temporary folder, with the fake
// desktop, settings and accessibility switch the test drives.
#include "app/AppModel.h"
#include "engine/StateMachineFixture.h"
#include "platform/LoginItem.h"
#include "platform/SessionMonitor.h"
#include "platform/fake/FakeAccessibilitySwitch.h"
#include "platform/fake/FakeLanguageModel.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"

class CountingLoginItem final : public LoginItem {
public:
    void registerMainApplication() override {
        ++registrations;
        if (fail)
            throw std::runtime_error("refused");
        registered = true;
    }
    void unregisterMainApplication() override {
        if (fail)
            throw std::runtime_error("refused");
        registered = false;
    }
    bool isRegistered() const override { return registered; }
    bool registered = false;
    int registrations = 0;
    bool fail = false;
};

// A downloads detector that watches nothing: only whether one was registered counts.
class DownloadsProbe final : public Detector {
public:
    QString kind() const override { return u"downloads"_qs; }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
};

struct ModelHarness {
    QTemporaryDir dir;
    FakeWorkspace workspace;
    MemoryUserDefaults settings;
    SessionMonitor sessionMonitor;
    CountingLoginItem loginItem;
    FakeAccessibilitySwitch accessibilitySwitch;
    TimePoint clock = fromMillis(1'700'000'000'000);
    bool storeFails = false;
    std::function<std::unique_ptr<Detector>()> makeDownloadsDetector;
    std::function<std::vector<std::unique_ptr<Detector>>()> makeDetectors;
    // Here, so that it outlives models kept by fixtures built on this harness.
    FakeLanguageModel fakeLanguageModel;
    LanguageModel* languageModel = nullptr;

    std::unique_ptr<AppModel> makeModel() {
        return std::make_unique<AppModel>(AppModelDependencies{
            .workspace = workspace,
            .settings = settings,
            .sessionMonitor = sessionMonitor,
            .loginItem = loginItem,
            .openStore = [this]() -> std::unique_ptr<ContextStore> {
                if (storeFails)
                    throw std::runtime_error("no keyring");
                EphemeralKeyProvider key(TestSupport::testKey());
                return std::make_unique<ContextStore>(dir.filePath(u"kestrune.db"_qs), key);
            },
            .defaultExclusionsPath = TestSupport::seedFilePath(),
            .makeDetectors = makeDetectors,
            .prepareBrowserExtension = {},
            .makeDownloadsDetector = makeDownloadsDetector,
            .activeTabReader = {},
            .isBrowser = {},
            .ownPid = 1,
            .now = [this] { return clock; },
            .timer = std::make_unique<ManualTickTimer>(clock),
            .accessibilitySwitch = &accessibilitySwitch,
            .languageModel = languageModel,
        });
    }
    void launch(qint64 pid, const char* bundleID, const char* title) {
        workspace.launch(RunningApplication{QString::fromLatin1(bundleID), {}, pid, true});
        workspace.openWindow(pid, static_cast<quint64>(pid) * 10, QString::fromLatin1(title));
    }
};
