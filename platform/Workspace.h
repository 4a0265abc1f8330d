#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// An application with windows on the desktop: one identity, however many processes show its
// windows (every xterm is a process of its own; a browser is one).
struct RunningApplication {
    std::optional<QString> bundleID; // the application's identity, when it could be resolved
    std::optional<QString> displayName;
    // The application's handle for this workspace's lookups: the process that showed its
    // first window, or a negative number when its windows name no process.
    qint64 pid = 0;
    bool isRegular = false; // has an ordinary (taskbar) window
    // The processes whose windows it shows now, in the order they appeared.
    QList<qint64> processes = {};
};

// One top-level window of an application.
struct WindowInfo {
    quint64 id = 0;
    std::optional<QString> title;
    bool isMinimized = false;
    qint64 pid = 0; // the process that shows it, when the window names one
};

// Running applications, the one in front, their windows and titles, and the notifications
// the focus tracker follows. Signals are emitted on the main thread.
class Workspace : public QObject {
    Q_OBJECT
public:
    // Follows the windows of one application until destroyed.
    class WindowObservation {
    public:
        virtual ~WindowObservation() = default;
    };

    using QObject::QObject;

    virtual QList<RunningApplication> runningApplications() const = 0;
    virtual std::optional<RunningApplication> frontmostApplication() const = 0;
    // Whether window titles can be read at all (the desktop's equivalent of accessibility
    // trust for window reads).
    virtual bool canReadWindows() const = 0;
    // Lookups by application take its handle (RunningApplication::pid).
    // The title of the application's focused (or last focused) window.
    virtual std::optional<QString> focusedWindowTitle(qint64 pid) const = 0;
    // That window itself.
    virtual std::optional<quint64> focusedWindowID(qint64 pid) const = 0;
    virtual QList<WindowInfo> windows(qint64 pid) const = 0;
    // Calls `changed` when the application's focused window changes, a window of it
    // appears, or one of its window titles changes. Nothing when it cannot be observed.
    virtual std::unique_ptr<WindowObservation> observeWindows(qint64 pid,
                                                              std::function<void()> changed) = 0;
    // Brings a window to the front (un-minimising it).
    virtual bool raiseWindow(quint64 windowID) = 0;

    // The ways back that are not a window; each answers whether the desktop accepted it.
    // Opens an address or a file with the desktop's default handler.
    virtual bool openURL(const QString& url) = 0;
    virtual bool openFile(const QString& path) = 0;
    // Starts the installed application of an identity, with an address to open when given
    // (a browser's own entry, not the default handler); false when it is not installed.
    virtual bool launchApplication(const QString& bundleID,
                                   const std::optional<QString>& url = std::nullopt) = 0;
    // Puts plain text on the clipboard (never runs it); false without a clipboard.
    virtual bool copyText(const QString& text) = 0;

    // Brings a running application forward: its most recent window. False when none runs.
    bool activateApplication(const QString& bundleID) {
        const std::optional<RunningApplication> running = application(bundleID);
        if (!running)
            return false;
        const std::optional<quint64> window = focusedWindowID(running->pid);
        return window && raiseWindow(*window);
    }

    // The running application with this identity.
    std::optional<RunningApplication> application(const QString& bundleID) const {
        for (const RunningApplication& application : runningApplications()) {
            if (application.bundleID == bundleID)
                return application;
        }
        return std::nullopt;
    }
    // A running process of an application (the first that showed a window), for reading
    // its resource use.
    std::optional<qint64> firstPID(const QString& bundleID) const {
        const std::optional<RunningApplication> found = application(bundleID);
        if (!found)
            return std::nullopt;
        if (!found->processes.isEmpty())
            return found->processes.constFirst();
        return found->pid > 0 ? std::optional<qint64>(found->pid) : std::nullopt;
    }

Q_SIGNALS:
    void applicationActivated(const RunningApplication& application);
    void applicationDeactivated(const RunningApplication& application);
    void applicationLaunched(const RunningApplication& application);
    void applicationTerminated(const RunningApplication& application);
};
