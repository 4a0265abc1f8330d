// Tessarine: keeps the user's unfinished work in an encrypted local database. This entry runs
// the engine (focus tracking, loops, detectors, nudges, retention) and, where a display
// answers, the visible shell around it: tray icon, dropdown and global shortcut.

#include "app/AppModel.h"
#include "app/CommandLine.h"
#include "app/ControlService.h"
#include "app/DesktopDetectors.h"
#include "app/HotkeyManager.h"
#include "app/IntegrationRemoval.h"
#include "app/NotchIsland.h"
#include "app/SampleLoops.h"
#include "app/StateDump.h"
#include "app/SummaryService.h"
#include "app/UserCommands.h"
#include "detectors/BrowserDetector.h"
#include "model/Environment.h"
#include "model/Log.h"
#include "platform/linux/A11yBusSwitch.h"
#include "platform/linux/AppIdentityResolver.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiControls.h"
#include "platform/linux/DesktopEntryExec.h"
#include "platform/linux/DesktopSession.h"
#include "platform/linux/GnomeKeybinding.h"
#include "platform/linux/GnomeShellExtension.h"
#include "platform/linux/GnomeShellWorkspace.h"
#include "platform/linux/InstanceLock.h"
#include "platform/linux/JsonFileUserDefaults.h"
#include "platform/linux/KWinWorkspace.h"
#include "platform/linux/LinuxSessionMonitor.h"
#include "platform/linux/LocalModelServer.h"
#include "platform/linux/PortalGlobalHotkey.h"
#include "platform/linux/SecretServiceStore.h"
#include "platform/linux/UnixDatagramMessagePort.h"
#include "platform/linux/UnixSignalWatcher.h"
#include "platform/linux/WlrootsWorkspace.h"
#include "platform/linux/X11GlobalHotkey.h"
#include "platform/linux/X11Workspace.h"
#include "platform/linux/XdgAutostartLoginItem.h"
#include "store/KeyProviders.h"
#include "store/Migrations.h"
#include "ui/DropdownWindow.h"
#include "ui/IslandView.h"
#include "ui/IslandWindow.h"
#include "ui/LoopImages.h"
#include "ui/MenuBarView.h"
#include "ui/OnboardingController.h"
#include "ui/SettingsWindow.h"
#include "ui/Shell.h"

#include <QApplication>
#include <QClipboard>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QQmlEngine>
#include <QQuickView>
#include <QQuickWindow>
#include <QStandardPaths>
#include <QTemporaryDir>
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
    // In the order they apply; an identifier this build does not know goes last.
    const QSet<QString> ledger = store.appliedMigrations();
    QStringList applied;
    for (const QString& identifier : Migrations::identifiers()) {
        if (ledger.contains(identifier))
            applied.append(identifier);
    }
    QStringList unknown;
    for (const QString& identifier : ledger) {
        if (!applied.contains(identifier))
            unknown.append(identifier);
    }
    std::sort(unknown.begin(), unknown.end());
    applied += unknown;
    const QStringList now = store.migrationsAppliedAtOpen();
    qCInfo(lcApp).noquote() << "Schema migrations applied:" << applied.join(QStringLiteral(", "))
                            << "(this run:"
                            << (now.isEmpty() ? QStringLiteral("none")
                                              : now.join(QStringLiteral(", "))) +
                                   QLatin1Char(')');
}

// The application icons rows show, from the installed desktop entries (each looked up once).
LoopRow::IconLookup iconLookup(const AppIdentityResolver& resolver) {
    auto cache = std::make_shared<QHash<QString, std::optional<QString>>>();
    return [&resolver, cache](const QString& bundleID) -> std::optional<QString> {
        if (const auto cached = cache->constFind(bundleID); cached != cache->constEnd())
            return *cached;
        std::optional<QString> icon;
        if (const auto entry = resolver.desktopEntry(bundleID)) {
            if (const auto read = DesktopEntryExec::read(entry->path))
                icon = read->icon;
        }
        // Only an icon the theme (or the file it names) really has; rows draw a letter else.
        if (icon &&
            (icon->startsWith(u'/') ? !QFile::exists(*icon) : QIcon::fromTheme(*icon).isNull())) {
            icon.reset();
        }
        cache->insert(bundleID, icon);
        return icon;
    };
}

// The applications the desktop's launchers show, for the exclusion picker (read once).
std::function<QList<InstalledApplication>()>
installedApplications(const AppIdentityResolver& resolver) {
    auto cache = std::make_shared<std::optional<QList<InstalledApplication>>>();
    return [&resolver, cache] {
        if (!*cache) {
            QList<InstalledApplication> list;
            for (const auto& application : resolver.applications()) {
                const auto entry = DesktopEntryExec::read(application.path);
                list.append(
                    {application.identity, application.name, entry ? entry->icon : std::nullopt});
            }
            *cache = list;
        }
        return **cache;
    };
}

// A model that only reads the loops, for the diagnostics: no capture, no instance lock, so
// they work while Tessarine runs.
std::unique_ptr<AppModel> readingModel(Workspace& workspace, UserDefaults& settings,
                                       SessionMonitor& sessionMonitor, LoginItem& loginItem,
                                       std::function<std::unique_ptr<ContextStore>()> open) {
    return std::make_unique<AppModel>(AppModelDependencies{
        .workspace = workspace,
        .settings = settings,
        .sessionMonitor = sessionMonitor,
        .loginItem = loginItem,
        .openStore = std::move(open),
        .defaultExclusionsPath = std::nullopt,
        .makeDetectors = {},
        .prepareBrowserExtension = {},
        .makeDownloadsDetector = {},
        .activeTabReader = {},
        .isBrowser = {},
        .ownPid = QCoreApplication::applicationPid(),
        .now = [] { return std::chrono::system_clock::now(); },
        .timer = nullptr,
        .accessibilitySwitch = nullptr,
        .capture = false,
    });
}

// The application of a snapshot run: drawn offscreen by the software renderer, no display.
std::unique_ptr<QApplication> offscreenApplication(int& argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return std::make_unique<QApplication>(argc, argv);
}

// Saves snapshots as "tessarine-WHAT-N-NAME.png" in KESTRUNE_SNAPSHOT_DIR (else the temporary
// folder) and prints their paths; 1 when one could not be drawn or saved.
int saveSnapshots(const char* what, const std::vector<QImage>& images,
                  const std::vector<const char*>& names) {
    const QDir folder(qEnvironmentVariableIsEmpty("KESTRUNE_SNAPSHOT_DIR")
                          ? QDir::tempPath()
                          : qEnvironmentVariable("KESTRUNE_SNAPSHOT_DIR"));
    for (size_t i = 0; i < images.size() && i < names.size(); ++i) {
        const QString path = folder.filePath(QStringLiteral("tessarine-%1-%2-%3.png")
                                                 .arg(QLatin1String(what))
                                                 .arg(i + 1)
                                                 .arg(QLatin1String(names[i])));
        if (images[i].isNull() || !images[i].save(path)) {
            std::fprintf(stderr, "tessarine: the %s could not be drawn to %s\n", what,
                         qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return images.size() == names.size() ? 0 : 1;
}

// KESTRUNE_ONBOARDING_SNAPSHOT=1: each step of the welcome window, drawn offscreen.
int runOnboardingSnapshot(int argc, char* argv[]) {
    const auto app = offscreenApplication(argc, argv);
    JsonFileUserDefaults settings;
    QQmlEngine engine;
    OnboardingController onboarding(
        engine, settings, [&settings] { return HotkeyManager::shortcutText(settings); },
        [] { return true; });
    return saveSnapshots("onboarding", onboarding.renderSteps(),
                         {"welcome", "accessibility-off", "accessibility-on", "done"});
}

// KESTRUNE_SNAPSHOT=1: draws the dropdown offscreen (the user's loops, or the sample set
// with KESTRUNE_SNAPSHOT_SAMPLE=1), saves it as a PNG, prints its path.
// KESTRUNE_SETTINGS_SNAPSHOT=1 draws each section of the settings window instead.
int runSnapshot(int argc, char* argv[], bool settingsWindow) {
    const auto app = offscreenApplication(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tessarine"));
    const auto now = [] { return std::chrono::system_clock::now(); };
    X11Workspace workspace(QCoreApplication::applicationPid());
    JsonFileUserDefaults settings;
    SessionMonitor sessionMonitor;
    XdgAutostartLoginItem loginItem(
        XdgAutostartLoginItem::launcherPath(QCoreApplication::applicationFilePath()));
    QTemporaryDir sampleFolder;
    std::function<std::unique_ptr<ContextStore>()> open = openStore;
    if (Environment::isSwitchOn("KESTRUNE_SNAPSHOT_SAMPLE")) {
        open = [&sampleFolder, now] {
            EphemeralKeyProvider key(EphemeralKeyProvider::developmentKey());
            auto store = std::make_unique<ContextStore>(
                sampleFolder.filePath(QStringLiteral("sample.db")), key);
            SampleLoops::write(*store, now());
            return store;
        };
    }
    std::unique_ptr<AppModel> model =
        readingModel(workspace, settings, sessionMonitor, loginItem, open);
    UserCommands commands(*model, now);
    QQmlEngine engine;
    if (settingsWindow) {
        SettingsView view({.model = *model,
                           .commands = commands,
                           .settings = settings,
                           .hotkey = nullptr,
                           .installedApplications = installedApplications(workspace.identities()),
                           .now = now});
        SettingsWindow window(engine, view);
        return saveSnapshots("settings", window.renderSections(),
                             {"general", "privacy", "browser", "accessibility"});
    }
    const LoopRow::IconLookup icons = iconLookup(workspace.identities());
    MenuBarView menu(*model, commands, now, icons, true);
    LoopImages images;
    LoopImageProvider::install(engine, images, *model);
    DropdownWindow dropdown(engine, menu);
    const QImage image = dropdown.render();
    const QString path = qEnvironmentVariableIsEmpty("KESTRUNE_SNAPSHOT_PATH")
                             ? QDir::temp().filePath(QStringLiteral("tessarine-dropdown-%1.png")
                                                         .arg(QDateTime::currentDateTime().toString(
                                                             QStringLiteral("yyyyMMdd-hhmmss"))))
                             : qEnvironmentVariable("KESTRUNE_SNAPSHOT_PATH");
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "tessarine: the dropdown could not be drawn to %s\n",
                     qPrintable(path));
        return 1;
    }
    std::printf("%s\n", qPrintable(path));

    // The island, collapsed and dropped down, on the notch surface whatever the user chose.
    UserDefaults islandSettings; // in memory: no peek, no surface choice
    IslandView islandView(*model, commands, now, icons);
    IslandWindow islandWindow(engine, islandView);
    NotchIsland island(*model, islandSettings, islandWindow, QStringLiteral(TESSARINE_BUILD_ID),
                       now);
    islandWindow.attach(island);
    island.update(false);
    if (!islandWindow.isShown()) {
        std::fputs("tessarine: nothing is ready or working, so the island shows nothing\n", stderr);
        return 0;
    }
    std::vector<QImage> islandImages{islandWindow.window().grabWindow()};
    islandView.setBoardShown(true);
    island.expand();
    islandImages.push_back(islandWindow.window().grabWindow());
    return saveSnapshots("island", islandImages, {"revealed", "expanded"});
}

// KESTRUNE_DEBUG_DUMP=1: prints the engine's state and exits.
int runStateDump(DesktopDetectors& detectors, Workspace& workspace, UserDefaults& settings) {
    SessionMonitor sessionMonitor;
    XdgAutostartLoginItem loginItem(
        XdgAutostartLoginItem::launcherPath(QCoreApplication::applicationFilePath()));
    std::unique_ptr<AppModel> model =
        readingModel(workspace, settings, sessionMonitor, loginItem, openStore);
    QStringList kinds;
    for (const auto& detector : detectors.make())
        kinds.append(detector->kind());
    if (settings.boolValue(QStringLiteral("settings.downloadsDetector")).value_or(false) ||
        !qEnvironmentVariableIsEmpty("KESTRUNE_DOWNLOADS_DIR"))
        kinds.append(QStringLiteral("downloads"));
    std::fputs(qPrintable(StateDump::text(model->loops(), model->store(), kinds, settings,
                                          std::chrono::system_clock::now())),
               stdout);
    return model->store() ? 0 : 1;
}

// --uninstall-integration: removes the current user's integration files, says which.
int runUninstallIntegration() {
    const QString configHome =
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
    const QString dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const IntegrationRemoval::Outcome outcome =
        IntegrationRemoval::remove(IntegrationRemoval::places({
            .home = QDir::homePath(),
            .configHome = configHome,
            .dataHome = dataHome,
            .autostartEntry = XdgAutostartLoginItem(QString()).entryPath(),
            .gnomeExtensionFolder = GnomeShellExtension(std::nullopt, dataHome).installedFolder(),
        }));
    for (const QString& line : outcome.removed)
        std::fprintf(stdout, "Removed %s\n", qPrintable(line));
    for (const QString& line : outcome.failed)
        std::fprintf(stderr, "Could not remove %s\n", qPrintable(line));
    if (outcome.removed.isEmpty() && outcome.failed.isEmpty())
        std::fputs("Nothing of Tessarine's integration was left in your home folder.\n", stdout);
    std::fprintf(stdout, "Your loops are kept in %s; delete that folder to remove them too.\n",
                 qPrintable(QFileInfo(ContextStore::defaultDatabaseURL()).absolutePath()));
    return outcome.failed.isEmpty() ? 0 : 1;
}

// KESTRUNE_SUMMARY_TEST=1: names the sample conversation with the configured model, prints
// the topic (or why the prompt's first line stands in) and exits.
int runSummaryTest() {
    JsonFileUserDefaults settings;
    LocalModelServer languageModel(settings);
    const LanguageModel::Availability availability = languageModel.find({}, true);
    std::fprintf(stdout, "Model: %s\n",
                 qPrintable(availability.model
                                ? *availability.model + QStringLiteral(" (") +
                                      availability.description + u')'
                                : QStringLiteral("none: ") + availability.description));
    const SummaryService::Topic topic =
        SummaryService::topicLine(SummaryService::sampleConversation(), &languageModel);
    std::fprintf(stdout, "Topic: %s\n", qPrintable(topic.text.value_or(QString())));
    if (!topic.fromModel)
        std::fprintf(stdout, "(the conversation's first line: %s)\n",
                     qPrintable(topic.whyNotFromModel));
    return topic.fromModel ? 0 : 1;
}

// The backend that reports windows and focus in this session, and why switches cannot be
// followed when they cannot. In a Wayland session the compositor's is the only one: it
// reports XWayland windows too, and a second stream from X11 would double them.
struct TrackedDesktop {
    std::unique_ptr<ToplevelWorkspace> workspace;
    std::optional<SetupNotice::Offer> notice;
};

TrackedDesktop makeWorkspace(DesktopSession::Kind session, qint64 pid) {
    TrackedDesktop desktop;
    const auto unfollowed = [&desktop](const QString& text) {
        qCWarning(lcApp).noquote() << text;
        desktop.notice = SetupNotice::Offer{text};
    };
    switch (session) {
    case DesktopSession::Kind::Wlroots: {
        auto workspace = std::make_unique<WlrootsWorkspace>(pid);
        if (!workspace->isConnected())
            unfollowed(QStringLiteral(
                "This Wayland compositor does not tell other programs which window is in front "
                "(it has no foreign-toplevel list), so Tessarine cannot follow window switches."));
        desktop.workspace = std::move(workspace);
        return desktop;
    }
    case DesktopSession::Kind::KWin: {
        auto workspace = std::make_unique<KWinWorkspace>(pid);
        if (!workspace->isConnected())
            unfollowed(QStringLiteral(
                "KWin did not take Tessarine's window script, so window switches are not "
                "followed. Quit Tessarine and start it again; if this stays, check the log."));
        desktop.workspace = std::move(workspace);
        return desktop;
    }
    case DesktopSession::Kind::GnomeShell: {
        auto workspace = std::make_unique<GnomeShellWorkspace>(pid);
        if (!workspace->hasExtension()) {
            const std::optional<QString> resources = DesktopDetectors::resourcesDirectory();
            auto extension = std::make_shared<GnomeShellExtension>(
                resources ? std::optional(*resources + QStringLiteral("/gnome-shell"))
                          : std::nullopt,
                QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation));
            if (QFileInfo::exists(extension->installedFolder())) {
                unfollowed(QStringLiteral(
                    "Tessarine's GNOME extension is installed but not running: GNOME starts new "
                    "extensions at login. Log out and back in, and check that \u201CTessarine "
                    "window reporter\u201D is on in Extensions."));
            } else {
                unfollowed(QStringLiteral(
                    "GNOME shows which window is in front only to its extensions. Install "
                    "Tessarine's extension so it can follow window switches; it starts at your "
                    "next login."));
                desktop.notice->actionLabel = QStringLiteral("Install GNOME Extension");
                desktop.notice->act = [extension] {
                    return extension->install(
                        GnomeShellExtension::runningShellVersion().value_or(0));
                };
            }
        }
        desktop.workspace = std::move(workspace);
        return desktop;
    }
    case DesktopSession::Kind::X11:
        break;
    }
    auto workspace = std::make_unique<X11Workspace>(pid);
    if (!workspace->isConnected())
        qCWarning(lcApp) << "No X display: focus changes cannot be followed (set DISPLAY)";
    desktop.workspace = std::move(workspace);
    return desktop;
}

// The global shortcut: an X11 grab in an X11 session; on Wayland the desktop portal's
// GlobalShortcuts where the desktop has it. Elsewhere no application may take one: the
// settings say how to make one of the desktop's own run `tessarine toggle`.
std::unique_ptr<GlobalHotkey> globalHotkey(DesktopSession::Kind session, UserDefaults& settings,
                                           SetupNotice& notice) {
    if (!DesktopSession::isWayland(session)) {
        auto grab = std::make_unique<X11GlobalHotkey>();
        return grab->isConnected() ? std::move(grab) : nullptr;
    }
    if (PortalGlobalHotkey::isAvailable())
        return std::make_unique<PortalGlobalHotkey>();
    // The user's choice as it is when asked (the settings may change it meanwhile).
    const auto key = [&settings] {
        return static_cast<quint32>(settings.integerValue(HotkeyManager::kKeyCodeKey)
                                        .value_or(HotkeyManager::kDefaultKeyCode));
    };
    const auto modifiers = [&settings] {
        return static_cast<quint32>(settings.integerValue(HotkeyManager::kModifiersKey)
                                        .value_or(HotkeyManager::kDefaultModifiers));
    };
    const QString command =
        u'\'' + QCoreApplication::applicationFilePath().replace(u'\'', QStringLiteral("'\\''")) +
        QStringLiteral("' toggle");
    switch (session) {
    case DesktopSession::Kind::GnomeShell:
        notice.set(SetupNotice::Offer{
            QStringLiteral("GNOME lets no application take a global shortcut. Tessarine can add "
                           "%1 to GNOME's own keyboard shortcuts to open Tessarine.")
                .arg(GlobalHotkey::describe(key(), modifiers())),
            QStringLiteral("Add to GNOME Shortcuts"), [key, modifiers, command] {
                return GnomeKeybinding().bind(key(), modifiers(), command);
            }});
        break;
    case DesktopSession::Kind::Wlroots:
        notice.set(SetupNotice::Offer{
            QStringLiteral("This compositor lets no application take a global shortcut. Bind "
                           "one in its configuration, for sway: bindsym Mod1+Mod4+l exec %1")
                .arg(command)});
        break;
    case DesktopSession::Kind::KWin:
    case DesktopSession::Kind::X11:
        notice.set(SetupNotice::Offer{
            QStringLiteral("This desktop lets no application take a global shortcut. Add a "
                           "custom shortcut in its settings that runs %1")
                .arg(command)});
        break;
    }
    return nullptr;
}

// KESTRUNE_AX_DUMP=1 / KESTRUNE_AX_PROBE=1: the front application's controls as AT-SPI
// shows them (the dump: every element with its role and name; the probe: the labels the chat
// detector reads), its chosen composer, then exit.
int runAccessibilityDump(bool wholeTree) {
    const DesktopSession::Kind session =
        DesktopSession::detect(QProcessEnvironment::systemEnvironment());
    const TrackedDesktop desktop = makeWorkspace(session, QCoreApplication::applicationPid());
    QCoreApplication::processEvents(); // the compositor's or the script's first report
    const std::optional<RunningApplication> front = desktop.workspace->frontmostApplication();
    if (!front || front->processes.isEmpty()) {
        std::fputs("tessarine: no front application with a process to read\n", stderr);
        return 1;
    }
    const qint64 pid = front->processes.constFirst();
    AtspiBus bus;
    if (!bus.isConnected() || !bus.applicationOf(pid)) {
        std::fprintf(stderr,
                     "tessarine: %s is not on the accessibility bus (Chromium and Electron "
                     "applications must be started after accessibility was turned on)\n",
                     qPrintable(front->bundleID.value_or(QStringLiteral("the front application"))));
        return 1;
    }
    std::printf("%s (pid %lld)\n", qPrintable(front->bundleID.value_or(QString())),
                static_cast<long long>(pid));
    AtspiAccessibility accessibility(bus, [] { return true; });
    if (wholeTree) {
        const std::function<void(const AXElement&, int)> print = [&](const AXElement& element,
                                                                     int depth) {
            if (depth > 28)
                return;
            QString role =
                accessibility.text(element, QStringLiteral("AXRole")).value_or(QStringLiteral("?"));
            if (role == u"AXUnknown") // the toolkit's own name says more
                role += u" ("_qs +
                        accessibility.text(element, QStringLiteral("AXRoleDescription"))
                            .value_or(QString()) +
                        u')';
            std::printf(
                "%s%s \"%s\"\n", QByteArray(depth * 2, ' ').constData(), qPrintable(role),
                qPrintable(Log::privateArg(
                    accessibility.text(element, QStringLiteral("AXTitle")).value_or(QString()))));
            for (const AXElement& child :
                 accessibility.elements(element, QStringLiteral("AXChildren")))
                print(child, depth + 1);
        };
        print(AXElement::application(pid), 0);
    }
    AtspiControls controls(bus);
    const AtspiControls::Reading reading = controls.read(pid);
    QList<AXChatDetector::TextNode> fields;
    for (const AtspiControls::TextNode& field : reading.fields)
        fields.append({field.value, field.editable, field.focused});
    std::printf("labels (%lld of %d elements):\n", static_cast<long long>(reading.labels.size()),
                reading.elements);
    for (const QString& label : reading.labels)
        std::printf("  %s\n", qPrintable(Log::privateArg(label)));
    std::printf("composer: %s\n",
                qPrintable(Log::privateArg(
                    AXChatDetector::chooseComposer(fields).value_or(QStringLiteral("(none)")))));
    QElapsedTimer tabTimer;
    tabTimer.start();
    const std::optional<AtspiControls::Tab> tab = controls.activeTab(pid);
    std::printf("active tab: %s (read in %lld ms)\n",
                qPrintable(tab ? Log::privateArg(tab->url) : QStringLiteral("(none)")),
                static_cast<long long>(tabTimer.elapsed()));
    std::printf("generating: %s\n",
                AXChatDetector::isGenerating(
                    reading.labels, AXChatDetector::resolvedPatterns(JsonFileUserDefaults()))
                    ? "yes"
                    : "no");
    return 0;
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
    if (Environment::isSwitchOn("KESTRUNE_SNAPSHOT"))
        return runSnapshot(argc, argv, false);
    if (Environment::isSwitchOn("KESTRUNE_SETTINGS_SNAPSHOT"))
        return runSnapshot(argc, argv, true);
    if (Environment::isSwitchOn("KESTRUNE_ONBOARDING_SNAPSHOT"))
        return runOnboardingSnapshot(argc, argv);
    // The engine shows itself (and uses the clipboard) only where an X display is reachable:
    // in a Wayland session that is XWayland, where our windows can place themselves (under
    // the tray icon, the island at the top) as they do on X11.
    const DesktopSession::Kind session =
        DesktopSession::detect(QProcessEnvironment::systemEnvironment());
    const bool gui = displayReachable();
    if (gui && DesktopSession::isWayland(session) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (gui && qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software); // a third of GL's memory
    std::unique_ptr<QCoreApplication> application =
        gui ? std::make_unique<QApplication>(argc, argv)
            : std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication& app = *application;
    QCoreApplication::setApplicationName(QStringLiteral("Tessarine"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TESSARINE_VERSION));
    if (gui) // our windows' application id, so a compositor's window list names them
        QGuiApplication::setDesktopFileName(QStringLiteral("app.kestrune.Tessarine"));

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
    const QCommandLineOption uninstallIntegration(
        QStringLiteral("uninstall-integration"),
        QStringLiteral("Remove what Tessarine wrote into your home folder for other programs "
                       "(browser host manifests, the autostart entry, the companion and GNOME "
                       "Shell extension copies); run it before removing the package. Your loops "
                       "are kept."));
    arguments.addOption(uninstallIntegration);
    arguments.process(app);
    if (arguments.isSet(uninstallIntegration))
        return runUninstallIntegration();
    if (!arguments.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "tessarine: unknown command \"%s\"; see tessarine --help\n",
                     qPrintable(arguments.positionalArguments().constFirst()));
        return 2;
    }
    if (Environment::isSwitchOn("KESTRUNE_AX_DUMP") || Environment::isSwitchOn("KESTRUNE_AX_PROBE"))
        return runAccessibilityDump(Environment::isSwitchOn("KESTRUNE_AX_DUMP"));
    if (Environment::isSwitchOn("KESTRUNE_SUMMARY_TEST"))
        return runSummaryTest();
    if (Environment::isSwitchOn("KESTRUNE_DEBUG_DUMP")) {
        X11Workspace workspace(QCoreApplication::applicationPid());
        JsonFileUserDefaults settings;
        DesktopDetectors detectors(workspace, settings);
        return runStateDump(detectors, workspace, settings);
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
    TrackedDesktop desktop = makeWorkspace(session, pid);
    ToplevelWorkspace& workspace = *desktop.workspace;
    if (gui)
        workspace.setClipboard([](const QString& text) {
            QClipboard* clipboard = QGuiApplication::clipboard();
            if (!clipboard)
                return false;
            clipboard->setText(text);
            return true;
        });
    JsonFileUserDefaults settings;
    LinuxSessionMonitor sessionMonitor;
    XdgAutostartLoginItem loginItem(
        XdgAutostartLoginItem::launcherPath(QCoreApplication::applicationFilePath()));
    A11yBusSwitch accessibilitySwitch;
    LocalModelServer languageModel(settings);
    DesktopDetectors detectors(workspace, settings, [&accessibilitySwitch] {
        return accessibilitySwitch.isEnabled().value_or(false);
    });

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
        .activeTabReader =
            [&detectors](const QString& bundleID) -> std::optional<AppModelDependencies::Tab> {
            const std::optional<AtspiControls::Tab> tab = detectors.activeTab(bundleID);
            if (!tab)
                return std::nullopt;
            return AppModelDependencies::Tab{tab->url, tab->title};
        },
        .isBrowser =
            [](const QString& bundleID) {
                return BrowserDetector::browserBundleIDs().contains(bundleID);
            },
        .ownPid = pid,
        .now = [] { return std::chrono::system_clock::now(); },
        .timer = nullptr,
        .accessibilitySwitch = &accessibilitySwitch,
        .languageModel = &languageModel,
    });
    if (model.store())
        logStore(*model.store());
    model.trackingNotice().set(std::move(desktop.notice));
    // Approval prompts of chat applications, and answering them with their own buttons.
    detectors.onPendingApproval = [&model](const QString& contextID,
                                           const std::optional<RemoteApproval::Pending>& pending) {
        model.setPendingApproval(contextID, pending.has_value());
    };
    model.setRemoteResponder([&detectors](AppModel::Response response, const QString& bundleID) {
        return detectors.respond(response == AppModel::Response::Approve
                                     ? RemoteApproval::Kind::Approve
                                     : RemoteApproval::Kind::Deny,
                                 bundleID);
    });
    UserCommands commands(model, [] { return std::chrono::system_clock::now(); });
    ControlService control(model, commands);
    control.registerOnSessionBus();

    // The visible shell, in launch order, where there is a display.
    std::unique_ptr<GlobalHotkey> hotkey;
    std::unique_ptr<Shell> shell;
    if (gui) {
        QGuiApplication::setQuitOnLastWindowClosed(false);
        hotkey = globalHotkey(session, settings, model.shortcutNotice());
        shell = std::make_unique<Shell>(Shell::Dependencies{
            .model = model,
            .commands = commands,
            .settings = settings,
            .hotkey = hotkey.get(),
            .iconName = iconLookup(workspace.identities()),
            .now = [] { return std::chrono::system_clock::now(); },
            .installedApplications = installedApplications(workspace.identities()),
            .build = QStringLiteral(TESSARINE_BUILD_ID),
            // wlroots compositors float our X11 dock window in the middle of the screen.
            .islandPlaceable = session != DesktopSession::Kind::Wlroots,
        });
        control.onShow = [&shell] { shell->openDropdown(); };
        control.onToggle = [&shell] { shell->toggleDropdown(); };
        control.onOpenSettings = [&shell] { shell->openSettings(); };
    }

    qCInfo(lcApp) << "Tessarine is running; press Ctrl+C to stop";
    return QCoreApplication::exec();
}
