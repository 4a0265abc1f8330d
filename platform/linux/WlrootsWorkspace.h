#pragma once

#include "platform/linux/ToplevelWorkspace.h"
#include "platform/linux/XWaylandClues.h"

#include <QHash>
#include <QSet>
#include <memory>

class QSocketNotifier;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

// The desktop as a wlroots compositor (sway, Hyprland, river, labwc, Wayfire) publishes it
// through its foreign-toplevel list: title, application id and the activated state of every
// window, native or XWayland, on a Wayland connection of its own served by the Qt event loop.
// The protocol names no process: XWayland windows get theirs from the X server (matched by
// class and title); native windows have none, so per-process rules (the terminal's
// foreground job, CPU sampling) do not apply to them.
class WlrootsWorkspace final : public ToplevelWorkspace {
public:
    // Connects to $WAYLAND_DISPLAY. Without a compositor that offers the list, the workspace
    // stays empty and isConnected() is false.
    WlrootsWorkspace(qint64 ownPid, AppIdentityResolver resolver = AppIdentityResolver(),
                     QObject* parent = nullptr);
    ~WlrootsWorkspace() override;

    bool isConnected() const;
    // False once the compositor has gone away.
    bool isFollowing() const;

    bool canReadWindows() const override { return isFollowing(); }
    bool raiseWindow(quint64 windowID) override;

protected:
    bool isMinimized(quint64 id) const override;

private:
    struct Toplevel;
    friend struct WlrootsListeners;

    void readEvents();
    void toplevelAnnounced(zwlr_foreign_toplevel_handle_v1* handle);
    void toplevelDone(Toplevel& toplevel);
    void toplevelClosed(Toplevel& toplevel);
    // After a batch of events: whether the front application lost the focus to nothing we
    // report.
    void settleActivation();
    void stopFollowing(const char* why);

    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    zwlr_foreign_toplevel_manager_v1* m_manager = nullptr;
    std::unique_ptr<QSocketNotifier> m_notifier;
    QHash<quint64, std::shared_ptr<Toplevel>> m_toplevels; // by our window id
    quint64 m_nextID = 1;
    quint64 m_active = 0; // the toplevel with the focus, reported or not
    bool m_deactivationPending = false;
    QSet<quint32> m_xWindowsTaken;
    XWaylandClues m_xwayland;
};
