// Tessarine: keeps the user's unfinished work in an encrypted local database. This entry runs
// the engine headless on the desktop: focus tracking, loops, detectors, nudges, retention.

#include "core/AppModel.h"
#include "core/Environment.h"
#include "core/Log.h"
#include "detectors/BrowserDetector.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LinuxSessionMonitor.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "shell/DesktopDetectors.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QFile>
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
    DesktopDetectors detectors(workspace, settings);

    AppModel model(AppModelDependencies{
        .workspace = workspace,
        .settings = settings,
        .sessionMonitor = sessionMonitor,
        .loginItem = loginItem,
        .openStore = openStore,
        .defaultExclusionsPath =
            QFile::exists(kSeedResource) ? std::optional(kSeedResource) : std::nullopt,
        .makeDetectors = [&detectors] { return detectors.make(); },
        .prepareBrowserExtension =
            [&detectors] { return detectors.companion().prepareBrowserExtension(); },
        .makeDownloadsDetector = [&detectors] { return detectors.makeDownloads(); },
        .activeTabReader = {},
        .isBrowser =
            [](const QString& bundleID) {
                return BrowserDetector::browserBundleIDs().contains(bundleID);
            },
        .ownPid = pid,
        .now = [] { return std::chrono::system_clock::now(); },
        .timer = nullptr,
    });
    if (model.store())
        logStore(*model.store());

    qCInfo(lcApp) << "Tessarine is running; press Ctrl+C to stop";
    return QCoreApplication::exec();
}
