#include "app/AppModel.h"

#include "detectors/BrowserDetector.h"
#include "detectors/DetectorSignalBinding.h"
#include "detectors/DownloadsDetector.h"
#include "engine/MainQueueTickTimer.h"
#include "model/Log.h"
#include "model/ReturnActionSanitizer.h"
#include "platform/LoginItem.h"
#include "platform/SessionMonitor.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "store/AuditLog.h"

#include <QTimeZone>
#include <exception>

namespace {

// Logs transitions for KESTRUNE_VERBOSE runs, then hands them to the nudge engine.
class TransitionLog final : public TransitionObserver {
public:
    explicit TransitionLog(std::weak_ptr<NudgeEngine> next)
        : m_next(std::move(next)) {}
    void loopDidTransition(const ContextRecord& record, ContextState state) override {
        if (Log::verbose())
            qCInfo(lcApp).noquote()
                << "loop" << record.id << "→" << ContextStates::rawValue(state) << record.bundleID
                << Log::privateArg(record.label.value_or(QString()));
        if (const auto next = m_next.lock())
            next->loopDidTransition(record, state);
    }
    void loopWasDismissed(const QString& id) override {
        if (Log::verbose())
            qCInfo(lcApp).noquote() << "loop" << id << "dismissed";
        if (const auto next = m_next.lock())
            next->loopWasDismissed(id);
    }

private:
    std::weak_ptr<NudgeEngine> m_next;
};

} // namespace

AppModel::AppModel(AppModelDependencies dependencies, QObject* parent)
    : QObject(parent)
    , m_dependencies(std::move(dependencies))
    , m_permissions(m_dependencies.accessibilitySwitch, m_dependencies.settings)
    , m_lastKnownAccessibility(m_permissions.accessibilityGranted())
    , m_focusTracker(m_dependencies.workspace, m_dependencies.ownPid, m_dependencies.now)
    , m_dropdownNotifier(std::make_shared<DropdownNotifier>(m_dependencies.settings))
    , m_returnFlow(returnFlowDependencies()) {
    const UserDefaults& settings = m_dependencies.settings;
    m_nudgeEngine =
        std::make_shared<NudgeEngine>(NudgeEngine::profileFromSetting(settings.stringValue(
                                          QStringLiteral("settings.sensoryProfile"))),
                                      NudgeEngine::Timing::fromEnvironment(), m_dropdownNotifier,
                                      NudgeEngine::Scheduler{}, m_dependencies.now);

    m_downloadsSetting =
        settings.boolValue(QStringLiteral("settings.downloadsDetector")).value_or(false);
    QObject::connect(&m_dependencies.settings, &UserDefaults::changed, this,
                     &AppModel::settingsChanged);

    if (!m_dependencies.capture) {
        openStoreToRead();
        return;
    }
    openStore();
    if (m_store) {
        buildStateMachine();
        buildDetectors();
        connectFocusEvents();
        observeLoops();
    }
    m_focusTracker.start(); // also without a store: its events then go nowhere
    if (m_stateMachine)
        m_stateMachine->reconcileOnLaunch(frontmostBundleID(), m_dependencies.now());
    registerLoginItemOnFirstRun();
    observeAwayAndReturn();
}

AppModel::~AppModel() {
    m_focusTracker.stop();
    m_loopsObservation.cancel();
}

void AppModel::openStoreToRead() {
    try {
        m_store = m_dependencies.openStore();
        m_loops = m_store->openLoopsGroupedByState(m_dependencies.now());
    } catch (const std::exception& error) {
        qCCritical(lcApp).noquote() << "Failed to open context store:" << error.what();
    }
}

void AppModel::openStore() {
    try {
        m_store = m_dependencies.openStore();
    } catch (const std::exception& error) {
        qCCritical(lcApp).noquote() << "Failed to open context store:" << error.what();
        return;
    }
    if (!m_dependencies.defaultExclusionsPath) {
        qCCritical(lcApp) << "default-exclusions.json missing from bundle; no defaults seeded";
        return;
    }
    try {
        // Seeding reloads the cached privacy rules itself.
        m_store->seedDefaultExclusions(*m_dependencies.defaultExclusionsPath);
    } catch (const std::exception& error) {
        qCCritical(lcApp).noquote() << "Failed to seed default exclusions:" << error.what();
    }
}

void AppModel::buildStateMachine() {
    const UserDefaults& settings = m_dependencies.settings;
    const auto configuration = StateMachineConfiguration::fromSettings(
        settings.integerValue(QStringLiteral("settings.staleAfterMinutes")),
        settings.integerValue(QStringLiteral("settings.engagementSeconds")));
    m_timer = m_dependencies.timer ? std::move(m_dependencies.timer)
                                   : std::make_unique<MainQueueTickTimer>();
    m_stateMachine =
        std::make_shared<StateMachine>(*m_store, configuration, m_timer.get(), m_dependencies.now);
    // The machine holds its observer weakly; the model keeps it.
    m_transitionObserver = std::make_shared<TransitionLog>(m_nudgeEngine);
    m_stateMachine->setObserver(m_transitionObserver);

    ContextStore* store = m_store.get();
    m_focusTracker.mayReadTitle = [store](const QString& bundleID) {
        return !store->privacyRules().excludesBundleID(bundleID);
    };
}

void AppModel::buildDetectors() {
    ContextStore& store = *m_store;
    std::weak_ptr<StateMachine> machine = m_stateMachine;
    const UserDefaults& settings = m_dependencies.settings;
    m_topics = std::make_unique<TopicSummarizer>(
        m_dependencies.languageModel,
        [&store](const QString& id, const std::optional<QString>& topic) {
            try {
                store.setTopic(id, topic);
            } catch (const std::exception& error) {
                qCWarning(lcStore).noquote() << "Could not keep a loop's topic:" << error.what();
            }
        });
    TopicSummarizer* topics = m_topics.get();
    m_registry = std::make_unique<DetectorRegistry>(
        [machine, &store, &settings, topics](const QString& kind) {
            return DetectorSignalBinding::signalsFor(
                kind, machine, store, settings, [topics](const QString& id, const QString& prompt) {
                    topics->request(id, prompt);
                });
        },
        DetectorSignalBinding::environment(store, m_dependencies.workspace));
    if (m_dependencies.makeDetectors) {
        for (auto& detector : m_dependencies.makeDetectors())
            m_registry->registerDetector(std::move(detector));
    }
    if (m_downloadsSetting || qEnvironmentVariableIsSet("KESTRUNE_DOWNLOADS_DIR"))
        applyDownloadsDetection(true);
    m_summariesSetting = smartSummariesOn();
    if (m_summariesSetting)
        m_topics->lookForModel();
    m_nudgeEngine->setFreshLookup([&store](const QString& id) -> std::optional<ContextRecord> {
        try {
            return store.context(id);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    });
}

void AppModel::connectFocusEvents() {
    m_focusTracker.onEvent = [this](const FocusEvent& event) {
        if (Log::verbose())
            qCInfo(lcFocus).noquote() << FocusEvent::rawValue(event.kind) << event.bundleID
                                      << Log::privateArg(event.windowTitle.value_or(QString()));
        m_stateMachine->ingest(event);
        std::optional<ContextRecord> loop;
        try {
            loop = m_store->openContext(event.bundleID);
        } catch (const std::exception&) {
        }
        m_registry->dispatch(event, loop);
        attachActiveTabURL(event);
    };
}

void AppModel::observeLoops() {
    m_loopsObservation = m_store->observeOpenLoops([this](const GroupedLoops& loops) {
        m_loops = loops;
        runChangeHandlers();
    });
    m_retention = std::make_unique<Retention>(*m_store, kRetentionInterval, m_dependencies.now);
    m_retention->start();
}

void AppModel::registerLoginItemOnFirstRun() {
    const QString configured = QStringLiteral("settings.launchAtLogin.configured");
    if (m_dependencies.settings.boolValue(configured) == true)
        return;
    m_dependencies.settings.setBool(configured, true);
    try {
        m_dependencies.loginItem.registerMainApplication();
    } catch (const std::exception&) {
        // the user can still add it by hand
    }
}

void AppModel::observeAwayAndReturn() {
    QObject::connect(&m_dependencies.sessionMonitor, &SessionMonitor::away, this, [this] {
        if (!m_awaySince)
            m_awaySince = m_dependencies.now();
    });
    QObject::connect(&m_dependencies.sessionMonitor, &SessionMonitor::returned, this, [this] {
        if (!m_awaySince)
            return;
        const double away = std::chrono::duration<double>(m_dependencies.now() -
                                                          *std::exchange(m_awaySince, std::nullopt))
                                .count();
        if (away < kAwayThreshold)
            return;
        refresh();
        m_nudgeEngine->presentReentrySummary(m_loops.ready, m_loops.openCount());
    });
}

void AppModel::attachActiveTabURL(const FocusEvent& event) {
    if (event.kind != FocusEvent::Kind::FocusGained || !m_dependencies.isBrowser ||
        !m_dependencies.isBrowser(event.bundleID) || !m_dependencies.activeTabReader ||
        !m_dependencies.settings.boolValue(QStringLiteral("settings.urlReceipts")).value_or(false))
        return;
    const std::optional<AppModelDependencies::Tab> tab =
        m_dependencies.activeTabReader(event.bundleID);
    if (!tab)
        return;
    std::optional<ContextRecord> loop;
    try {
        loop = m_store->openContext(event.bundleID);
    } catch (const std::exception&) {
    }
    if (!loop)
        return;
    const TimePoint now = m_dependencies.now();
    try {
        // The store redacts the address and applies the never-track rules before writing.
        if (ReturnActionSanitizer::redactedURLString(tab->url, true))
            m_store->attachDocumentRef(loop->id, QStringLiteral("url"), tab->url, tab->title, now);
        m_store->upsertReturnActions(
            loop->id, {{ReturnActionKind::OpenURL, tab->url, QStringLiteral("Open page")}},
            QStringLiteral("ax"), now);
    } catch (const std::exception&) {
    }
}

// Changes in the settings file take effect at once.
void AppModel::settingsChanged() {
    const UserDefaults& settings = m_dependencies.settings;
    const auto profile = NudgeEngine::profileFromSetting(
        settings.stringValue(QStringLiteral("settings.sensoryProfile")));
    if (profile != m_nudgeEngine->currentProfile())
        m_nudgeEngine->setProfile(profile);
    const bool downloads =
        settings.boolValue(QStringLiteral("settings.downloadsDetector")).value_or(false);
    if (downloads != std::exchange(m_downloadsSetting, downloads))
        applyDownloadsDetection(downloads);
    // Switched on, or the model's settings changed (which forgets the model found).
    const bool summaries = smartSummariesOn();
    if (summaries && m_topics &&
        (!std::exchange(m_summariesSetting, summaries) || !m_topics->availability()))
        m_topics->lookForModel();
    m_summariesSetting = summaries;
}

bool AppModel::smartSummariesOn() const {
    return m_dependencies.settings.boolValue(QStringLiteral("settings.smartSummaries"))
        .value_or(false);
}

void AppModel::applyDownloadsDetection(bool enabled) {
    // The launch-time detector counts as running too: two would report every download twice.
    if (!enabled || m_liveDownloadsRegistered || !m_registry ||
        !m_dependencies.makeDownloadsDetector)
        return;
    if (auto detector = m_dependencies.makeDownloadsDetector()) {
        m_registry->registerDetector(std::move(detector));
        m_liveDownloadsRegistered = true;
    }
}

QString AppModel::prepareBrowserExtension() {
    if (!m_dependencies.prepareBrowserExtension)
        return QStringLiteral(
            "The bundled companion is missing. Reinstall Tessarine and try again.");
    return m_dependencies.prepareBrowserExtension();
}

void AppModel::observeChanges(std::function<void()> handler) {
    m_changeHandlers.push_back(std::move(handler));
}

void AppModel::runChangeHandlers() {
    for (const auto& handler : m_changeHandlers)
        handler();
    Q_EMIT loopsChanged();
}

void AppModel::refresh() {
    if (m_store) {
        try {
            m_loops = m_store->openLoopsGroupedByState(m_dependencies.now());
            runChangeHandlers();
        } catch (const std::exception&) {
            // the lists stay as they were
        }
    }
    m_permissions.refresh();
}

void AppModel::setPendingApproval(const QString& contextID, bool pending) {
    const bool changed =
        pending ? !m_pendingApprovals.contains(contextID) : m_pendingApprovals.remove(contextID);
    if (pending)
        m_pendingApprovals.insert(contextID);
    if (changed)
        Q_EMIT pendingApprovalsChanged();
}

void AppModel::togglePause() {
    m_isPaused = !m_isPaused;
    const TimePoint now = m_dependencies.now();
    if (m_isPaused) {
        m_focusTracker.stop();
        if (m_registry)
            m_registry->pauseAll();
    } else {
        m_focusTracker.start();
        if (m_registry)
            m_registry->resumeAll();
        if (m_stateMachine)
            m_stateMachine->reconcileOnLaunch(frontmostBundleID(), now);
    }
    if (m_store) {
        try {
            m_store->recordAudit(AuditLog::rawValue(m_isPaused ? AuditLog::Action::CapturePaused
                                                               : AuditLog::Action::CaptureResumed),
                                 std::nullopt, now);
        } catch (const std::exception&) {
        }
    }
    Q_EMIT pausedChanged(m_isPaused);
    runChangeHandlers();
}

std::optional<QString> AppModel::frontmostBundleID() const {
    const std::optional<RunningApplication> front = m_dependencies.workspace.frontmostApplication();
    return front ? front->bundleID : std::nullopt;
}

ReturnFlow::Dependencies AppModel::returnFlowDependencies() {
    return ReturnFlow::Dependencies{
        .workspace = m_dependencies.workspace,
        .settings = m_dependencies.settings,
        .store = [this] { return m_store.get(); },
        .stateMachine = [this] { return m_stateMachine.get(); },
        .focusTab =
            [this](const QString& contextID, const QString& url) {
                auto* browser = m_registry ? dynamic_cast<BrowserDetector*>(
                                                 m_registry->detector(QStringLiteral("browser")))
                                           : nullptr;
                return browser && browser->focusTab(contextID, url);
            },
        .isBrowser = m_dependencies.isBrowser,
        // The folder the downloads detector watches.
        .downloadsFolder = [] { return DownloadsDetector::resolveDirectory(std::nullopt); },
        .now = m_dependencies.now,
    };
}

bool AppModel::open(const ContextRecord& loop) {
    return m_returnFlow.open(loop);
}

bool AppModel::performReturnAction(const ReturnActionRecord& action) {
    return m_returnFlow.performReturnAction(action);
}

bool AppModel::setLaunchAtLogin(bool enabled) {
    try {
        if (enabled)
            m_dependencies.loginItem.registerMainApplication();
        else
            m_dependencies.loginItem.unregisterMainApplication();
        return true;
    } catch (const std::exception& error) {
        qCWarning(lcApp).noquote() << QStringLiteral("launch-at-login change failed: %1")
                                          .arg(QString::fromUtf8(error.what()));
        return false;
    }
}

void AppModel::refreshSettingsData() {
    if (!m_store)
        return;
    const TimePoint now = m_dependencies.now();
    m_permissions.refresh();
    const bool granted = m_permissions.accessibilityGranted();
    m_settingsData.accessibilityGranted = granted;
    try {
        if (m_lastKnownAccessibility != granted) {
            m_lastKnownAccessibility = granted;
            m_store->recordAudit(AuditLog::rawValue(granted
                                                        ? AuditLog::Action::AccessibilityGranted
                                                        : AuditLog::Action::AccessibilityRevoked),
                                 std::nullopt, now);
        }
        m_settingsData.exclusionRules = m_store->privacyRuleRecords();
        m_settingsData.retentionDays = m_store->retentionSettings().ttlDays;
        m_settingsData.auditEntries = m_store->auditEntries(50);
    } catch (const std::exception&) {
        // the lists stay as they were
    }
}

bool AppModel::launchesAtLogin() const {
    return m_dependencies.loginItem.isRegistered();
}

bool AppModel::respond(Response response, const ContextRecord& loop) {
    if (m_remoteResponder && m_remoteResponder(response, loop.bundleID)) {
        setPendingApproval(loop.id, false);
        refresh();
        return true;
    }
    return open(loop);
}

std::optional<CapsuleRecord> AppModel::capsule(const QString& contextID) {
    if (!m_store)
        return std::nullopt;
    try {
        return m_store->capsule(contextID);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void AppModel::snooze(const ContextRecord& loop, double seconds) {
    if (m_stateMachine)
        m_stateMachine->userSnooze(loop.id, seconds, m_dependencies.now());
    refresh();
}

void AppModel::snoozeUntilTomorrow(const ContextRecord& loop) {
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(toMillis(m_dependencies.now()));
    snooze(loop, secondsUntilTomorrowMorning(now.toLocalTime()));
}

double AppModel::secondsUntilTomorrowMorning(const QDateTime& now) {
    // Nine hours after tomorrow's start (a day that starts at 01:00 after a clock change
    // still has a start); never less than a minute ahead.
    const QDateTime start = now.date().addDays(1).startOfDay(now.timeZone());
    const QDateTime target = start.isValid() ? start.addSecs(9 * 3600) : now.addDays(1);
    const double seconds = static_cast<double>(now.msecsTo(target)) / 1000.0;
    return std::max(seconds, 60.0);
}
