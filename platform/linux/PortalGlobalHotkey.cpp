#include "platform/linux/PortalGlobalHotkey.h"

#include "model/Log.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>

namespace {

// A shortcut as the portal takes it: (id, {description, preferred_trigger}).
struct Shortcut {
    QString id;
    QVariantMap properties;
};

QDBusArgument& operator<<(QDBusArgument& argument, const Shortcut& shortcut) {
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, Shortcut& shortcut) {
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

} // namespace

Q_DECLARE_METATYPE(Shortcut)

PortalGlobalHotkey::PortalGlobalHotkey() {
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    QDBusConnection::sessionBus().connect(service, path, interface, QStringLiteral("Activated"),
                                          this, SLOT(activated(QDBusMessage)));
}

bool PortalGlobalHotkey::isAvailable() {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << QStringLiteral("version");
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 2000);
    return reply.type() == QDBusMessage::ReplyMessage;
}

std::optional<QString> PortalGlobalHotkey::trigger(quint32 keyCode, quint32 modifiers) {
    const std::optional<quint32> sym = keysym(keyCode);
    // Letters, digits and the punctuation of the ASCII range are their own keysym names.
    if (!sym || *sym < 0x21 || *sym > 0x7e)
        return std::nullopt;
    QStringList parts;
    if (modifiers & kControl)
        parts.append(QStringLiteral("CTRL"));
    if (modifiers & kOption)
        parts.append(QStringLiteral("ALT"));
    if (modifiers & kShift)
        parts.append(QStringLiteral("SHIFT"));
    if (modifiers & kCommand)
        parts.append(QStringLiteral("LOGO"));
    parts.append(QString(QChar(static_cast<char16_t>(*sym))));
    return parts.join(u'+');
}

bool PortalGlobalHotkey::grab(quint32 keyCode, quint32 modifiers, std::function<void()> pressed) {
    m_pressed = std::move(pressed);
    m_trigger = trigger(keyCode, modifiers);
    if (!m_session.isEmpty()) {
        bindShortcuts();
        return true;
    }
    const QString token = QStringLiteral("tessarine%1").arg(++m_tokens);
    return request(QStringLiteral("CreateSession"),
                   {QVariantMap{{QStringLiteral("session_handle_token"), token}}},
                   SLOT(sessionCreated(uint, QVariantMap)));
}

void PortalGlobalHotkey::release() {
    m_pressed = nullptr; // the portal has no unbinding; presses are ignored from now on
}

bool PortalGlobalHotkey::request(const QString& method, QVariantList arguments, const char* slot) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const QString token = QStringLiteral("tessarine%1").arg(++m_tokens);
    QString sender = bus.baseService().mid(1);
    sender.replace(u'.', u'_');
    const QString requestPath =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    bus.connect(service, requestPath, QStringLiteral("org.freedesktop.portal.Request"),
                QStringLiteral("Response"), this, slot);
    QVariantMap options = arguments.takeLast().toMap();
    options.insert(QStringLiteral("handle_token"), token);
    arguments.append(options);
    QDBusMessage call = QDBusMessage::createMethodCall(service, path, interface, method);
    call.setArguments(arguments);
    const QDBusMessage reply = bus.call(call, QDBus::Block, 5000);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        qCWarning(lcApp).noquote()
            << "The desktop portal refused" << method << ":" << reply.errorMessage();
        return false;
    }
    return true;
}

void PortalGlobalHotkey::sessionCreated(uint response, const QVariantMap& results) {
    if (response != 0) {
        qCWarning(lcApp) << "The desktop portal did not open a shortcut session; the global"
                         << "shortcut is off (run `tessarine toggle` from a desktop shortcut)";
        return;
    }
    m_session = results.value(QStringLiteral("session_handle")).toString();
    bindShortcuts();
}

void PortalGlobalHotkey::bindShortcuts() {
    QVariantMap properties{
        {QStringLiteral("description"), QStringLiteral("Show or hide Tessarine's loops")}};
    if (m_trigger)
        properties.insert(QStringLiteral("preferred_trigger"), *m_trigger);
    const QList<Shortcut> shortcuts{Shortcut{shortcutID, properties}};
    request(QStringLiteral("BindShortcuts"),
            {QVariant::fromValue(QDBusObjectPath(m_session)), QVariant::fromValue(shortcuts),
             QString(), QVariantMap{}},
            SLOT(shortcutsBound(uint, QVariantMap)));
}

void PortalGlobalHotkey::shortcutsBound(uint response, const QVariantMap& results) {
    if (response != 0) {
        qCInfo(lcApp) << "The global shortcut was not bound (refused or cancelled in the"
                      << "desktop's dialog)";
        return;
    }
    QList<Shortcut> shortcuts;
    const QVariant value = results.value(QStringLiteral("shortcuts"));
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> shortcuts;
    for (const Shortcut& shortcut : std::as_const(shortcuts)) {
        if (shortcut.id == shortcutID)
            m_boundTrigger =
                shortcut.properties.value(QStringLiteral("trigger_description")).toString();
    }
    qCInfo(lcApp).noquote() << "Global shortcut bound through the desktop portal:"
                            << (m_boundTrigger.isEmpty() ? QStringLiteral("(as the desktop chose)")
                                                         : m_boundTrigger);
    Q_EMIT bound();
}

void PortalGlobalHotkey::activated(const QDBusMessage& message) {
    // (session handle, shortcut id, timestamp, options)
    const QVariantList arguments = message.arguments();
    if (arguments.size() < 2 || !m_pressed)
        return;
    if (arguments.at(0).value<QDBusObjectPath>().path() == m_session &&
        arguments.at(1).toString() == shortcutID)
        m_pressed();
}
