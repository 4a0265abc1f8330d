#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

// An application with windows on the desktop.
struct RunningApplication {
    std::optional<QString> bundleID; // the application's identity, when it could be resolved
    std::optional<QString> displayName;
    qint64 pid = 0;
    bool isRegular = false; // has an ordinary (taskbar) window
};

// One top-level window of an application.
struct WindowInfo {
    quint64 id = 0;
    std::optional<QString> title;
    bool isMinimized = false;
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

    // The first running process of an application.
    std::optional<qint64> firstPID(const QString& bundleID) const {
        for (const RunningApplication& application : runningApplications()) {
            if (application.bundleID == bundleID)
                return application.pid;
        }
        return std::nullopt;
    }

Q_SIGNALS:
    void applicationActivated(const RunningApplication& application);
    void applicationDeactivated(const RunningApplication& application);
    void applicationLaunched(const RunningApplication& application);
    void applicationTerminated(const RunningApplication& application);
};
