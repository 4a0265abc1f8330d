#pragma once

#include <QString>

// Shell-style wildcard matching of a whole text, with case folding: "*" matches any run of
// characters including "/", "?" one character, "[...]" one character of a set (ranges,
// "!" or "^" negation, POSIX classes such as [:digit:]), "\" quotes the next character, and
// a leading "." is not special. Works on Unicode code points, so non-ASCII titles match.
namespace GlobMatcher {
bool matches(const QString& pattern, const QString& text);
}
