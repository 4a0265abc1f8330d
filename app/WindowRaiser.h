#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class UserDefaults;
class Workspace;

// Brings back the window of a loop: among the windows of the running application (all its
// processes), the one whose title matches the loop's identity is raised — moved to the
// user's desktop, un-minimised and activated by the window manager.
class WindowRaiser {
public:
    explicit WindowRaiser(Workspace& workspace);

    // True when a matching window was raised.
    bool raiseWindow(const QString& bundleID, const std::optional<QString>& identity) const;

private:
    Workspace& m_workspace;
};

// The same across the terminal-like applications a loop's work may run in (a coding agent in
// a terminal or an editor's terminal): the built-in hosts, then those the user added under
// "settings.terminalHostBundleIDs" (read at every call).
class TerminalWindowRaiser {
public:
    TerminalWindowRaiser(Workspace& workspace, const UserDefaults& settings);

    QStringList hostBundleIDs() const;
    // False for no identity, or one of blanks only.
    bool raise(const std::optional<QString>& identity) const;

private:
    Workspace& m_workspace;
    const UserDefaults& m_settings;
};
