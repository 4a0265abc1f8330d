#pragma once

#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

// Small xcb helpers shared by the X11 backends and the views' window code.

// A connection to $DISPLAY with its default screen's number and root window; nothing (and
// no connection left open) when no X server answers.
struct XcbDisplay {
    xcb_connection_t* connection = nullptr;
    int screen = 0;
    xcb_window_t root = XCB_WINDOW_NONE;
};
inline std::optional<XcbDisplay> connectDisplay() {
    XcbDisplay display;
    display.connection = xcb_connect(nullptr, &display.screen);
    if (xcb_connection_has_error(display.connection)) {
        xcb_disconnect(display.connection);
        return std::nullopt;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(display.connection));
    for (int i = 0; i < display.screen && screens.rem; ++i)
        xcb_screen_next(&screens);
    display.root = screens.data ? screens.data->root : xcb_window_t(XCB_WINDOW_NONE);
    return display;
}

// An xcb reply (or event, or error), freed with free() as xcb requires.
template <typename Reply> struct XcbFree {
    void operator()(Reply* reply) const { std::free(reply); }
};
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, XcbFree<Reply>>;

// The atom named `name`; with `onlyIfExists`, XCB_ATOM_NONE when no client made it yet.
inline xcb_atom_t internAtom(xcb_connection_t* connection, const char* name,
                             bool onlyIfExists = false) {
    const ReplyPtr<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection,
                              xcb_intern_atom(connection, onlyIfExists ? 1 : 0,
                                              static_cast<uint16_t>(std::strlen(name)), name),
                              nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// Whether a client owns the selection `name` (a tray's _NET_SYSTEM_TRAY_S0, a compositor's
// _NET_WM_CM_S0).
inline bool selectionOwned(xcb_connection_t* connection, const char* name) {
    if (!connection)
        return false;
    const xcb_atom_t selection = internAtom(connection, name, true);
    if (selection == XCB_ATOM_NONE)
        return false;
    const ReplyPtr<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        connection, xcb_get_selection_owner(connection, selection), nullptr));
    return owner && owner->owner != XCB_NONE;
}
