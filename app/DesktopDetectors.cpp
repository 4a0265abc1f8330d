#include "app/DesktopDetectors.h"

#include "detectors/BrowserDetector.h"
#include "detectors/ClaudeDesktopSessionDetector.h"
#include "detectors/ComposeDetector.h"
#include "detectors/DownloadsDetector.h"
#include "detectors/NativeAIDetector.h"
#include "detectors/SessionLogDetector.h"
#include "detectors/TerminalDetector.h"
#include "detectors/WatchDetector.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

std::optional<QString> DesktopDetectors::resourcesDirectory() {
    const QDir application(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {application.filePath(QStringLiteral("resources")),
          application.filePath(QStringLiteral("../../share/tessarine"))}) {
        if (QFileInfo(candidate).isDir())
            return QDir::cleanPath(candidate);
    }
    return std::nullopt;
}

DesktopDetectors::DesktopDetectors(Workspace& workspace, UserDefaults& settings,
                                   std::function<bool()> accessibilityGranted)
    : m_workspace(workspace)
    , m_settings(settings)
    , m_windowAccessibility(workspace)
    // The host sits beside the application, installed or in the build tree.
    , m_manifests(
          QCoreApplication::applicationDirPath() + QStringLiteral("/kestrune-native-host"),
          [&settings] { return HostManifestInstaller::extensionID(settings); },
          HostManifestInstaller::linuxFolders(
              QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation),
              QDir::homePath()))
    , m_companion({
          .resourcesDir = resourcesDirectory(),
          .dataHome = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
          .settings = settings,
          .installManifests = [this] { m_manifests.installAll(); },
          .revealInFileViewer = [this](const QString& path) { m_desktop.revealInFileViewer(path); },
          .openExtensionsPage = [this] { return m_desktop.openExtensionsPage(); },
          .findFirefox = &LinuxDesktopServices::installedFirefox,
      })
    , m_accessibilityGranted(std::move(accessibilityGranted))
    , m_accessibility(m_atspiBus, [this] { return m_accessibilityGranted(); })
    , m_controls(m_atspiBus) {}

std::optional<AtspiControls::Tab> DesktopDetectors::activeTab(const QString& bundleID) {
    const std::optional<qint64> pid = m_workspace.firstPID(bundleID);
    if (!pid || !m_accessibilityGranted())
        return std::nullopt;
    return m_controls.activeTab(*pid);
}

bool DesktopDetectors::respond(const RemoteApproval::Response& response, const QString& bundleID) {
    return m_chat && m_chat->respond(response, bundleID);
}

std::unique_ptr<Detector>
DesktopDetectors::makeChatDetector(const CpuSampling::RunningPID& running) {
    AXChatDetector::Dependencies chat;
    chat.runningPID = running;
    chat.trusted = [this] { return m_accessibilityGranted(); };
    chat.readControls = [this](qint64 pid,
                               std::function<void(const AXChatDetector::Controls&)> deliver) {
        m_reader.read(pid, [deliver = std::move(deliver)](const AtspiControls::Reading& reading) {
            AXChatDetector::Controls controls{reading.labels, {}};
            for (const AtspiControls::TextNode& field : reading.fields)
                controls.fields.append({field.value, field.editable, field.focused});
            deliver(controls);
        });
    };
    chat.observe = [this](qint64 pid, std::function<void()> changed) {
        return m_accessibility.createObserver(
            pid, [changed = std::move(changed)](const AXElement&, const QString&) { changed(); });
    };
    chat.press = [this](qint64 pid, const std::function<bool(const QString&)>& choose) {
        for (const AtspiControls::Button& button : m_controls.buttons(pid)) {
            if (choose(button.label))
                return m_accessibility.performAction(
                    AXElement::remote(pid, button.element.service, button.element.path),
                    QStringLiteral("AXPress"));
        }
        return false;
    };
    auto detector = std::make_unique<AXChatDetector>(AXChatDetector::resolvedBundleIDs(m_settings),
                                                     AXChatDetector::resolvedPatterns(m_settings),
                                                     m_settings, std::move(chat));
    // Installed before registration; the coordinator's handler is read at each report.
    detector->onPendingChange = [this](const QString& contextID,
                                       const std::optional<RemoteApproval::Pending>& pending) {
        if (onPendingApproval)
            onPendingApproval(contextID, pending);
    };
    m_chat = detector.get();
    return detector;
}

std::vector<std::unique_ptr<Detector>> DesktopDetectors::make() {
    const CpuSampling::RunningPID running = [this](const QString& id) {
        return m_workspace.firstPID(id);
    };
    const CpuSampling::CpuProvider cpuTime = [this](qint64 pid) {
        return m_processInfo.cpuTimeNanos(pid);
    };
    std::vector<std::unique_ptr<Detector>> detectors;
    BrowserDetector::Options browser;
    browser.isURLReceiptsEnabled = BrowserDetector::urlReceiptsSetting(m_settings);
    browser.installManifests = [this] { m_manifests.installAll(); };
    detectors.push_back(std::make_unique<BrowserDetector>(m_messagePort, std::move(browser)));
    detectors.push_back(
        std::make_unique<TerminalDetector>(m_windowAccessibility, m_workspace, &m_terminalJobs));
    detectors.push_back(std::make_unique<WatchDetector>(WatchDetector::Tuning{}, running, cpuTime));
    detectors.push_back(std::make_unique<SessionLogDetector>(
        SessionLogDetector::codex(QStringLiteral("com.openai.codex"),
                                  SessionLogDetector::defaultSessionsDir()),
        m_directoryWatcher));
    detectors.push_back(std::make_unique<SessionLogDetector>(
        SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"),
                                       SessionLogDetector::defaultProjectsDir()),
        m_directoryWatcher));
    // The desktop app's status labels are read through accessibility when it is on.
    ClaudeDesktopSessionDetector::Options claudeDesktop;
    claudeDesktop.controlLabels = [this, running] {
        const std::optional<qint64> pid = running(QStringLiteral("com.anthropic.claudefordesktop"));
        if (!pid || !m_accessibilityGranted())
            return QStringList();
        return m_controls.read(*pid).labels;
    };
    detectors.push_back(std::make_unique<ClaudeDesktopSessionDetector>(
        ClaudeDesktopSessionDetector::defaultRootDir(), m_directoryWatcher,
        std::move(claudeDesktop)));
    detectors.push_back(makeChatDetector(running));
    // The chat applications the accessibility chat detector reads are left to it.
    detectors.push_back(std::make_unique<NativeAIDetector>(
        NativeAIDetector::resolvedBundleIDs(m_settings), NativeAIDetector::Tuning{}, running,
        cpuTime, [this] { return m_accessibilityGranted(); }));
    detectors.push_back(
        std::make_unique<ComposeDetector>(ComposeDetector::resolvedBundleIDs(m_settings)));
    return detectors;
}

std::unique_ptr<Detector> DesktopDetectors::makeDownloads() {
    return std::make_unique<DownloadsDetector>(std::nullopt, m_directoryWatcher);
}
