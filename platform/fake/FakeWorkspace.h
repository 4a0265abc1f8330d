#pragma once

#include "platform/WindowObservers.h"
#include "platform/Workspace.h"

#include <QHash>
#include <QMap>
#include <QSet>
#include <QStringList>

// An in-memory desktop: tests launch, activate and quit applications and open, focus and
// retitle their windows; it emits the notifications a real desktop would.
class FakeWorkspace final : public Workspace {
public:
    QList<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    bool canReadWindows() const override { return m_canReadWindows; }
    std::optional<QString> focusedWindowTitle(qint64 pid) const override;
    std::optional<quint64> focusedWindowID(qint64 pid) const override;
    QList<WindowInfo> windows(qint64 pid) const override;
    std::unique_ptr<WindowObservation> observeWindows(qint64 pid,
                                                      std::function<void()> changed) override;
    bool raiseWindow(quint64 windowID) override;
    bool openURL(const QString& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& bundleID, const std::optional<QString>& url) override;
    bool copyText(const QString& text) override;

    // Control surface.
    void launch(const RunningApplication& application);
    // Deactivates the current front application, then activates this one.
    void activate(qint64 pid);
    void terminate(qint64 pid);
    // Opens a window (it becomes the application's focused window), shown by `process`
    // (default: the application's own pid).
    void openWindow(qint64 pid, quint64 windowID, const std::optional<QString>& title,
                    std::optional<qint64> process = std::nullopt);
    void focusWindow(qint64 pid, quint64 windowID);
    void setWindowTitle(quint64 windowID, const std::optional<QString>& title);
    void setMinimized(quint64 windowID, bool minimized);
    void setCanReadWindows(bool canRead) { m_canReadWindows = canRead; }
    int observerCount(qint64 pid) const;
    std::optional<quint64> lastRaisedWindow() const { return m_lastRaised; }
    // What the ways back did: "open_url X", "open_file X", "launch ID [X]", "copy X".
    QStringList desktopRequests;
    // Identities that can be launched; addresses and files the desktop refuses.
    QSet<QString> installed;
    QSet<QString> refused;
    bool hasClipboard = true;
    QString clipboard;

private:
    struct Application {
        RunningApplication info;
        QList<WindowInfo> windows;
        std::optional<quint64> focusedWindow;
    };
    void notifyObservers(qint64 pid) { m_observers.notify(pid); }
    std::optional<qint64> ownerOf(quint64 windowID) const;
    WindowInfo* window(quint64 windowID, qint64& owner);

    QMap<qint64, Application> m_applications;
    std::optional<qint64> m_front;
    bool m_canReadWindows = true;
    WindowObservers m_observers;
    std::optional<quint64> m_lastRaised;
};
