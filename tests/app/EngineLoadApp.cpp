// The application model (the engine) over the real database at argv[1], driven as fast as it
// goes: focus moves among eight applications, a detector reports work starting and ending on
// their loops and asks for topics. Every list of loops the engine announces (what the
// dropdown, LoopsChanged and `tessarine loops` report) is printed as acknowledged, one block
// per announcement ending in "end". The kill test kills it at random moments.
#include "app/AppModel.h"
#include "platform/LoginItem.h"
#include "platform/SessionMonitor.h"
#include "platform/fake/FakeLanguageModel.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>

namespace {

class NoLoginItem final : public LoginItem {
public:
    void registerMainApplication() override {}
    void unregisterMainApplication() override {}
    bool isRegistered() const override { return true; }
};

class SignalsProbe final : public Detector {
public:
    QString kind() const override { return QStringLiteral("claude_code"); }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    void start(DetectorSignalsPtr signals, const DetectorEnvironment&) override {
        this->signals = std::move(signals);
    }
    DetectorSignalsPtr signals;
};

void acknowledge(const GroupedLoops& loops) {
    for (const QList<ContextRecord>* group :
         {&loops.ready, &loops.backgrounded, &loops.stale, &loops.alsoOpen})
        for (const ContextRecord& loop : *group)
            std::printf("%s %s %lld\n", qPrintable(loop.id),
                        qPrintable(ContextStates::rawValue(loop.state)),
                        static_cast<long long>(toMillis(loop.stateChangedAt)));
    std::puts("end");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    if (argc != 3) {
        std::fputs("usage: tessarine-test-engine-load DATABASE HEX-KEY\n", stderr);
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const QByteArray key = QByteArray::fromHex(argv[2]);
    FakeWorkspace workspace;
    MemoryUserDefaults settings;
    settings.setInteger(QStringLiteral("settings.engagementSeconds"), 0);
    settings.setBool(QStringLiteral("settings.smartSummaries"), true);
    SessionMonitor sessionMonitor;
    NoLoginItem loginItem;
    FakeLanguageModel languageModel;
    languageModel.setAnswer({QStringLiteral("A Topic"), {}});
    SignalsProbe* probe = nullptr;

    AppModel model(AppModelDependencies{
        .workspace = workspace,
        .settings = settings,
        .sessionMonitor = sessionMonitor,
        .loginItem = loginItem,
        .openStore = [&]() -> std::unique_ptr<ContextStore> {
            EphemeralKeyProvider provider(key);
            return std::make_unique<ContextStore>(path, provider);
        },
        .defaultExclusionsPath = std::nullopt,
        .makeDetectors =
            [&] {
                auto detector = std::make_unique<SignalsProbe>();
                probe = detector.get();
                std::vector<std::unique_ptr<Detector>> detectors;
                detectors.push_back(std::move(detector));
                return detectors;
            },
        .prepareBrowserExtension = {},
        .makeDownloadsDetector = {},
        .activeTabReader = {},
        .isBrowser = {},
        .ownPid = QCoreApplication::applicationPid(),
        .now = [] { return std::chrono::system_clock::now(); },
        .timer = nullptr,
        .accessibilitySwitch = nullptr,
        .languageModel = &languageModel,
    });
    if (!model.store() || !probe || !probe->signals)
        return 1;
    model.observeChanges([&model] { acknowledge(model.loops()); });

    constexpr int kApplications = 8;
    for (int i = 0; i < kApplications; ++i) {
        workspace.launch(
            RunningApplication{QStringLiteral("org.example.Load%1").arg(i), {}, 100 + i, true});
        workspace.openWindow(100 + i, 1000 + i, QStringLiteral("Window %1").arg(i));
    }
    long tick = 0;
    QTimer load;
    QObject::connect(&load, &QTimer::timeout, [&] {
        ++tick;
        workspace.activate(100 + tick % kApplications);
        const std::optional<ContextRecord> loop = model.store()->openContext(
            QStringLiteral("org.example.Load%1").arg((tick + 3) % kApplications));
        if (!loop)
            return;
        const TimePoint now = std::chrono::system_clock::now();
        switch (tick % 3) {
        case 0:
            probe->signals->pending(loop->id, QStringLiteral("turn_started"), now);
            break;
        case 1:
            probe->signals->ready(loop->id, QStringLiteral("turn_complete"), now);
            break;
        default:
            probe->signals->summarize(loop->id, QStringLiteral("User: question %1").arg(tick));
        }
    });
    load.start(0);
    return QCoreApplication::exec();
}
