#pragma once

#include <QList>
#include <QString>
#include <optional>

// Finds, among an application's window titles, the window of a loop's identity (its label or
// title key): the same title key first, else the first title whose key begins with the
// identity's or is a beginning of it.
namespace WindowMatcher {
std::optional<qsizetype> index(const QList<std::optional<QString>>& titles,
                               const std::optional<QString>& identity);
}
