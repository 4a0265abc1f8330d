#include "platform/linux/WlrootsWorkspace.h"

#include "model/Log.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <QSocketNotifier>
#include <cstring>
#include <wayland-client.h>

namespace {

constexpr uint32_t kManagerVersion = 3;
// Our own windows name this application id (QGuiApplication::setDesktopFileName).
const QString kOwnAppID = QStringLiteral("app.kestrune.Tessarine");

} // namespace

struct WlrootsWorkspace::Toplevel {
    WlrootsWorkspace* owner = nullptr;
    zwlr_foreign_toplevel_handle_v1* handle = nullptr;
    quint64 id = 0;
    std::optional<QString> title;
    QString appID;
    QString reportedAppID;
    bool activated = false;
    bool minimized = false;
    bool reported = false; // known to the application table
    bool ignored = false;  // one of ours, or nothing identifies it
    quint32 xWindow = 0;
};

// The C callbacks of the protocol objects, forwarding to the workspace.
struct WlrootsListeners {
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
        auto* self = static_cast<WlrootsWorkspace*>(data);
        if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 &&
            !self->m_manager) {
            self->m_manager = static_cast<zwlr_foreign_toplevel_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_foreign_toplevel_manager_v1_interface,
                                 std::min(version, kManagerVersion)));
            zwlr_foreign_toplevel_manager_v1_add_listener(self->m_manager, &manager, self);
        } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat) {
            self->m_seat =
                static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        }
    }
    static void globalRemove(void*, wl_registry*, uint32_t) {}

    static void toplevel(void* data, zwlr_foreign_toplevel_manager_v1*,
                         zwlr_foreign_toplevel_handle_v1* handle) {
        static_cast<WlrootsWorkspace*>(data)->toplevelAnnounced(handle);
    }
    static void finished(void* data, zwlr_foreign_toplevel_manager_v1*) {
        auto* self = static_cast<WlrootsWorkspace*>(data);
        self->m_manager = nullptr; // the compositor destroyed it
        self->stopFollowing("The compositor stopped publishing its window list");
    }

    static void title(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
        static_cast<WlrootsWorkspace::Toplevel*>(data)->title = QString::fromUtf8(title);
    }
    static void appID(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appID) {
        static_cast<WlrootsWorkspace::Toplevel*>(data)->appID = QString::fromUtf8(appID);
    }
    static void outputEnter(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void outputLeave(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
    static void state(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
        auto* toplevel = static_cast<WlrootsWorkspace::Toplevel*>(data);
        toplevel->activated = false;
        toplevel->minimized = false;
        // wl_array_for_each is C only.
        const auto* values = static_cast<const uint32_t*>(states->data);
        for (size_t i = 0; i < states->size / sizeof(uint32_t); ++i) {
            toplevel->activated =
                toplevel->activated || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
            toplevel->minimized =
                toplevel->minimized || values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_MINIMIZED;
        }
    }
    static void done(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<WlrootsWorkspace::Toplevel*>(data);
        toplevel->owner->toplevelDone(*toplevel);
    }
    static void closed(void* data, zwlr_foreign_toplevel_handle_v1*) {
        auto* toplevel = static_cast<WlrootsWorkspace::Toplevel*>(data);
        toplevel->owner->toplevelClosed(*toplevel);
    }
    static void parent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}

    static constexpr wl_registry_listener registry{global, globalRemove};
    static constexpr zwlr_foreign_toplevel_manager_v1_listener manager{toplevel, finished};
    static constexpr zwlr_foreign_toplevel_handle_v1_listener handle{
        title, appID, outputEnter, outputLeave, state, done, closed, parent};
};

WlrootsWorkspace::WlrootsWorkspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent)
    : ToplevelWorkspace(ownPid, std::move(resolver), parent) {
    m_display = wl_display_connect(nullptr);
    if (!m_display)
        return;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &WlrootsListeners::registry, this);
    // What is already on screen is the starting point, not news: the globals, then the
    // toplevels the manager announces at once.
    const QSignalBlocker quiet(this);
    wl_display_roundtrip(m_display);
    if (!m_manager) {
        qCWarning(lcFocus) << "This Wayland compositor does not publish its window list"
                           << "(zwlr_foreign_toplevel_manager_v1); window switches cannot be"
                           << "followed";
        return;
    }
    wl_display_roundtrip(m_display);
    settleActivation();
    m_notifier =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(m_display), QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
}

WlrootsWorkspace::~WlrootsWorkspace() {
    m_notifier.reset();
    for (const auto& toplevel : std::as_const(m_toplevels))
        zwlr_foreign_toplevel_handle_v1_destroy(toplevel->handle);
    if (m_manager)
        zwlr_foreign_toplevel_manager_v1_destroy(m_manager);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (m_display)
        wl_display_disconnect(m_display);
}

bool WlrootsWorkspace::isConnected() const {
    return m_display && m_manager;
}

bool WlrootsWorkspace::isFollowing() const {
    return isConnected() && m_notifier && m_notifier->isEnabled();
}

void WlrootsWorkspace::readEvents() {
    if (!isFollowing())
        return;
    // The socket is readable: this reads without blocking, then runs the callbacks.
    if (wl_display_dispatch(m_display) < 0) {
        stopFollowing("The Wayland compositor went away");
        return;
    }
    settleActivation();
    wl_display_flush(m_display);
}

void WlrootsWorkspace::stopFollowing(const char* why) {
    if (m_notifier)
        m_notifier->setEnabled(false); // a dead socket stays readable and would fire forever
    qCWarning(lcFocus).noquote() << why
                                 << "; window switches are no longer followed. Start Tessarine "
                                    "again in the new session.";
}

void WlrootsWorkspace::toplevelAnnounced(zwlr_foreign_toplevel_handle_v1* handle) {
    auto toplevel = std::make_shared<Toplevel>();
    toplevel->owner = this;
    toplevel->handle = handle;
    toplevel->id = m_nextID++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &WlrootsListeners::handle, toplevel.get());
    m_toplevels.insert(toplevel->id, toplevel);
}

void WlrootsWorkspace::toplevelDone(Toplevel& toplevel) {
    if (toplevel.reported && toplevel.appID != toplevel.reportedAppID) {
        // A client may set its id late: it is another application from now on.
        removeToplevel(toplevel.id);
        toplevel.reported = false;
    }
    if (!toplevel.reported && !toplevel.ignored && !toplevel.appID.isEmpty()) {
        ToplevelWorkspace::Toplevel reported;
        reported.id = toplevel.id;
        reported.title = toplevel.title;
        reported.clues.waylandAppID = toplevel.appID;
        if (const std::optional<XWaylandClues::Found> x =
                m_xwayland.find(toplevel.appID, toplevel.title, m_xWindowsTaken)) {
            // An XWayland window: its process and class, as on X11.
            reported.pid = x->pid;
            reported.clues.wmClassInstance = x->wmClassInstance;
            reported.clues.wmClassName = x->wmClassName;
            toplevel.xWindow = x->window;
            m_xWindowsTaken.insert(x->window);
        }
        toplevel.reportedAppID = toplevel.appID;
        toplevel.reported = toplevel.appID != kOwnAppID && addToplevel(std::move(reported));
        toplevel.ignored = !toplevel.reported;
    }
    if (toplevel.reported)
        setToplevelTitle(toplevel.id, toplevel.title);

    if (toplevel.activated && m_active != toplevel.id) {
        m_active = toplevel.id;
        if (toplevel.reported)
            activateToplevel(toplevel.id);
        else
            m_deactivationPending = true; // one of ours, or one nothing identifies
    } else if (!toplevel.activated && m_active == toplevel.id) {
        // Another window usually gains the focus in the same batch of events: decided once
        // the batch is read, so a switch between two windows of one application stays a
        // window switch inside it.
        m_active = 0;
        m_deactivationPending = true;
    }
}

void WlrootsWorkspace::settleActivation() {
    const bool deactivate = m_deactivationPending;
    m_deactivationPending = false;
    if (!deactivate)
        return;
    const auto active = m_toplevels.value(m_active);
    if (!active || !active->reported)
        deactivateFront();
}

void WlrootsWorkspace::toplevelClosed(Toplevel& toplevel) {
    const std::shared_ptr<Toplevel> keep = m_toplevels.take(toplevel.id);
    if (m_active == toplevel.id)
        m_active = 0;
    if (toplevel.reported)
        removeToplevel(toplevel.id);
    m_xWindowsTaken.remove(toplevel.xWindow);
    zwlr_foreign_toplevel_handle_v1_destroy(toplevel.handle);
}

bool WlrootsWorkspace::isMinimized(quint64 id) const {
    const auto toplevel = m_toplevels.value(id);
    return toplevel && toplevel->minimized;
}

bool WlrootsWorkspace::raiseWindow(quint64 windowID) {
    const auto toplevel = m_toplevels.value(windowID);
    if (!isFollowing() || !m_seat || !toplevel || !toplevel->reported)
        return false;
    if (toplevel->minimized)
        zwlr_foreign_toplevel_handle_v1_unset_minimized(toplevel->handle);
    zwlr_foreign_toplevel_handle_v1_activate(toplevel->handle, m_seat);
    wl_display_flush(m_display);
    return true;
}
