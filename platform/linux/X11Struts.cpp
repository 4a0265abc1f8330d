#include "platform/linux/X11Struts.h"

#include "platform/linux/Xcb.h"

#include <algorithm>
#include <cstring>
#include <xcb/xcb.h>

namespace {

QList<quint32> cardinals(xcb_connection_t* connection, xcb_window_t window, xcb_atom_t property,
                         quint32 count) {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, property, XCB_ATOM_CARDINAL, 0, count),
        nullptr));
    QList<quint32> values;
    if (!reply || reply->format != 32)
        return values;
    const auto* data = static_cast<const quint32*>(xcb_get_property_value(reply.get()));
    const int length = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < length; ++i)
        values.append(data[i]);
    return values;
}

} // namespace

QList<X11Struts::TopStrut> X11Struts::read(xcb_connection_t* connection) {
    QList<TopStrut> struts;
    if (!connection)
        return struts;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
    const xcb_atom_t clientList = internAtom(connection, "_NET_CLIENT_LIST", true);
    const xcb_atom_t partial = internAtom(connection, "_NET_WM_STRUT_PARTIAL", true);
    const xcb_atom_t plain = internAtom(connection, "_NET_WM_STRUT", true);
    if (clientList == XCB_ATOM_NONE)
        return struts;
    const ReplyPtr<xcb_get_property_reply_t> list(xcb_get_property_reply(
        connection,
        xcb_get_property(connection, 0, screen->root, clientList, XCB_ATOM_WINDOW, 0, 4096),
        nullptr));
    if (!list)
        return struts;
    const auto* windows = static_cast<const xcb_window_t*>(xcb_get_property_value(list.get()));
    const int count = xcb_get_property_value_length(list.get()) / 4;
    for (int i = 0; i < count; ++i) {
        // left, right, top, bottom, left_start_y, left_end_y, right_start_y, right_end_y,
        // top_start_x, top_end_x, …
        const QList<quint32> values = cardinals(connection, windows[i], partial, 12);
        if (values.size() >= 10 && values[2] > 0) {
            struts.append({values[2], values[8], values[9]});
            continue;
        }
        const QList<quint32> old = cardinals(connection, windows[i], plain, 4);
        if (old.size() >= 4 && old[2] > 0)
            struts.append({old[2], 0, screen->width_in_pixels - 1u});
    }
    return struts;
}

int X11Struts::reservedTop(const QList<TopStrut>& struts, const QRect& monitor) {
    int reserved = 0;
    for (const TopStrut& strut : struts) {
        const bool over = static_cast<int>(strut.startX) <= monitor.right() &&
                          static_cast<int>(strut.endX) >= monitor.left();
        if (over)
            reserved = std::max(reserved, static_cast<int>(strut.top) - monitor.top());
    }
    return std::max(reserved, 0);
}
