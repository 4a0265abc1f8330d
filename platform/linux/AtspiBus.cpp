#include "platform/linux/AtspiBus.h"

#include "model/Log.h"

#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusReply>
#include <QDBusVariant>
#include <atomic>

namespace {

std::atomic<int> connections{0};

} // namespace

AtspiBus::AtspiBus(Clock clock)
    : m_clock(std::move(clock))
    , m_name(QStringLiteral("tessarine-atspi-%1").arg(connections.fetch_add(1))) {}

AtspiBus::~AtspiBus() {
    if (m_connected)
        QDBusConnection::disconnectFromBus(m_name);
}

bool AtspiBus::isConnected() {
    if (!m_tried) {
        m_tried = true;
        m_connected = connectBus();
    }
    return m_connected;
}

QDBusConnection AtspiBus::connection() {
    isConnected();
    return QDBusConnection(m_name);
}

bool AtspiBus::connectBus() {
    QDBusMessage ask = QDBusMessage::createMethodCall(
        QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
        QStringLiteral("org.a11y.Bus"), QStringLiteral("GetAddress"));
    const QDBusMessage reply = QDBusConnection::sessionBus().call(ask, QDBus::Block, 2000);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        qCInfo(lcDetector) << "No accessibility bus: other applications' controls cannot be read";
        return false;
    }
    const QDBusConnection bus =
        QDBusConnection::connectToBus(reply.arguments().constFirst().toString(), m_name);
    if (!bus.isConnected()) {
        qCWarning(lcDetector).noquote()
            << "Cannot connect to the accessibility bus:" << bus.lastError().message();
        return false;
    }
    return true;
}

bool AtspiBus::isSkipped(const QString& service) const {
    const auto until = m_skippedUntil.constFind(service);
    return until != m_skippedUntil.cend() && m_clock() < *until;
}

void AtspiBus::noteFailure(const QString& service, const QDBusMessage& reply, int timeoutMs) {
    const QString error = reply.errorName();
    if (error != u"org.freedesktop.DBus.Error.NoReply" &&
        error != u"org.freedesktop.DBus.Error.Timeout" &&
        error != u"org.freedesktop.DBus.Error.TimedOut")
        return; // an answer, only a negative one
    if (!isSkipped(service))
        qCWarning(lcDetector).noquote()
            << "An application on the accessibility bus (" + service + ") did not answer within"
            << timeoutMs << "ms; it is left alone for" << kSkipFor.count() << "s";
    m_skippedUntil.insert(service, m_clock() + kSkipFor);
}

std::optional<QDBusMessage> AtspiBus::call(const Call& call) {
    return callAll({call}).constFirst();
}

QList<std::optional<QDBusMessage>> AtspiBus::callAll(const QList<Call>& calls) {
    QList<std::optional<QDBusMessage>> replies(calls.size());
    if (!isConnected())
        return replies;
    QDBusConnection bus(m_name);
    // A window of calls in flight: an application answers its calls one after the other, so
    // thousands sent at once would wait behind each other past their timeouts.
    QList<std::pair<qsizetype, QDBusPendingCall>> inFlight;
    const auto settleOldest = [&] {
        auto [index, pending] = inFlight.takeFirst();
        pending.waitForFinished();
        const QDBusMessage reply = pending.reply();
        if (reply.type() == QDBusMessage::ReplyMessage)
            replies[index] = reply;
        else
            noteFailure(calls[index].service, reply, calls[index].timeoutMs);
    };
    for (qsizetype i = 0; i < calls.size(); ++i) {
        const Call& each = calls[i];
        if (isSkipped(each.service))
            continue;
        if (inFlight.size() >= kInFlight)
            settleOldest();
        if (isSkipped(each.service))
            continue; // it has just let one run out
        QDBusMessage message =
            QDBusMessage::createMethodCall(each.service, each.path, each.interface, each.method);
        message.setArguments(each.arguments);
        inFlight.append({i, bus.asyncCall(message, each.timeoutMs)});
        ++m_callsSent;
    }
    while (!inFlight.isEmpty())
        settleOldest();
    return replies;
}

AtspiBus::Call AtspiBus::property(const Reference& element, const QString& interface,
                                  const QString& name) {
    return Call{element.service,
                element.path,
                QStringLiteral("org.freedesktop.DBus.Properties"),
                QStringLiteral("Get"),
                {interface, name}};
}

QList<AtspiBus::Reference> AtspiBus::references(const QDBusMessage& reply) {
    QList<Reference> list;
    if (reply.arguments().isEmpty())
        return list;
    const QVariant value = reply.arguments().constFirst();
    if (!value.canConvert<QDBusArgument>())
        return list;
    const QDBusArgument argument = value.value<QDBusArgument>();
    argument.beginArray();
    while (!argument.atEnd()) {
        Reference reference;
        QDBusObjectPath path;
        argument.beginStructure();
        argument >> reference.service >> path;
        argument.endStructure();
        reference.path = path.path();
        list.append(reference);
    }
    argument.endArray();
    return list;
}

QString AtspiBus::text(const std::optional<QDBusMessage>& reply) {
    if (!reply || reply->arguments().isEmpty())
        return {};
    const QVariant value = reply->arguments().constFirst();
    return value.canConvert<QDBusVariant>() ? value.value<QDBusVariant>().variant().toString()
                                            : value.toString();
}

QMap<QString, QString> AtspiBus::stringMap(const std::optional<QDBusMessage>& reply) {
    QMap<QString, QString> map;
    if (!reply || reply->arguments().isEmpty() ||
        !reply->arguments().constFirst().canConvert<QDBusArgument>())
        return map;
    reply->arguments().constFirst().value<QDBusArgument>() >> map;
    return map;
}

std::optional<QString> AtspiBus::applicationOf(qint64 pid) {
    if (!isConnected() || pid <= 0)
        return std::nullopt;
    const auto processOf = [](const QString& service) {
        return Call{QStringLiteral("org.freedesktop.DBus"),
                    QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"),
                    QStringLiteral("GetConnectionUnixProcessID"),
                    {service}};
    };
    const auto isOf = [pid](const std::optional<QDBusMessage>& reply) {
        return reply && !reply->arguments().isEmpty() &&
               reply->arguments().constFirst().toLongLong() == pid;
    };
    // A bus name is never reused, but its application may have gone.
    if (const auto known = m_applications.constFind(pid); known != m_applications.cend()) {
        if (isOf(call(processOf(*known))))
            return *known;
        m_applications.remove(pid);
    }
    const std::optional<QDBusMessage> children =
        call({QStringLiteral("org.a11y.atspi.Registry"), rootPath, accessibleInterface,
              QStringLiteral("GetChildren")});
    if (!children)
        return std::nullopt;
    const QList<Reference> applications = references(*children);
    QList<Call> owners;
    for (const Reference& application : applications)
        owners.append(processOf(application.service));
    const QList<std::optional<QDBusMessage>> processes = callAll(owners);
    for (qsizetype i = 0; i < applications.size(); ++i) {
        if (isOf(processes[i])) {
            m_applications.insert(pid, applications[i].service);
            return applications[i].service;
        }
    }
    return std::nullopt;
}
