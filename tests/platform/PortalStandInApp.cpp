// A stand-in desktop portal offering GlobalShortcuts, as KDE Plasma's or Hyprland's would:
// owns org.freedesktop.portal.Desktop, opens sessions, binds shortcuts (printing
// "bound ID TRIGGER" on stdout and answering the trigger it was offered), and emits
// Activated for the bound shortcut each time a line "press" arrives on standard input.
#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QObject>
#include <QSocketNotifier>
#include <cstdio>
#include <iostream>
#include <unistd.h>

struct Shortcut {
    QString id;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(Shortcut)

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

class Portal : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    uint version() const { return 1; }
    QString session;
    QString shortcut;

public Q_SLOTS:
    QDBusObjectPath CreateSession(const QVariantMap& options) {
        session =
            QStringLiteral("/org/freedesktop/portal/desktop/session/%1/%2")
                .arg(sender(), options.value(QStringLiteral("session_handle_token")).toString());
        respond(options, {{QStringLiteral("session_handle"), session}});
        return QDBusObjectPath(requestPath(options));
    }
    QDBusObjectPath BindShortcuts(const QDBusObjectPath& sessionHandle,
                                  const QList<Shortcut>& shortcuts, const QString&,
                                  const QVariantMap& options) {
        QList<Shortcut> bound;
        for (Shortcut each : shortcuts) {
            const QString trigger =
                each.properties.value(QStringLiteral("preferred_trigger")).toString();
            std::printf("bound %s %s\n", qPrintable(each.id), qPrintable(trigger));
            std::fflush(stdout);
            shortcut = each.id;
            each.properties = {{QStringLiteral("description"),
                                each.properties.value(QStringLiteral("description"))},
                               {QStringLiteral("trigger_description"), trigger}};
            bound.append(each);
        }
        if (sessionHandle.path() == session)
            respond(options, {{QStringLiteral("shortcuts"), QVariant::fromValue(bound)}});
        return QDBusObjectPath(requestPath(options));
    }

public:
    void press() {
        QDBusMessage activated = QDBusMessage::createSignal(
            QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.GlobalShortcuts"), QStringLiteral("Activated"));
        activated << QVariant::fromValue(QDBusObjectPath(session)) << shortcut << qulonglong(1)
                  << QVariantMap{};
        QDBusConnection::sessionBus().send(activated);
    }

private:
    QString sender() const {
        QString name = message().service().mid(1);
        return name.replace(u'.', u'_');
    }
    QString requestPath(const QVariantMap& options) const {
        return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
            .arg(sender(), options.value(QStringLiteral("handle_token")).toString());
    }
    // The answer arrives as the Request object's Response signal, after the call returns.
    void respond(const QVariantMap& options, const QVariantMap& results) {
        QDBusMessage response = QDBusMessage::createSignal(
            requestPath(options), QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        response << uint(0) << results;
        QMetaObject::invokeMethod(
            this, [response] { QDBusConnection::sessionBus().send(response); },
            Qt::QueuedConnection);
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    qDBusRegisterMetaType<Shortcut>();
    qDBusRegisterMetaType<QList<Shortcut>>();
    Portal portal;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                            QDBusConnection::ExportAllSlots |
                                QDBusConnection::ExportAllProperties) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")))
        return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        std::string line;
        if (!std::getline(std::cin, line)) {
            QCoreApplication::quit();
            return;
        }
        if (line == "press")
            portal.press();
    });
    return QCoreApplication::exec();
}

#include "PortalStandInApp.moc"
