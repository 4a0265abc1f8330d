// Tessarine: keeps the user's unfinished work in an encrypted local database. This entry runs
// the engine headless on the desktop: focus tracking, loops, detectors, nudges, retention.

#include "app/AppModel.h"
#include "app/CommandLine.h"
#include "app/ControlService.h"
#include "app/DesktopDetectors.h"
#include "app/UserCommands.h"
#include "detectors/BrowserDetector.h"
#include "model/Environment.h"
#include "model/Log.h"
#include "platform/linux/InstanceLock.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/LinuxSessionMonitor.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/UnixDatagramMessagePort.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "store/KeyProviders.h"

#include <QClipboard>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <xcb/xcb.h>

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

// Whether an X display answers (a GUI application would abort without one).
bool displayReachable() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return false;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool reachable = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return reachable;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-dd hh:mm:ss.zzz} %{category} "
                                          "%{if-warning}warning: %{endif}%{if-critical}error: "
                                          "%{endif}%{message}"));
    // `tessarine COMMAND …` is a client of the running engine, never an engine itself, and
    // never a GUI application.
    if (argc > 1 && CommandLine::isCommand(QString::fromLocal8Bit(argv[1]))) {
        QCoreApplication client(argc, argv);
        return CommandLine::run(QCoreApplication::arguments().mid(1));
    }
    // The engine is a GUI application (for the clipboard) only where a display is reachable.
    const bool gui = displayReachable();
    std::unique_ptr<QCoreApplication> application =
        gui ? std::make_unique<QGuiApplication>(argc, argv)
            : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("Tessarine"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARINE_VERSION));

    QCommandLineParser arguments;
    arguments.setApplicationDescription(
        QStringLiteral("Tessarine keeps your unfinished work in an encrypted local database.\n"
                       "Without a command it runs the engine; a second start asks the running "
                       "one to show itself.\n\n") +
        CommandLine::usage());
    arguments.addHelpOption();
    arguments.addVersionOption();
    const QCommandLineOption startFresh(
        QStringLiteral("start-fresh"),
        QStringLiteral("Move the existing database aside (kept, never deleted) and start with an "
                       "empty one, for when its key is lost."));
    arguments.addOption(startFresh);
    arguments.process(app);
    if (!arguments.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tessarine: unknown command \"%s\"; see tessarine --help\n",
                     qPrintable(arguments.positionalArguments().constFirst()));
        return 2;
    }

    // One engine per user: a second one would record every focus change twice.
    const std::optional<QString> runtimeFolder = UnixDatagramMessagePort().folder();
    std::optional<InstanceLock> instanceLock;
    if (runtimeFolder) {
        instanceLock.emplace(*runtimeFolder + QStringLiteral("/tessarine.lock"));
        if (instanceLock->state() == InstanceLock::State::HeldByAnother) {
            CommandLine::askToShow();
            std::fputs("Tessarine is already running for this user; nothing to do.\n", stdout);
            return 0;
        }
        if (instanceLock->state() == InstanceLock::State::Unavailable)
            qCWarning(lcApp).noquote() << "Cannot take the instance lock" << instanceLock->path()
                                       << "(" + instanceLock->errorString() + ");"
                                       << "running without it";
    } else {
        qCWarning(lcApp) << "No private runtime folder for the instance lock; running without it";
    }

    if (arguments.isSet(startFresh)) {
        try {
            const std::optional<QString> movedTo =
                ContextStore::quarantine(ContextStore::defaultDatabaseURL());
            std::fputs(
                movedTo ? qPrintable(QStringLiteral(
                                         "The old database was moved to %1; starting with an empty "
                                         "one.\n")
                                         .arg(*movedTo))
                        : "There was no database; starting with an empty one.\n",
                stdout);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "Could not move the old database aside: %s\n", error.what());
            return 1;
        }
    }

    UnixSignalWatcher signalWatcher;
    QObject::connect(&signalWatcher, &UnixSignalWatcher::terminationRequested, &app,
                     [](int signalNumber) {
                         qCInfo(lcApp) << "Stopping on signal" << signalNumber;
                         QCoreApplication::quit();
                     });

    const qint64 pid = QCoreApplication::applicationPid();
    X11Workspace workspace(pid);
    if (gui)
        workspace.setClipboard([](const QString& text) {
            QClipboard* clipboard = QGuiApplication::clipboard();
            if (!clipboard)
                return false;
            clipboard->setText(text);
            return true;
        });
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
    UserCommands commands(model, [] { return std::chrono::system_clock::now(); });
    ControlService control(model, commands);
    control.registerOnSessionBus();

    qCInfo(lcApp) << "Tessarine is running; press Ctrl+C to stop";
    return QCoreApplication::exec();
}
