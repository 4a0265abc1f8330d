#pragma once

#include "app/Permissions.h"
#include "app/ReturnFlow.h"
#include "app/SetupNotice.h"
#include "app/TopicSummarizer.h"
#include "detectors/DetectorRegistry.h"
#include "engine/FocusTracker.h"
#include "engine/NudgeEngine.h"
#include "engine/Presenter.h"
#include "engine/StateMachine.h"
#include "model/GroupedLoops.h"
#include "store/ContextStore.h"
#include "store/LoopObservation.h"
#include "store/Retention.h"

#include <QDateTime>
#include <QObject>
#include <QSet>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class AccessibilitySwitch;
class LanguageModel;
class LoginItem;
class SessionMonitor;
class UserDefaults;
class Workspace;

// What the application model is built from: the platform, the settings and the factories
// of what may fail or differ by platform.
struct AppModelDependencies {
    Workspace& workspace;
    UserDefaults& settings;
    SessionMonitor& sessionMonitor;
    LoginItem& loginItem;
    // Opens the context store; throws when it cannot.
    std::function<std::unique_ptr<ContextStore>()> openStore;
    // The shipped default exclusions, when the application has them.
    std::optional<QString> defaultExclusionsPath;
    // The detectors to register, in registration order.
    std::function<std::vector<std::unique_ptr<Detector>>()> makeDetectors;
    // Installs the browser companion for the user; answers with a status line.
    std::function<QString()> prepareBrowserExtension;
    // The downloads detector, registered last when the user wants it.
    std::function<std::unique_ptr<Detector>()> makeDownloadsDetector;
    // Reads a browser's active tab (address, title); none until a reader exists.
    struct Tab {
        QString url;
        std::optional<QString> title;
    };
    std::function<std::optional<Tab>(const QString& bundleID)> activeTabReader;
    std::function<bool(const QString& bundleID)> isBrowser;
    qint64 ownPid = 0;
    std::function<TimePoint()> now = [] { return std::chrono::system_clock::now(); };
    // The state machine's timer; a MainQueueTickTimer when none is given.
    std::unique_ptr<TickTimer> timer;
    // The desktop's accessibility switch; none where the desktop has no accessibility bus.
    AccessibilitySwitch* accessibilitySwitch = nullptr;
    // The language model that names chat loops; none where there is none (the prompt's first
    // line names them then).
    LanguageModel* languageModel = nullptr;
    // False for a model that only reads the loops (snapshots, state dumps): no seeding, no
    // detectors, no focus tracking, no reconciliation, retention, login item or away handling.
    bool capture = true;
};

// Owns and wires the whole engine: store, state machine, nudge engine, detectors, focus
// tracker, the live list of loops, retention, pause and resume, away and return.
// Main thread only.
class AppModel : public QObject {
    Q_OBJECT
public:
    static constexpr double kRetentionInterval = 21600;
    static constexpr double kAwayThreshold = 300;

    explicit AppModel(AppModelDependencies dependencies, QObject* parent = nullptr);
    ~AppModel() override;

    const GroupedLoops& loops() const { return m_loops; }
    bool isPaused() const { return m_isPaused; }
    // Runs after every change of the loops or of the pause state.
    void observeChanges(std::function<void()> handler);
    // Re-reads the loops (running the change handlers) and the accessibility permission.
    void refresh();
    void togglePause();
    Permissions& permissions() { return m_permissions; }
    // Why window switches cannot be followed here, when they cannot.
    SetupNotice& trackingNotice() { return m_trackingNotice; }
    // How to open the dropdown from the keyboard where the desktop gives no global shortcut.
    SetupNotice& shortcutNotice() { return m_shortcutNotice; }

    // Approval prompts of chat applications waiting for an answer, by loop id (filled by the
    // chat detector that reads them).
    bool hasPendingApproval(const QString& contextID) const {
        return m_pendingApprovals.contains(contextID);
    }
    void setPendingApproval(const QString& contextID, bool pending);
    // The downloads switch: on registers a downloads detector unless one runs; off leaves a
    // running one alone until the next launch.
    void applyDownloadsDetection(bool enabled);
    // The settings screen's companion command.
    QString prepareBrowserExtension();

    // User commands. Take the user back to a loop; true when some way back worked.
    bool open(const ContextRecord& loop);
    bool performReturnAction(const ReturnActionRecord& action);
    // Answers an AI application's approval prompt by pressing its own button (the remote
    // responder); when that cannot be done, the user is taken to the application to answer
    // there.
    enum class Response { Approve, Deny };
    bool respond(Response response, const ContextRecord& loop);
    using RemoteResponder = std::function<bool(Response response, const QString& bundleID)>;
    void setRemoteResponder(RemoteResponder responder) { m_remoteResponder = std::move(responder); }
    // What the settings window shows, reloaded by `refreshSettingsData` (only with a store).
    struct SettingsData {
        bool accessibilityGranted = false; // the desktop's accessibility switch
        QList<PrivacyRuleRecord> exclusionRules;
        qint64 retentionDays = 7;
        QList<AuditEntry> auditEntries; // the 50 most recent
    };
    const SettingsData& settingsData() const { return m_settingsData; }
    // Reloads it; a change of the window-reading permission is written to the audit log.
    void refreshSettingsData();

    // The settings' launch-at-login switch: registers or unregisters the login item (not a
    // stored setting); a failure is logged and answered false.
    bool setLaunchAtLogin(bool enabled);
    bool launchesAtLogin() const;
    // One loop's detail (its signal, return actions, document); none without a store.
    std::optional<CapsuleRecord> capsule(const QString& contextID);
    void snooze(const ContextRecord& loop, double seconds);
    void snoozeUntilTomorrow(const ContextRecord& loop);
    // Seconds from `now` to nine hours after the start of the next calendar day (09:00 on an
    // ordinary day), at least 60.
    static double secondsUntilTomorrowMorning(const QDateTime& now);

    ContextStore* store() const { return m_store.get(); }
    StateMachine* stateMachine() const { return m_stateMachine.get(); }
    NudgeEngine& nudgeEngine() const { return *m_nudgeEngine; }
    DropdownNotifier& dropdownNotifier() const { return *m_dropdownNotifier; }
    DetectorRegistry* detectorRegistry() const { return m_registry.get(); }
    FocusTracker& focusTracker() { return m_focusTracker; }
    // Names chat loops by their topic; none without a store.
    TopicSummarizer* topicSummarizer() const { return m_topics.get(); }

Q_SIGNALS:
    void loopsChanged();
    void pausedChanged(bool paused);
    void pendingApprovalsChanged();

private:
    void openStore();
    void openStoreToRead();
    void buildStateMachine();
    void buildDetectors();
    void connectFocusEvents();
    void observeLoops();
    void registerLoginItemOnFirstRun();
    void observeAwayAndReturn();
    void attachActiveTabURL(const FocusEvent& event);
    void runChangeHandlers();
    void settingsChanged();
    bool smartSummariesOn() const;
    std::optional<QString> frontmostBundleID() const;
    ReturnFlow::Dependencies returnFlowDependencies();

    AppModelDependencies m_dependencies;
    GroupedLoops m_loops;
    bool m_isPaused = false;
    QSet<QString> m_pendingApprovals;
    RemoteResponder m_remoteResponder;
    Permissions m_permissions;
    SetupNotice m_trackingNotice;
    SetupNotice m_shortcutNotice;
    bool m_lastKnownAccessibility; // the permission as last audited (at launch: as read)
    std::vector<std::function<void()>> m_changeHandlers;
    std::unique_ptr<ContextStore> m_store;
    std::unique_ptr<TickTimer> m_timer;
    std::shared_ptr<StateMachine> m_stateMachine;
    FocusTracker m_focusTracker;
    std::shared_ptr<DropdownNotifier> m_dropdownNotifier;
    std::shared_ptr<NudgeEngine> m_nudgeEngine;
    std::shared_ptr<TransitionObserver> m_transitionObserver;
    std::unique_ptr<Retention> m_retention;
    std::unique_ptr<TopicSummarizer> m_topics; // before the detectors that ask it
    std::unique_ptr<DetectorRegistry> m_registry;
    std::optional<TimePoint> m_awaySince;
    bool m_liveDownloadsRegistered = false;
    bool m_downloadsSetting = false;
    bool m_summariesSetting = false;
    LoopObservation m_loopsObservation;
    ReturnFlow m_returnFlow;
    SettingsData m_settingsData;
};
