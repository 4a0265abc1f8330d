#include "platform/linux/KWinWorkspace.h"

#include "model/Log.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QTimer>

namespace {

const QString kKWin = QStringLiteral("org.kde.KWin");
const QString kScripting = QStringLiteral("org.kde.kwin.Scripting");
const QString kReporterName = QStringLiteral("tessarine-workspace");
const QString kActivatorName = QStringLiteral("tessarine-activate");
// Calls into KWin wait at most this long: a compositor that does not answer must not hold
// up the engine for long.
constexpr int kCallTimeoutMs = 2000;
// How long the script may take to report the windows that are already there.
constexpr int kReadyTimeoutMs = 5000;

// Both generations of KWin's scripting API: 5.27 names windows "clients"
// (clientActivated), KWin 6 "windows" (windowActivated). Values are sent as text.
const char* const kReporter = R"JS(
const service = "%1";
const path = "/app/kestrune/Tessarine/KWin";
const iface = "app.kestrune.Tessarine.KWinReports";
const six = typeof workspace.windowList === "function";
function text(value) {
    if (value === undefined || value === null) return "";
    if (typeof value === "string") return value;
    if (value instanceof ArrayBuffer) // KWin 5 hands resource names over as bytes
        return String.fromCharCode.apply(null, new Uint8Array(value));
    return String(value);
}
function idOf(window) { return text(window.internalId); }
function reported(window) { return window.normalWindow || window.dialog; }
function send(method, ...values) { callDBus(service, path, iface, method, ...values); }
function follow(window) {
    if (!reported(window)) return;
    send("WindowAdded", idOf(window), text(window.desktopFileName), text(window.resourceClass),
         text(window.resourceName), text(window.caption), text(window.pid),
         window.normalWindow && !window.skipTaskbar ? "1" : "0", text(window.windowId));
    if (window.minimized) send("WindowMinimizedChanged", idOf(window), "1");
    window.captionChanged.connect(() => send("WindowCaptionChanged", idOf(window), text(window.caption)));
    window.minimizedChanged.connect(() =>
        send("WindowMinimizedChanged", idOf(window), window.minimized ? "1" : "0"));
}
(six ? workspace.windowList() : workspace.clientList()).forEach(follow);
(six ? workspace.windowAdded : workspace.clientAdded).connect(follow);
(six ? workspace.windowRemoved : workspace.clientRemoved).connect(
    (window) => send("WindowRemoved", idOf(window)));
(six ? workspace.windowActivated : workspace.clientActivated).connect(
    (window) => send("WindowActivated", window ? idOf(window) : ""));
const active = six ? workspace.activeWindow : workspace.activeClient;
send("WindowActivated", active ? idOf(active) : "");
send("Ready");
)JS";

const char* const kActivator = R"JS(
const wanted = "%1";
const six = typeof workspace.windowList === "function";
for (const window of (six ? workspace.windowList() : workspace.clientList())) {
    if (String(window.internalId) !== wanted) continue;
    if (window.minimized) window.minimized = false;
    if (six) workspace.activeWindow = window; else workspace.activeClient = window;
}
)JS";

QDBusMessage scriptingCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kKWin, QStringLiteral("/Scripting"), kScripting, method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, kCallTimeoutMs);
}

} // namespace

KWinWorkspace::KWinWorkspace(qint64 ownPid, AppIdentityResolver resolver, QObject* parent)
    : ToplevelWorkspace(ownPid, std::move(resolver), parent) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !m_scripts.isValid())
        return;
    const QDBusReply<QString> owner = bus.interface()->serviceOwner(kKWin);
    if (!owner.isValid())
        return; // no KWin on this bus
    m_kwinConnection = owner.value();
    if (!bus.registerObject(objectPath, this, QDBusConnection::ExportScriptableSlots)) {
        qCWarning(lcFocus) << "Cannot receive KWin's window reports:" << bus.lastError().message();
        return;
    }
    // What is already on screen is the starting point, not news: quiet until Ready.
    blockSignals(true);
    m_loaded = runScript(kReporterName, QString::fromUtf8(kReporter).arg(bus.baseService()));
    if (!m_loaded) {
        blockSignals(false);
        qCWarning(lcFocus) << "KWin did not accept Tessarine's window script; window switches"
                           << "cannot be followed";
        return;
    }
    // A script that fails half way never says Ready: follow whatever it does report.
    QTimer::singleShot(kReadyTimeoutMs, this, [this] {
        if (m_ready)
            return;
        blockSignals(false);
        qCWarning(lcFocus) << "KWin's window script did not finish its start; some windows may"
                           << "be missing until they are focused again";
    });
}

KWinWorkspace::~KWinWorkspace() {
    if (m_loaded) {
        scriptingCall(QStringLiteral("unloadScript"), {kReporterName});
        scriptingCall(QStringLiteral("unloadScript"), {kActivatorName});
    }
    QDBusConnection::sessionBus().unregisterObject(objectPath);
}

bool KWinWorkspace::runScript(const QString& name, const QString& text) {
    // One of that name left by an earlier run (or an earlier raise) goes first.
    scriptingCall(QStringLiteral("unloadScript"), {name});
    QFile file(m_scripts.filePath(name + QStringLiteral(".js")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text.toUtf8()) < 0)
        return false;
    file.close();
    const QDBusMessage loaded =
        scriptingCall(QStringLiteral("loadScript"), {file.fileName(), name});
    if (loaded.type() != QDBusMessage::ReplyMessage || loaded.arguments().isEmpty() ||
        loaded.arguments().constFirst().toInt() < 0)
        return false;
    return scriptingCall(QStringLiteral("start"), {}).type() == QDBusMessage::ReplyMessage;
}

bool KWinWorkspace::fromKWin() const {
    return calledFromDBus() && message().service() == m_kwinConnection;
}

void KWinWorkspace::WindowAdded(const QString& id, const QString& desktopFileName,
                                const QString& resourceClass, const QString& resourceName,
                                const QString& caption, const QString& pid, const QString& regular,
                                const QString& x11Window) {
    if (!fromKWin() || id.isEmpty() || m_ids.contains(id))
        return;
    const quint64 ours = m_nextID++;
    Toplevel toplevel;
    toplevel.id = ours;
    bool numeric = false;
    const qint64 process = pid.toLongLong(&numeric);
    if (numeric && process > 0)
        toplevel.pid = process;
    if (!desktopFileName.isEmpty())
        toplevel.clues.waylandAppID = desktopFileName;
    if (!resourceClass.isEmpty())
        toplevel.clues.wmClassName = resourceClass;
    if (!resourceName.isEmpty())
        toplevel.clues.wmClassInstance = resourceName;
    // KWin lowers X classes: an XWayland window's own WM_CLASS keeps its identity the one
    // it has in an X11 session.
    if (const quint32 xWindow = x11Window.toUInt(); xWindow != 0) {
        if (const std::optional<XWaylandClues::Found> x = m_xwayland.read(xWindow)) {
            toplevel.clues.wmClassName = x->wmClassName;
            toplevel.clues.wmClassInstance = x->wmClassInstance;
        }
    }
    toplevel.title = caption;
    toplevel.isRegular = regular == u"1";
    m_ids.insert(id, ours);
    m_kwinIDs.insert(ours, id);
    addToplevel(std::move(toplevel)); // ours, or unidentifiable: known, never reported
}

void KWinWorkspace::WindowRemoved(const QString& id) {
    if (!fromKWin())
        return;
    const quint64 ours = m_ids.take(id);
    m_kwinIDs.remove(ours);
    m_minimized.remove(ours);
    removeToplevel(ours);
}

void KWinWorkspace::WindowCaptionChanged(const QString& id, const QString& caption) {
    if (fromKWin())
        setToplevelTitle(m_ids.value(id), caption);
}

void KWinWorkspace::WindowMinimizedChanged(const QString& id, const QString& minimized) {
    if (!fromKWin() || !m_ids.contains(id))
        return;
    if (minimized == u"1")
        m_minimized.insert(m_ids.value(id));
    else
        m_minimized.remove(m_ids.value(id));
}

void KWinWorkspace::WindowActivated(const QString& id) {
    if (!fromKWin())
        return;
    const quint64 ours = m_ids.value(id);
    if (hasToplevel(ours))
        activateToplevel(ours);
    else // nothing (also between two windows), one of ours, a panel or the desktop
        deactivateFrontUnlessActivated();
}

void KWinWorkspace::Ready() {
    if (!fromKWin() || m_ready)
        return;
    m_ready = true;
    blockSignals(false);
}

bool KWinWorkspace::isMinimized(quint64 id) const {
    return m_minimized.contains(id);
}

bool KWinWorkspace::raiseWindow(quint64 windowID) {
    const QString kwinID = m_kwinIDs.value(windowID);
    if (!m_loaded || kwinID.isEmpty() || !hasToplevel(windowID))
        return false;
    QString quoted = kwinID;
    quoted.remove(u'"').remove(u'\\'); // a uuid in braces; never anything else in the script
    return runScript(kActivatorName, QString::fromUtf8(kActivator).arg(quoted));
}
