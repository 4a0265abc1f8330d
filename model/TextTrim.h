#pragma once

#include <QString>

namespace TextTrim {
// Trims spaces (any Unicode space separator) and tabs, but not line breaks, from both ends.
inline QString spacesAndTabs(const QString& text) {
    const auto isSpaceOrTab = [](QChar c) {
        return c == QLatin1Char('\t') || c.category() == QChar::Separator_Space;
    };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpaceOrTab(text.at(begin)))
        ++begin;
    while (end > begin && isSpaceOrTab(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}
} // namespace TextTrim
