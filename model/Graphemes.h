#pragma once

#include <QString>

// Lengths and cuts in user-perceived characters (grapheme clusters), so an emoji with
// modifiers or a letter with combining marks counts as one and is never split.
namespace Graphemes {
qsizetype count(const QString& text);
// The first `limit` characters (the whole text when it is shorter).
QString prefix(const QString& text, qsizetype limit);
// The last `limit` characters (the whole text when it is shorter).
QString suffix(const QString& text, qsizetype limit);
// Whether the text has at most `limit` characters (stops counting at the limit).
bool fitsWithin(const QString& text, qsizetype limit);
} // namespace Graphemes
