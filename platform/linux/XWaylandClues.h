#pragma once

#include "platform/linux/AppIdentityResolver.h"

#include <QSet>
#include <optional>

struct xcb_connection_t;

// What the X server of an XWayland session tells about one of its windows that the
// compositor names only by class and title: its process (_NET_WM_PID) and WM_CLASS. Only
// read, never followed: in a Wayland session the compositor alone reports focus and windows.
class XWaylandClues {
public:
    // Connects to $DISPLAY; without one every lookup finds nothing.
    XWaylandClues();
    ~XWaylandClues();
    XWaylandClues(const XWaylandClues&) = delete;
    XWaylandClues& operator=(const XWaylandClues&) = delete;

    struct Found {
        quint32 window = 0;
        std::optional<qint64> pid;
        QString wmClassInstance;
        QString wmClassName;
    };
    // The client window whose class (or instance) is `appID` (in any case: KWin lowers it)
    // and whose title is `title`; windows in `taken` (already matched to another toplevel)
    // are passed over.
    std::optional<Found> find(const QString& appID, const std::optional<QString>& title,
                              const QSet<quint32>& taken) const;
    // What the X server tells about the window with that id.
    std::optional<Found> read(quint32 window) const;

private:
    std::optional<QString> title(quint32 window) const;

    xcb_connection_t* m_connection = nullptr;
    quint32 m_root = 0;
    quint32 m_clientList = 0;
    quint32 m_wmPid = 0;
    quint32 m_wmName = 0;
    quint32 m_utf8 = 0;
};
