#pragma once

#include "detectors/AXChatDetector.h"
#include "detectors/CompanionSetup.h"
#include "detectors/CpuSampling.h"
#include "detectors/Detector.h"
#include "detectors/HostManifestInstaller.h"
#include "platform/WorkspaceWindowAccessibility.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/AtspiBus.h"
#include "platform/linux/AtspiControls.h"
#include "platform/linux/AtspiReader.h"
#include "platform/linux/InotifyDirectoryWatcher.h"
#include "platform/linux/LinuxDesktopServices.h"
#include "platform/linux/ProcProcessInfo.h"
#include "platform/linux/ProcTerminalJobs.h"
#include "platform/linux/UnixDatagramMessagePort.h"

#include <memory>
#include <optional>
#include <vector>

class UserDefaults;
class Workspace;

// The detectors of the desktop application, in registration order, and the platform pieces
// they share: the directory watcher, the message port, window reads, CPU times, the host
// manifests and the companion's preparation.
class DesktopDetectors {
public:
    // `accessibilityGranted`: whether the user turned accessibility on (other applications'
    // controls are read only then).
    DesktopDetectors(
        Workspace& workspace, UserDefaults& settings,
        std::function<bool()> accessibilityGranted = [] { return false; });

    // Shipped data: beside the executable in the build tree, in share/tessarine when
    // installed.
    static std::optional<QString> resourcesDirectory();

    std::vector<std::unique_ptr<Detector>> make();
    std::unique_ptr<Detector> makeDownloads();
    CompanionSetup& companion() { return m_companion; }
    // Where the chat detector reports approval prompts (set before the detectors are made).
    AXChatDetector::PendingChange onPendingApproval;
    // Answers a chat's approval prompt with its own button; false when it cannot.
    bool respond(const RemoteApproval::Response& response, const QString& bundleID);
    // The address and window title of a browser's tab in front, read through accessibility
    // (only with the switch on).
    std::optional<AtspiControls::Tab> activeTab(const QString& bundleID);
    // The accessibility reads, for diagnostics.
    AtspiControls& controls() { return m_controls; }

private:
    std::unique_ptr<Detector> makeChatDetector(const CpuSampling::RunningPID& running);

    Workspace& m_workspace;
    UserDefaults& m_settings;
    InotifyDirectoryWatcher m_directoryWatcher;
    UnixDatagramMessagePort m_messagePort;
    WorkspaceWindowAccessibility m_windowAccessibility;
    ProcProcessInfo m_processInfo;
    ProcTerminalJobs m_terminalJobs;
    HostManifestInstaller m_manifests;
    LinuxDesktopServices m_desktop;
    CompanionSetup m_companion;
    std::function<bool()> m_accessibilityGranted;
    AtspiBus m_atspiBus;
    AtspiAccessibility m_accessibility;
    AtspiControls m_controls;
    AtspiReader m_reader;             // the chat detector's readings, off the main thread
    AXChatDetector* m_chat = nullptr; // owned by the registry, while the application runs
};
