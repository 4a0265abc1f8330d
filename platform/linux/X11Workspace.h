#pragma once

#include "platform/WindowObservers.h"
#include "platform/Workspace.h"
#include "platform/linux/AppIdentityResolver.h"
#include "platform/linux/DesktopEntryExec.h"

#include <QHash>
#include <QSet>
#include <functional>
#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

// The desktop as an X11 window manager (EWMH) publishes it. Event driven: root-window
// property changes of _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST, and title changes of the
// client windows, read through one xcb connection served by the Qt event loop. Windows of
// this process are never reported. An application is an identity, whatever number of
// processes show its windows: it is launched when its first window appears and terminated
// when its last one goes, and switching between its windows is a window switch inside it.
class X11Workspace final : public Workspace {
public:
    // Connects to $DISPLAY. Without a display the workspace stays empty and quiet.
    X11Workspace(qint64 ownPid, AppIdentityResolver resolver = AppIdentityResolver(),
                 QObject* parent = nullptr);
    ~X11Workspace() override;

    bool isConnected() const;
    // The index of installed desktop entries it identifies applications with (also for icons
    // and the exclusion picker, so the entries are read once).
    const AppIdentityResolver& identities() const { return m_resolver; }
    // False once the display has gone away (the connection is then left alone for good).
    bool isFollowing() const;

    QList<RunningApplication> runningApplications() const override;
    std::optional<RunningApplication> frontmostApplication() const override;
    bool canReadWindows() const override { return isConnected(); }
    std::optional<QString> focusedWindowTitle(qint64 pid) const override;
    std::optional<quint64> focusedWindowID(qint64 pid) const override;
    QList<WindowInfo> windows(qint64 pid) const override;
    std::unique_ptr<WindowObservation> observeWindows(qint64 pid,
                                                      std::function<void()> changed) override;
    bool raiseWindow(quint64 windowID) override;
    // Through the desktop's own tools: xdg-open, and an application's desktop entry started
    // without a shell.
    bool openURL(const QString& url) override;
    bool openFile(const QString& path) override;
    bool launchApplication(const QString& bundleID, const std::optional<QString>& url) override;
    bool copyText(const QString& text) override;
    // org.freedesktop.Application on the entry's own bus name (activating it if needed).
    static bool activateOverDBus(const DesktopEntryExec::Entry& entry,
                                 const std::optional<QString>& url);
    // The clipboard, where the process has one (a GUI application); none by default.
    void setClipboard(std::function<bool(const QString& text)> copy) { m_copy = std::move(copy); }

private:
    struct Window;
    struct Application;
    struct Atoms;

    void readEvents();
    void scheduleRead();
    void handleEvent(quint8 responseType, quint32 window, quint32 atom);
    void clientListChanged();
    void activeWindowChanged();
    void windowPropertyChanged(quint32 window, quint32 atom);
    bool addWindow(quint32 window);
    AppIdentityResolver::Identity identify(quint32 window, std::optional<qint64> pid,
                                           AppIdentityResolver::Clues clues);
    void removeWindow(quint32 window);
    std::optional<QString> readTitle(quint32 window) const;
    // The first 32-bit value of a window property of that type.
    std::optional<quint32> firstWord(quint32 window, quint32 atom, quint32 type) const;
    // The X server's current time (for requests on the user's behalf).
    quint32 serverTime();
    bool readIsRegular(quint32 window) const;
    void notifyObservers(qint64 pid) { m_observers.notify(pid); }

    std::unique_ptr<Atoms> m_atoms;
    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    qint64 m_ownPid;
    AppIdentityResolver m_resolver;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<quint32, std::shared_ptr<Window>> m_windows;
    QHash<qint64, std::shared_ptr<Application>> m_applications; // by handle
    QHash<QString, qint64> m_handles;                           // identity → handle
    QHash<qint64, AppIdentityResolver::Identity> m_identities;  // by process

    quint32 m_activeWindow = 0;
    std::optional<qint64> m_front;
    WindowObservers m_observers;
    std::function<bool(const QString&)> m_copy;
};
