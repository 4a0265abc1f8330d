#pragma once

#include "platform/linux/Xcb.h"

#include <QGuiApplication>
#include <QVarLengthArray>
#include <QWindow>
#include <initializer_list>

// Qt's own connection to the X server; none on other platforms (offscreen snapshots).
inline xcb_connection_t* qtX11Connection() {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

// Adds `_NET_WM_STATE_…` states to a window of ours (creating its native window). Window
// managers drop them when a window is withdrawn, so they are set before every showing.
inline void addWindowStates(QWindow& window, std::initializer_list<const char*> states) {
    xcb_connection_t* connection = qtX11Connection();
    if (!connection)
        return;
    window.create();
    QVarLengthArray<xcb_atom_t, 8> atoms;
    for (const char* state : states)
        atoms.append(internAtom(connection, state));
    xcb_change_property(connection, XCB_PROP_MODE_APPEND, static_cast<xcb_window_t>(window.winId()),
                        internAtom(connection, "_NET_WM_STATE"), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(atoms.size()), atoms.data());
    xcb_flush(connection);
}
