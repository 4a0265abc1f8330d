#include "app/CommandLine.h"

#include "app/ControlService.h"
#include "app/UserCommands.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace CommandLine {

namespace {

enum Exit { Success = 0, Failure = 1, Usage = 2, NotRunning = 3 };

struct Command {
    const char* name;
    const char* method; // nullptr: handled here
    int arguments;      // -1: one or more, joined (a note)
    const char* help;
};

const Command kCommands[] = {
    {"loops", nullptr, 0, "loops [--json]        list the open loops"},
    {"open", "Open", 1, "open ID               take me back to a loop"},
    {"dismiss", "Dismiss", 1, "dismiss ID            let a loop go"},
    {"snooze", "Snooze", 2, "snooze ID DURATION    hide a loop for 10m, 1h, SECONDS or tomorrow"},
    {"pin", "TogglePin", 1, "pin ID                pin or unpin a loop"},
    {"not-ready", "MarkNotReady", 1, "not-ready ID          a ready loop is not done yet"},
    {"approve", "Approve", 1, "approve ID            answer a chat's Allow prompt (or go there)"},
    {"deny", "Deny", 1, "deny ID               answer a chat's Deny prompt (or go there)"},
    {"note", "SetNote", -1, "note ID TEXT          write a note on a loop"},
    {"clear-all", "ClearAll", 0, "clear-all             let every loop go"},
    {"pause", "Pause", 0, "pause                 stop remembering for now"},
    {"resume", "Resume", 0, "resume                remember again"},
    {"watch", "Watch", 1, "watch ID              tell me when a loop's application goes quiet"},
    {"export", "Export", 1, "export FILE           write all data to a JSON file"},
    {"exclude", "Exclude", 1, "exclude APP_ID        never track an application, erasing its data"},
    {"toggle", "Toggle", 0, "toggle                show or hide the loop list"},
};

const Command* find(const QString& word) {
    for (const Command& command : kCommands) {
        if (word == QLatin1String(command.name))
            return &command;
    }
    return nullptr;
}

int fail(int status, const QString& message) {
    std::fprintf(stderr, "tessarine: %s\n", qPrintable(message));
    return status;
}

void print(const QString& text) {
    std::fputs(text.toUtf8().constData(), stdout);
}

QString column(const QJsonObject& loop, const char* key) {
    const QJsonValue value = loop.value(QLatin1String(key));
    return value.isString() ? value.toString() : QStringLiteral("-");
}

} // namespace

bool isCommand(const QString& word) {
    return find(word) != nullptr;
}

QString usage() {
    QString text = QStringLiteral("Commands (to the running Tessarine; ids may be shortened to a "
                                  "unique beginning):\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  tessarine ") + QLatin1String(command.help) + u'\n';
    return text;
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
    const Command* command = find(arguments.value(0));
    if (!command)
        return fail(Usage, QStringLiteral("unknown command; see tessarine --help"));
    QStringList rest = arguments.mid(1);
    const bool json = command->method == nullptr && rest.removeAll(QStringLiteral("--json")) > 0;
    const bool countOk =
        command->arguments < 0 ? rest.size() >= 2 : rest.size() == command->arguments;
    if (!countOk)
        return fail(Usage, QStringLiteral("usage: tessarine %1")
                               .arg(QString::fromLatin1(command->help)
                                        .section(QStringLiteral("  "), 0, 0)
                                        .trimmed()));
    if (command->arguments < 0)
        rest = {rest.first(), rest.mid(1).join(u' ')};
    if (QLatin1String(command->name) == u"snooze" && !UserCommands::isDuration(rest.last()))
        return fail(Usage, QStringLiteral("\"%1\" is not a duration: use 10m, 1h, tomorrow or "
                                          "seconds.")
                               .arg(rest.last()));
    if (QLatin1String(command->name) == u"export")
        rest = {QFileInfo(rest.first()).absoluteFilePath()}; // the engine runs elsewhere

    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()->isServiceRegistered(ControlService::serviceName))
        return fail(NotRunning, QStringLiteral("Tessarine is not running; start it with "
                                               "`tessarine` (or `make run`)."));
    QDBusInterface control(ControlService::serviceName, ControlService::objectPath,
                           ControlService::interfaceName, bus);
    if (!command->method) {
        const QDBusReply<QString> reply = control.call(QStringLiteral("Loops"));
        if (!reply.isValid())
            return fail(Failure, reply.error().message());
        if (json) {
            print(reply.value() + u'\n');
            return Success;
        }
        const QJsonArray loops = QJsonDocument::fromJson(reply.value().toUtf8()).array();
        if (loops.isEmpty())
            print(QStringLiteral("No open loops.\n"));
        for (const QJsonValue& value : loops) {
            const QJsonObject loop = value.toObject();
            print(QStringLiteral("%1  %2  %3  %4%5\n")
                      .arg(column(loop, "id").left(8), column(loop, "group").leftJustified(12),
                           column(loop, "displayName") == u"-" ? column(loop, "bundleID")
                                                               : column(loop, "displayName"),
                           column(loop, "label"),
                           loop.value(QStringLiteral("isPinned")).toBool()
                               ? QStringLiteral("  (pinned)")
                               : QString()));
        }
        return Success;
    }
    QList<QVariant> values;
    for (const QString& argument : std::as_const(rest))
        values.append(argument);
    const QDBusMessage reply =
        control.callWithArgumentList(QDBus::Block, QLatin1String(command->method), values);
    if (reply.type() == QDBusMessage::ErrorMessage)
        return fail(Failure, reply.errorMessage());
    return Success;
}

} // namespace CommandLine
