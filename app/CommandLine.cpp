#include "app/CommandLine.h"

#include "app/CommandRequest.h"
#include "app/ControlService.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <cstdio>

namespace CommandLine {

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2, NotRunning = 3 };

int fail(int status, const QString& message) {
    std::fprintf(stderr, "tessarine: %s\n", qPrintable(message));
    return status;
}

void print(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
}

} // namespace

bool isCommand(const QString& word) {
    return CommandRequest::isCommand(word);
}

QString usage() {
    return CommandRequest::usage();
}

bool askToShow() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    QDBusInterface control(ControlService::serviceName, ControlService::objectPath,
                           ControlService::interfaceName, bus);
    return control.isValid() &&
           control.call(QStringLiteral("Show")).type() == QDBusMessage::ReplyMessage;
}

int run(const QStringList& arguments) {
    const CommandRequest::Parsed parsed = CommandRequest::parse(arguments, QDir::currentPath());
    if (!parsed.request)
        return fail(Usage, parsed.usageError);
    const CommandRequest::Request& request = *parsed.request;

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(ControlService::serviceName))
        return fail(NotRunning, QStringLiteral("Tessarine is not running; start it with "
                                               "`tessarine` (or `make run`)."));
    QDBusInterface control(ControlService::serviceName, ControlService::objectPath,
                           ControlService::interfaceName, bus);
    if (request.method.isEmpty()) {
        const QDBusReply<QString> reply = control.call(QStringLiteral("Loops"));
        if (!reply.isValid())
            return fail(Failure, reply.error().message());
        print(request.json ? reply.value() + u'\n'
                           : CommandRequest::listing(reply.value().toUtf8()));
        return Success;
    }
    QList<QVariant> values;
    for (const QString& argument : request.arguments)
        values.append(argument);
    const QDBusMessage reply = control.callWithArgumentList(QDBus::Block, request.method, values);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(Failure, reply.errorMessage());
    return Success;
}

} // namespace CommandLine
