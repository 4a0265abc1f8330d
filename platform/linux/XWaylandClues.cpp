#include "platform/linux/XWaylandClues.h"

#include "platform/linux/Xcb.h"

#include <QByteArray>
#include <xcb/xcb_icccm.h>

namespace {

// A property's bytes (at most 64 KiB), or nothing.
std::optional<QByteArray> property(xcb_connection_t* connection, quint32 window, quint32 atom,
                                   quint32 type) {
    const ReplyPtr<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection, xcb_get_property(connection, 0, window, atom, type, 0, 16384), nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE)
        return std::nullopt;
    return QByteArray(static_cast<const char*>(xcb_get_property_value(reply.get())),
                      xcb_get_property_value_length(reply.get()));
}

} // namespace

XWaylandClues::XWaylandClues() {
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        return;
    const std::optional<XcbDisplay> display = connectDisplay();
    if (!display)
        return;
    m_connection = display->connection;
    m_root = display->root;
    m_clientList = internAtom(m_connection, "_NET_CLIENT_LIST");
    m_wmPid = internAtom(m_connection, "_NET_WM_PID");
    m_wmName = internAtom(m_connection, "_NET_WM_NAME");
    m_utf8 = internAtom(m_connection, "UTF8_STRING");
}

XWaylandClues::~XWaylandClues() {
    if (m_connection)
        xcb_disconnect(m_connection);
}

std::optional<XWaylandClues::Found> XWaylandClues::read(quint32 window) const {
    if (!m_connection || xcb_connection_has_error(m_connection))
        return std::nullopt;
    xcb_icccm_get_wm_class_reply_t wmClass{};
    if (!xcb_icccm_get_wm_class_reply(m_connection, xcb_icccm_get_wm_class(m_connection, window),
                                      &wmClass, nullptr))
        return std::nullopt;
    Found found;
    found.window = window;
    found.wmClassInstance = QString::fromUtf8(wmClass.instance_name);
    found.wmClassName = QString::fromUtf8(wmClass.class_name);
    xcb_icccm_get_wm_class_reply_wipe(&wmClass);
    const std::optional<QByteArray> pid =
        property(m_connection, window, m_wmPid, XCB_ATOM_CARDINAL);
    if (pid && pid->size() >= 4) {
        const quint32 value = *reinterpret_cast<const quint32*>(pid->constData());
        if (value > 0)
            found.pid = value;
    }
    return found;
}

std::optional<QString> XWaylandClues::title(quint32 window) const {
    std::optional<QByteArray> name = property(m_connection, window, m_wmName, m_utf8);
    if (!name)
        name = property(m_connection, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING);
    return name ? std::optional(QString::fromUtf8(*name)) : std::nullopt;
}

std::optional<XWaylandClues::Found> XWaylandClues::find(const QString& appID,
                                                        const std::optional<QString>& wanted,
                                                        const QSet<quint32>& taken) const {
    if (!m_connection || xcb_connection_has_error(m_connection) || appID.isEmpty())
        return std::nullopt;
    const std::optional<QByteArray> list =
        property(m_connection, m_root, m_clientList, XCB_ATOM_WINDOW);
    if (!list)
        return std::nullopt;
    const auto* windows = reinterpret_cast<const quint32*>(list->constData());
    const qsizetype count = list->size() / qsizetype(sizeof(quint32));
    for (qsizetype i = 0; i < count; ++i) {
        if (taken.contains(windows[i]))
            continue;
        const std::optional<Found> found = read(windows[i]);
        if (!found || (found->wmClassName.compare(appID, Qt::CaseInsensitive) != 0 &&
                       found->wmClassInstance.compare(appID, Qt::CaseInsensitive) != 0))
            continue;
        if (title(windows[i]).value_or(QString()) == wanted.value_or(QString()))
            return found;
    }
    return std::nullopt;
}
