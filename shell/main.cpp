// Tessarine: keeps the user's unfinished work in an encrypted local database. This entry runs
// the engine headless on the desktop: focus tracking, loops, detectors, nudges, retention.

#include "core/AppModel.h"
#include "core/Environment.h"
#include "core/Log.h"
#include "detectors/BrowserDetector.h"
#include "detectors/ClaudeDesktopSessionDetector.h"
#include "detectors/CompanionSetup.h"
#include "detectors/ComposeDetector.h"
#include "detectors/DownloadsDetector.h"
#include "detectors/HostManifestInstaller.h"
#include "detectors/NativeAIDetector.h"
#include "detectors/SessionLogDetector.h"
#include "detectors/TerminalDetector.h"
#include "detectors/WatchDetector.h"
#include "platform/WorkspaceWindowAccessibility.h"
#include "platform/linux/InotifyDirectoryWatcher.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LinuxDesktopServices.h"
#include "platform/linux/LinuxSessionMonitor.h"
#include "platform/linux/ProcProcessInfo.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/UnixDatagramMessagePort.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <memory>

namespace {

const QString kSeedResource = QStringLiteral(":/resources/default-exclusions.json");

std::unique_ptr<ContextStore> openStore() {
    const QString path = ContextStore::defaultDatabaseURL();
    if (Environment::isSwitchOn("KESTRUNE_EPHEMERAL_KEY")) {
        EphemeralKeyProvider provider(EphemeralKeyProvider::developmentKey());
        return std::make_unique<ContextStore>(path, provider);
    }
    SecretServiceStore secrets;
    KeychainKeyProvider provider(secrets, path);
    return std::make_unique<ContextStore>(path, provider);
}

// Shipped data: beside the executable in the build tree, in share/tessarine when installed.
std::optional<QString> resourcesDirectory() {
    const QDir application(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {application.filePath(QStringLiteral("resources")),
          application.filePath(QStringLiteral("../../share/tessarine"))}) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return std::nullopt;
}

void logStore(ContextStore& store) {
    qCInfo(lcApp).noquote() << "Context store open at" << store.databasePath();
    QStringList applied = store.appliedMigrations().values();
    std::sort(applied.begin(), applied.end());
    const QStringList now = store.migrationsAppliedAtOpen();
    qCInfo(lcApp).noquote() << "Schema migrations applied:" << applied.join(QStringLiteral(", "))
                            << "(this run:"
                            << (now.isEmpty() ? QStringLiteral("none")
                                              : now.join(QStringLiteral(", "))) +
                                   QLatin1Char(')');
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                                          "%{if-warning}warning: %{endif}%{if-critical}error: "
                                          "%{endif}%{message}"));
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessarine"));

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &app,
                     [](int signalNumber) {
                         qCInfo(lcApp) << "Stopping on signal" << signalNumber;
                         QCoreApplication::quit();
                     });

    const qint64 pid = QCoreApplication::applicationPid();
    X11Workspace workspace(pid);
    if (!workspace.isConnected())
        qCWarning(lcApp) << "No X display: focus changes cannot be followed (set DISPLAY)";
    JsonFileUserDefaults settings;
    LinuxSessionMonitor sessionMonitor;
    XdgAutostartLoginItem loginItem(QCoreApplication::applicationFilePath());
    InotifyDirectoryWatcher directoryWatcher;
    UnixDatagramMessagePort messagePort;
    // The host sits beside the application, installed or in the build tree.
    const HostManifestInstaller manifests(
        QCoreApplication::applicationDirPath() + QStringLiteral("/kestrune-native-host"),
        [&settings] { return HostManifestInstaller::extensionID(settings); },
        HostManifestInstaller::linuxFolders(
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
            QDir::homePath()));
    // Window titles come from the window system; elements inside windows need AT-SPI.
    WorkspaceWindowAccessibility windowAccessibility(workspace);
    ProcProcessInfo processInfo;
    const CpuSampling::RunningPID runningPID =
        [&workspace](const QString& bundleID) -> std::optional<qint64> {
        for (const RunningApplication& application : workspace.runningApplications()) {
            if (application.bundleID == bundleID)
                return application.pid;
        }
        return std::nullopt;
    };
    const CpuSampling::CpuProvider cpuTime = [&processInfo](qint64 pid) {
        return processInfo.cpuTimeNanos(pid);
    };
    // In registration order; the other detectors join as they are built.
    const auto makeDetectors = [&directoryWatcher, &settings, &windowAccessibility, &workspace,
                                &messagePort, &manifests, runningPID, cpuTime] {
        std::vector<std::unique_ptr<Detector>> detectors;
        BrowserDetector::Options browser;
        browser.isURLReceiptsEnabled = BrowserDetector::urlReceiptsSetting(settings);
        browser.installManifests = [&manifests] { manifests.installAll(); };
        detectors.push_back(std::make_unique<BrowserDetector>(messagePort, std::move(browser)));
        detectors.push_back(std::make_unique<TerminalDetector>(windowAccessibility, workspace));
        detectors.push_back(
            std::make_unique<WatchDetector>(WatchDetector::Tuning{}, runningPID, cpuTime));
        detectors.push_back(std::make_unique<SessionLogDetector>(
            SessionLogDetector::codex(QStringLiteral("com.openai.codex"),
                                      SessionLogDetector::defaultSessionsDir()),
            directoryWatcher));
        detectors.push_back(std::make_unique<SessionLogDetector>(
            SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"),
                                           SessionLogDetector::defaultProjectsDir()),
            directoryWatcher));
        // The desktop app's controls are read through accessibility, which is not yet
        // available here: turns are followed through the metadata files alone.
        detectors.push_back(std::make_unique<ClaudeDesktopSessionDetector>(
            ClaudeDesktopSessionDetector::defaultRootDir(), directoryWatcher,
            ClaudeDesktopSessionDetector::Options{}));
        // No accessibility chat detector reads the covered apps yet, so they stay here.
        detectors.push_back(std::make_unique<NativeAIDetector>(
            NativeAIDetector::resolvedBundleIDs(settings), NativeAIDetector::Tuning{}, runningPID,
            cpuTime, [] { return false; }));
        detectors.push_back(
            std::make_unique<ComposeDetector>(ComposeDetector::resolvedBundleIDs(settings)));
        return detectors;
    };
    const auto makeDownloadsDetector = [&directoryWatcher]() -> std::unique_ptr<Detector> {
        return std::make_unique<DownloadsDetector>(std::nullopt, directoryWatcher);
    };

    const LinuxDesktopServices desktop;
    CompanionSetup companion({
        .resourcesDir = resourcesDirectory(),
        .dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
        .settings = settings,
        .installManifests = [&manifests] { manifests.installAll(); },
        .revealInFileViewer = [&desktop](const QString& path) { desktop.revealInFileViewer(path); },
        .openExtensionsPage = [&desktop] { desktop.openExtensionsPage(); },
    });

    AppModel model(AppModelDependencies{
        .workspace = workspace,
        .settings = settings,
        .sessionMonitor = sessionMonitor,
        .loginItem = loginItem,
        .openStore = openStore,
        .defaultExclusionsPath =
            QFile::exists(kSeedResource) ? std::optional(kSeedResource) : std::nullopt,
        .makeDetectors = makeDetectors,
        .prepareBrowserExtension = [&companion] { return companion.prepareBrowserExtension(); },
        .makeDownloadsDetector = makeDownloadsDetector,
        .activeTabReader = {},
        .isBrowser = {},
        .ownPid = pid,
        .now = [] { return std::chrono::system_clock::now(); },
        .timer = nullptr,
    });
    if (model.store())
        logStore(*model.store());

    qCInfo(lcApp) << "Tessarine is running; press Ctrl+C to stop";
    return QCoreApplication::exec();
}
