#pragma once

#include "platform/linux/ToplevelWorkspace.h"

#include <memory>

class QSocketNotifier;
struct xcb_connection_t;

// The desktop as an X11 window manager (EWMH) publishes it. Event driven: root-window
// property changes of _NET_ACTIVE_WINDOW and _NET_CLIENT_LIST, and title changes of the
// client windows, read through one xcb connection served by the Qt event loop.
class X11Workspace final : public ToplevelWorkspace {
public:
    // Connects to $DISPLAY. Without a display the workspace stays empty and quiet.
    X11Workspace(qint64 ownPid, AppIdentityResolver resolver = AppIdentityResolver(),
                 QObject* parent = nullptr);
    ~X11Workspace() override;

    bool isConnected() const;
    // False once the display has gone away (the connection is then left alone for good).
    bool isFollowing() const;

    bool canReadWindows() const override { return isConnected(); }
    QList<WindowInfo> windows(qint64 pid) const override;
    bool raiseWindow(quint64 windowID) override;

protected:
    bool isMinimized(quint64 id) const override;

private:
    struct Atoms;

    void readEvents();
    void scheduleRead();
    void handleEvent(quint8 responseType, quint32 window, quint32 atom);
    void clientListChanged();
    void activeWindowChanged();
    void windowPropertyChanged(quint32 window, quint32 atom);
    bool addWindow(quint32 window);
    std::optional<QString> readTitle(quint32 window) const;
    // The first 32-bit value of a window property of that type.
    std::optional<quint32> firstWord(quint32 window, quint32 atom, quint32 type) const;
    // The X server's current time (for requests on the user's behalf).
    quint32 serverTime();
    bool readIsRegular(quint32 window) const;

    std::unique_ptr<Atoms> m_atoms;
    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    std::unique_ptr<QSocketNotifier> m_notifier;
    quint32 m_activeWindow = 0;
};
