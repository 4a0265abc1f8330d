#pragma once

#include <QByteArray>
#include <QList>

namespace ProcStat {
// The fields of a /proc/<pid>/stat line after the command name, from field 3 (the state)
// on. They are counted from the last ')', since the name may hold spaces and parentheses;
// nothing for a line without one.
inline QList<QByteArray> fieldsAfterCommand(const QByteArray& line) {
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0)
        return {};
    return line.mid(close + 1).simplified().split(' ');
}
} // namespace ProcStat
