#include "app/WindowRaiser.h"

#include "app/WindowMatcher.h"
#include "detectors/TerminalDetector.h"
#include "model/TextTrim.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"

#include <algorithm>

WindowRaiser::WindowRaiser(Workspace& workspace)
    : m_workspace(workspace) {}

bool WindowRaiser::raiseWindow(const QString& bundleID,
                               const std::optional<QString>& identity) const {
    const std::optional<RunningApplication> application = m_workspace.application(bundleID);
    if (!application)
        return false;
    const QList<WindowInfo> windows = m_workspace.windows(application->pid);
    if (windows.isEmpty())
        return false;
    QList<std::optional<QString>> titles;
    titles.reserve(windows.size());
    for (const WindowInfo& window : windows)
        titles.append(window.title);
    const std::optional<qsizetype> match = WindowMatcher::index(titles, identity);
    if (!match)
        return false;
    return m_workspace.raiseWindow(windows.at(*match).id);
}

TerminalWindowRaiser::TerminalWindowRaiser(Workspace& workspace, const UserDefaults& settings)
    : m_workspace(workspace)
    , m_settings(settings) {}

QStringList TerminalWindowRaiser::hostBundleIDs() const {
    QStringList hosts = {QStringLiteral("com.googlecode.iterm2"),
                         QStringLiteral("com.apple.Terminal"),
                         QStringLiteral("dev.warp.Warp-Stable"),
                         QStringLiteral("net.kovidgoyal.kitty"),
                         QStringLiteral("com.github.wez.wezterm"),
                         QStringLiteral("co.zeit.hyper"),
                         QStringLiteral("io.alacritty"),
                         QStringLiteral("com.microsoft.VSCode"),
                         QStringLiteral("com.todesktop.230313mzl4w4u92"),
                         QStringLiteral("com.apple.dt.Xcode")};
    // Every terminal the terminal detector follows, Linux ones included, in a stable order.
    QStringList terminals = TerminalDetector::terminalBundleIDs().values();
    std::sort(terminals.begin(), terminals.end());
    const QStringList added =
        m_settings.stringListValue(QStringLiteral("settings.terminalHostBundleIDs"))
            .value_or(QStringList());
    for (const QStringList& more : {terminals, added}) {
        for (const QString& host : more) {
            if (!hosts.contains(host))
                hosts.append(host);
        }
    }
    return hosts;
}

bool TerminalWindowRaiser::raise(const std::optional<QString>& identity) const {
    if (!identity || TextTrim::spacesAndTabs(*identity).isEmpty())
        return false;
    const WindowRaiser raiser(m_workspace);
    for (const QString& host : hostBundleIDs()) {
        if (m_workspace.application(host) && raiser.raiseWindow(host, identity))
            return true;
    }
    return false;
}
