#pragma once

#include <QList>
#include <QRect>

struct xcb_connection_t;

// The room desktop panels reserve at the top of the screen, from their struts
// (_NET_WM_STRUT_PARTIAL, else _NET_WM_STRUT). _NET_WORKAREA is one rectangle across all
// monitors, so a panel on one monitor must be found by its strut's horizontal range.
namespace X11Struts {

struct TopStrut {
    quint32 top = 0;    // reserved from the top of the whole screen
    quint32 startX = 0; // the horizontal range it covers
    quint32 endX = 0;
};

// The top struts of every window the window manager lists.
QList<TopStrut> read(xcb_connection_t* connection);
// How far below `monitor`'s top edge the panels over it reach (0 when none does).
int reservedTop(const QList<TopStrut>& struts, const QRect& monitor);

} // namespace X11Struts
