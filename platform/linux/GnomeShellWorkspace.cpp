#include "platform/linux/GnomeShellWorkspace.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>

namespace {

// A Shell that does not answer must not hold up the engine for long.
constexpr int kCallTimeoutMs = 2000;

QDBusMessage callShell(const QString& method, const QVariantList& arguments) {
    QDBusMessage call = QDBusMessage::createMethodCall(GnomeShellWorkspace::service,
                                                       GnomeShellWorkspace::objectPath,
                                                       GnomeShellWorkspace::interface, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
}

} // namespace

GnomeShellWorkspace::GnomeShellWorkspace(qint64 ownPid, AppIdentityResolver resolver,
                                         QObject* parent)
    : ToplevelWorkspace(ownPid, std::move(resolver), parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Signals first, then the list: a window reported twice is known once.
    bus.connect(service, objectPath, interface, QStringLiteral("WindowAdded"), this,
                SLOT(windowAdded(QString)));
    bus.connect(service, objectPath, interface, QStringLiteral("WindowRemoved"), this,
                SLOT(windowRemoved(QString)));
    bus.connect(service, objectPath, interface, QStringLiteral("TitleChanged"), this,
                SLOT(titleChanged(QString, QString)));
    bus.connect(service, objectPath, interface, QStringLiteral("MinimizedChanged"), this,
                SLOT(minimizedChanged(QString, bool)));
    bus.connect(service, objectPath, interface, QStringLiteral("Activated"), this,
                SLOT(activated(QString)));
    // What is already on screen is the starting point, not news.
    const QSignalBlocker quiet(this);
    synchronise();
}

bool GnomeShellWorkspace::synchronise() {
    const QDBusMessage reply = callShell(QStringLiteral("List"), {});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    const QJsonObject list =
        QJsonDocument::fromJson(reply.arguments().constFirst().toString().toUtf8()).object();
    m_hasExtension = true;
    for (const QJsonValue& window : list.value(QStringLiteral("windows")).toArray())
        add(window.toObject());
    activated(list.value(QStringLiteral("focus")).toString());
    return true;
}

void GnomeShellWorkspace::add(const QJsonObject& window) {
    const QString shellID = window.value(QStringLiteral("id")).toString();
    if (shellID.isEmpty() || m_ids.contains(shellID))
        return;
    const auto text = [&window](const char* key) -> std::optional<QString> {
        const QString value = window.value(QLatin1String(key)).toString();
        return value.isEmpty() ? std::nullopt : std::optional(value);
    };
    const quint64 ours = m_nextID++;
    Toplevel toplevel;
    toplevel.id = ours;
    const qint64 pid = window.value(QStringLiteral("pid")).toInteger();
    if (pid > 0)
        toplevel.pid = pid;
    // A Flatpak's id is as certain as a GTK application's own.
    toplevel.clues.gtkApplicationID = text("gtkApplicationID");
    if (!toplevel.clues.gtkApplicationID)
        toplevel.clues.gtkApplicationID = text("sandboxedAppID");
    toplevel.clues.waylandAppID = text("appID"); // the Shell's match with a desktop entry
    toplevel.clues.wmClassName = text("wmClass");
    toplevel.clues.wmClassInstance = text("wmClassInstance");
    toplevel.title = window.value(QStringLiteral("title")).toString();
    toplevel.isRegular = window.value(QStringLiteral("regular")).toBool();
    m_ids.insert(shellID, ours);
    m_shellIDs.insert(ours, shellID);
    if (window.value(QStringLiteral("minimized")).toBool())
        m_minimized.insert(ours);
    addToplevel(std::move(toplevel)); // ours, or unidentifiable: known, never reported
}

void GnomeShellWorkspace::windowAdded(const QString& description) {
    if (!m_hasExtension) {
        // The extension was enabled after Tessarine started: take the whole list.
        synchronise();
        return;
    }
    add(QJsonDocument::fromJson(description.toUtf8()).object());
}

void GnomeShellWorkspace::windowRemoved(const QString& id) {
    const quint64 ours = m_ids.take(id);
    m_shellIDs.remove(ours);
    m_minimized.remove(ours);
    removeToplevel(ours);
}

void GnomeShellWorkspace::titleChanged(const QString& id, const QString& title) {
    setToplevelTitle(m_ids.value(id), title);
}

void GnomeShellWorkspace::minimizedChanged(const QString& id, bool minimized) {
    if (!m_ids.contains(id))
        return;
    if (minimized)
        m_minimized.insert(m_ids.value(id));
    else
        m_minimized.remove(m_ids.value(id));
}

void GnomeShellWorkspace::activated(const QString& id) {
    if (!m_hasExtension && !synchronise())
        return;
    const quint64 ours = m_ids.value(id);
    if (hasToplevel(ours))
        activateToplevel(ours);
    else // nothing (also between two windows), one of ours, the overview
        deactivateFrontUnlessActivated();
}

bool GnomeShellWorkspace::isMinimized(quint64 id) const {
    return m_minimized.contains(id);
}

bool GnomeShellWorkspace::raiseWindow(quint64 windowID) {
    const QString shellID = m_shellIDs.value(windowID);
    if (!m_hasExtension || shellID.isEmpty())
        return false;
    const QDBusMessage reply = callShell(QStringLiteral("Activate"), {shellID});
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().constFirst().toBool();
}
