#include "app/CommandRequest.h"

#include "model/SnoozeDuration.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

struct Command {
    const char* name;
    const char* method; // nullptr: read here
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

CommandRequest::Parsed refused(const QString& why) {
    return {std::nullopt, why};
}

QString column(const QJsonObject& loop, const char* key) {
    const QJsonValue value = loop.value(QLatin1String(key));
    return value.isString() ? value.toString() : QStringLiteral("-");
}

} // namespace

bool CommandRequest::isCommand(const QString& word) {
    return find(word) != nullptr;
}

QString CommandRequest::usage() {
    QString text = QStringLiteral("Commands (to the running Tessarine; ids may be shortened to a "
                                  "unique beginning):\n");
    for (const Command& command : kCommands)
        text += QStringLiteral("  tessarine ") + QLatin1String(command.help) + u'\n';
    return text;
}

CommandRequest::Parsed CommandRequest::parse(const QStringList& arguments,
                                             const QString& workingDirectory) {
    const Command* command = find(arguments.value(0));
    if (!command)
        return refused(QStringLiteral("unknown command; see tessarine --help"));
    QStringList rest = arguments.mid(1);
    const bool json = command->method == nullptr && rest.removeAll(QStringLiteral("--json")) > 0;
    const bool countOk =
        command->arguments < 0 ? rest.size() >= 2 : rest.size() == command->arguments;
    if (!countOk)
        return refused(QStringLiteral("usage: tessarine %1")
                           .arg(QString::fromLatin1(command->help)
                                    .section(QStringLiteral("  "), 0, 0)
                                    .trimmed()));
    if (command->arguments < 0)
        rest = {rest.first(), rest.mid(1).join(u' ')};
    const QString name = QLatin1String(command->name);
    if (name == u"snooze" && !SnoozeDuration::isDuration(rest.last()))
        return refused(QStringLiteral("\"%1\" is not a duration: use 10m, 1h, tomorrow or "
                                      "seconds.")
                           .arg(rest.last()));
    if (name == u"export")
        rest = {QDir(workingDirectory).absoluteFilePath(rest.first())};
    return {Request{name, QLatin1String(command->method), json, rest}, {}};
}

QString CommandRequest::listing(const QByteArray& loopsJson) {
    const QJsonArray loops = QJsonDocument::fromJson(loopsJson).array();
    if (loops.isEmpty())
        return QStringLiteral("No open loops.\n");
    QString text;
    for (const QJsonValue& value : loops) {
        const QJsonObject loop = value.toObject();
        text +=
            QStringLiteral("%1  %2  %3  %4%5\n")
                .arg(column(loop, "id").left(8), column(loop, "group").leftJustified(12),
                     column(loop, "displayName") == u"-" ? column(loop, "bundleID")
                                                         : column(loop, "displayName"),
                     column(loop, "label"),
                     loop.value(QStringLiteral("isPinned")).toBool() ? QStringLiteral("  (pinned)")
                                                                     : QString());
    }
    return text;
}
