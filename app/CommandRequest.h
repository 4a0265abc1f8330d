#pragma once

#include <QString>
#include <QStringList>
#include <optional>

// The words of `tessarine COMMAND …` made a request to the running engine, before anything is
// sent: the command, its checked arguments, or the usage line that explains what is wrong.
namespace CommandRequest {

struct Request {
    QString command;
    QString method; // the control interface's method; empty for "loops", read here
    bool json = false;
    QStringList arguments;
};
struct Parsed {
    std::optional<Request> request;
    QString usageError; // set when there is no request
};

// Whether `word` names a command (the first argument of a client run).
bool isCommand(const QString& word);
// The commands, for --help.
QString usage();
// `arguments` starts with the command's name. An export's file becomes absolute against
// `workingDirectory` (the engine runs elsewhere).
Parsed parse(const QStringList& arguments, const QString& workingDirectory);
// The loops as the engine reports them (a JSON array), one line each, for people.
QString listing(const QByteArray& loopsJson);

} // namespace CommandRequest
