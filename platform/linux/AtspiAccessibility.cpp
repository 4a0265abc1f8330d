#include "platform/linux/AtspiAccessibility.h"

#include "model/Log.h"

#include <QDBusArgument>
#include <QDBusVariant>
#include <QSet>

namespace {

const QString kAccessible = AtspiBus::accessibleInterface;
const QString kText = QStringLiteral("org.a11y.atspi.Text");
const QString kAction = QStringLiteral("org.a11y.atspi.Action");

AtspiBus::Call method(const AtspiBus::Reference& element, const QString& interface,
                      const QString& name, const QVariantList& arguments = {}) {
    return {element.service, element.path, interface, name, arguments};
}

// Follows one application's accessibility events on the accessibility bus.
class AtspiObserver final : public QObject, public Accessibility::Observer {
    Q_OBJECT
public:
    AtspiObserver(AtspiBus& bus, qint64 pid, QString service, Accessibility::Callback callback)
        : m_bus(bus)
        , m_pid(pid)
        , m_service(std::move(service))
        , m_callback(std::move(callback)) {
        // Toolkits emit events only while someone listens for them.
        for (const char* event : {"object:", "window:"})
            m_bus.call({QStringLiteral("org.a11y.atspi.Registry"),
                        QStringLiteral("/org/a11y/atspi/registry"),
                        QStringLiteral("org.a11y.atspi.Registry"),
                        QStringLiteral("RegisterEvent"),
                        {QString::fromLatin1(event)}});
        QDBusConnection connection = m_bus.connection();
        for (const char* name :
             {"ChildrenChanged", "PropertyChange", "StateChanged", "TextChanged"})
            connection.connect(m_service, QString(), QStringLiteral("org.a11y.atspi.Event.Object"),
                               QString::fromLatin1(name), this, SLOT(event(QDBusMessage)));
        for (const char* name : {"Create", "Destroy"})
            connection.connect(m_service, QString(), QStringLiteral("org.a11y.atspi.Event.Window"),
                               QString::fromLatin1(name), this, SLOT(event(QDBusMessage)));
    }
    ~AtspiObserver() override {
        QDBusConnection connection = m_bus.connection();
        for (const char* name :
             {"ChildrenChanged", "PropertyChange", "StateChanged", "TextChanged"})
            connection.disconnect(m_service, QString(),
                                  QStringLiteral("org.a11y.atspi.Event.Object"),
                                  QString::fromLatin1(name), this, SLOT(event(QDBusMessage)));
        for (const char* name : {"Create", "Destroy"})
            connection.disconnect(m_service, QString(),
                                  QStringLiteral("org.a11y.atspi.Event.Window"),
                                  QString::fromLatin1(name), this, SLOT(event(QDBusMessage)));
    }

    bool addNotification(const AXElement&, const QString& notification) override {
        static const QSet<QString> known{
            QStringLiteral("AXCreated"),           QStringLiteral("AXUIElementDestroyed"),
            QStringLiteral("AXValueChanged"),      QStringLiteral("AXTitleChanged"),
            QStringLiteral("AXLiveRegionChanged"), QStringLiteral("AXLiveRegionCreated"),
            QStringLiteral("AXWindowCreated"),     QStringLiteral("AXFocusedWindowChanged")};
        if (!known.contains(notification))
            return false;
        m_notifications.insert(notification);
        return true;
    }

private Q_SLOTS:
    void event(const QDBusMessage& message) {
        // The first argument names what changed ("add", "accessible-name", "showing", …).
        const QString detail =
            message.arguments().isEmpty() ? QString() : message.arguments().constFirst().toString();
        QString notification;
        const QString member = message.member();
        if (member == u"ChildrenChanged")
            notification = detail.startsWith(u"remove") ? QStringLiteral("AXUIElementDestroyed")
                                                        : QStringLiteral("AXCreated");
        else if (member == u"PropertyChange")
            notification = detail == u"accessible-value" ? QStringLiteral("AXValueChanged")
                                                         : QStringLiteral("AXTitleChanged");
        else if (member == u"TextChanged" || member == u"StateChanged")
            notification = QStringLiteral("AXValueChanged");
        else if (member == u"Create")
            notification = QStringLiteral("AXWindowCreated");
        else if (member == u"Destroy")
            notification = QStringLiteral("AXUIElementDestroyed");
        if (m_notifications.contains(notification) && m_callback)
            m_callback(AXElement::remote(m_pid, m_service, message.path()), notification);
    }

private:
    AtspiBus& m_bus;
    qint64 m_pid;
    QString m_service;
    Accessibility::Callback m_callback;
    QSet<QString> m_notifications;
};

} // namespace

AtspiAccessibility::AtspiAccessibility(AtspiBus& bus, std::function<bool()> trusted)
    : m_bus(bus)
    , m_trusted(std::move(trusted)) {}

quint64 AtspiAccessibility::states(const QDBusMessage& reply) {
    if (reply.arguments().isEmpty())
        return 0;
    QList<uint> words;
    const QVariant value = reply.arguments().constFirst();
    if (value.canConvert<QDBusArgument>())
        value.value<QDBusArgument>() >> words;
    else
        words = value.value<QList<uint>>();
    return (words.value(0)) | (quint64(words.value(1)) << 32);
}

QString AtspiAccessibility::roleName(uint role, quint64 stateSet) {
    switch (role) {
    case kRolePushButton:
        return QStringLiteral("AXButton");
    case kRoleComboBox:
        return QStringLiteral("AXComboBox");
    case kRoleFrame:
    case kRoleWindow:
    case kRoleDialog:
        return QStringLiteral("AXWindow");
    case kRoleApplication:
        return QStringLiteral("AXApplication");
    case kRoleText:
    case kRoleEntry:
        if (has(stateSet, kStateMultiLine) ||
            (role == kRoleText && !has(stateSet, kStateSingleLine)))
            return QStringLiteral("AXTextArea");
        return QStringLiteral("AXTextField");
    default:
        return QStringLiteral("AXUnknown");
    }
}

std::optional<AtspiBus::Reference> AtspiAccessibility::reference(const AXElement& element) const {
    if (!m_trusted())
        return std::nullopt;
    if (element.role == AXElement::Role::Remote)
        return AtspiBus::Reference{element.service, element.path};
    if (element.role != AXElement::Role::Application)
        return std::nullopt;
    const std::optional<QString> service = m_bus.applicationOf(element.pid);
    if (!service)
        return std::nullopt;
    return AtspiBus::Reference{*service, AtspiBus::rootPath};
}

QList<AXElement> AtspiAccessibility::children(const AXElement& element, bool windowsOnly) const {
    QList<AXElement> list;
    const std::optional<AtspiBus::Reference> parent = reference(element);
    if (!parent)
        return list;
    const std::optional<QDBusMessage> reply =
        m_bus.call(method(*parent, kAccessible, QStringLiteral("GetChildren")));
    if (!reply)
        return list;
    const QList<AtspiBus::Reference> references = AtspiBus::references(*reply);
    QList<AtspiBus::Call> roles;
    for (const AtspiBus::Reference& child : references)
        roles.append(method(child, kAccessible, QStringLiteral("GetRole")));
    const QList<std::optional<QDBusMessage>> childRoles =
        windowsOnly ? m_bus.callAll(roles) : QList<std::optional<QDBusMessage>>();
    for (qsizetype i = 0; i < references.size(); ++i) {
        if (windowsOnly) {
            const uint role = childRoles[i] && !childRoles[i]->arguments().isEmpty()
                                  ? childRoles[i]->arguments().constFirst().toUInt()
                                  : 0;
            if (role != kRoleFrame && role != kRoleWindow && role != kRoleDialog)
                continue;
        }
        list.append(AXElement::remote(element.pid, references[i].service, references[i].path));
    }
    return list;
}

std::optional<AXValue> AtspiAccessibility::attribute(const AXElement& element,
                                                     const QString& name) const {
    const std::optional<AtspiBus::Reference> self = reference(element);
    if (!self)
        return std::nullopt;
    if (name == u"AXChildren")
        return children(element, false);
    if (name == u"AXWindows")
        return children(element, true);
    if (name == u"AXFocusedWindow" || name == u"AXMainWindow") {
        const QList<AXElement> windows = children(element, true);
        QList<AtspiBus::Call> calls;
        for (const AXElement& window : windows)
            calls.append(
                method({window.service, window.path}, kAccessible, QStringLiteral("GetState")));
        const QList<std::optional<QDBusMessage>> replies = m_bus.callAll(calls);
        for (qsizetype i = 0; i < windows.size(); ++i) {
            if (replies[i] && has(states(*replies[i]), kStateActive))
                return windows[i];
        }
        return std::nullopt;
    }
    if (name == u"AXRoleDescription") // the toolkit's own role name ("document web")
        return AtspiBus::text(
            m_bus.call(method(*self, kAccessible, QStringLiteral("GetRoleName"))));
    if (name == u"AXTitle" || name == u"AXDescription") {
        const std::optional<QDBusMessage> reply = m_bus.call(AtspiBus::property(
            *self, kAccessible,
            name == u"AXTitle" ? QStringLiteral("Name") : QStringLiteral("Description")));
        if (!reply)
            return std::nullopt;
        return AtspiBus::text(reply);
    }
    const QList<std::optional<QDBusMessage>> basics =
        m_bus.callAll({method(*self, kAccessible, QStringLiteral("GetRole")),
                       method(*self, kAccessible, QStringLiteral("GetState"))});
    if (!basics[0] || !basics[1] || basics[0]->arguments().isEmpty())
        return std::nullopt;
    const uint role = basics[0]->arguments().constFirst().toUInt();
    const quint64 stateSet = states(*basics[1]);
    if (name == u"AXRole")
        return roleName(role, stateSet);
    if (name == u"AXFocused")
        return has(stateSet, kStateFocused);
    if (name == u"AXValueSettable" || name == u"AXEditable")
        return has(stateSet, kStateEditable);
    if (name == u"AXValue") {
        const std::optional<QDBusMessage> text =
            m_bus.call(method(*self, kText, QStringLiteral("GetText"), {0, -1}));
        if (!text)
            return std::nullopt;
        return AtspiBus::text(text);
    }
    return std::nullopt;
}

bool AtspiAccessibility::performAction(const AXElement& element, const QString& action) {
    const std::optional<AtspiBus::Reference> self = reference(element);
    if (!self || action != u"AXPress")
        return false;
    const std::optional<QDBusMessage> count =
        m_bus.call(AtspiBus::property(*self, kAction, QStringLiteral("NActions")));
    const int actions = count ? AtspiBus::text(count).toInt() : 0;
    QList<AtspiBus::Call> names;
    for (int i = 0; i < actions; ++i)
        names.append(method(*self, kAction, QStringLiteral("GetName"), {i}));
    const QList<std::optional<QDBusMessage>> replies = m_bus.callAll(names);
    int chosen = actions > 0 ? 0 : -1; // a control's first action is its main one
    for (int i = 0; i < actions; ++i) {
        const QString actionName = AtspiBus::text(replies[i]).toLower();
        if (actionName == u"press" || actionName == u"click" || actionName == u"activate") {
            chosen = i;
            break;
        }
    }
    if (chosen < 0)
        return false;
    const std::optional<QDBusMessage> done =
        m_bus.call(method(*self, kAction, QStringLiteral("DoAction"), {chosen}));
    return done && !done->arguments().isEmpty() && done->arguments().constFirst().toBool();
}

std::unique_ptr<Accessibility::Observer> AtspiAccessibility::createObserver(qint64 pid,
                                                                            Callback callback) {
    if (!m_trusted())
        return nullptr;
    const std::optional<QString> service = m_bus.applicationOf(pid);
    if (!service)
        return nullptr;
    return std::make_unique<AtspiObserver>(m_bus, pid, *service, std::move(callback));
}

#include "AtspiAccessibility.moc"
