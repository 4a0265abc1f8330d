#pragma once

#include "detectors/CompanionSetup.h"
#include "detectors/Detector.h"
#include "detectors/HostManifestInstaller.h"
#include "platform/WorkspaceWindowAccessibility.h"
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
    DesktopDetectors(Workspace& workspace, UserDefaults& settings);

    // Shipped data: beside the executable in the build tree, in share/tessarine when
    // installed.
    static std::optional<QString> resourcesDirectory();

    std::vector<std::unique_ptr<Detector>> make();
    std::unique_ptr<Detector> makeDownloads();
    CompanionSetup& companion() { return m_companion; }

private:
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
};
