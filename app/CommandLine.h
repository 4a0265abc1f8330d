#pragma once

#include <QStringList>

// `tessarine COMMAND …`: a client of the running engine's control interface on the session
// bus. Exit status 0 on success, 2 on a usage error, 3 when no Tessarine is running, 1 on any
// other failure, each failure with one line on stderr saying what to do.
namespace CommandLine {

// Whether `word` names a command (the first argument of a client run).
bool isCommand(const QString& word);
// The commands, for --help.
QString usage();
// Runs a command; `arguments` starts with the command's name.
int run(const QStringList& arguments);
// Asks a running engine to show itself; false when none answers.
bool askToShow();

} // namespace CommandLine
