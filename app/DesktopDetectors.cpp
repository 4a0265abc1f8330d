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

DesktopDetectors::DesktopDetectors(Workspace& workspace, UserDefaults& settings)
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
      }) {}

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
    // The desktop app's controls are read through accessibility, which is not available
    // yet: turns are followed through the metadata files alone.
    detectors.push_back(std::make_unique<ClaudeDesktopSessionDetector>(
        ClaudeDesktopSessionDetector::defaultRootDir(), m_directoryWatcher,
        ClaudeDesktopSessionDetector::Options{}));
    // No accessibility chat detector reads the covered apps yet, so they stay here.
    detectors.push_back(std::make_unique<NativeAIDetector>(
        NativeAIDetector::resolvedBundleIDs(m_settings), NativeAIDetector::Tuning{}, running,
        cpuTime, [] { return false; }));
    detectors.push_back(
        std::make_unique<ComposeDetector>(ComposeDetector::resolvedBundleIDs(m_settings)));
    return detectors;
}

std::unique_ptr<Detector> DesktopDetectors::makeDownloads() {
    return std::make_unique<DownloadsDetector>(std::nullopt, m_directoryWatcher);
}
