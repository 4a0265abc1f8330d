#include "model/Graphemes.h"

#include <QTextBoundaryFinder>

qsizetype Graphemes::count(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    while (finder.toNextBoundary() > 0)
        ++characters;
    return characters;
}

QString Graphemes::prefix(const QString& text, qsizetype limit) {
    if (limit <= 0)
        return QString();
    // Each character is at least one UTF-16 unit, so short texts need no scan.
    if (text.size() <= limit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype characters = 0;
    qsizetype end = 0;
    while (characters < limit) {
        const qsizetype next = finder.toNextBoundary();
        if (next < 0)
            return text;
        end = next;
        ++characters;
    }
    return text.left(end);
}

QString Graphemes::suffix(const QString& text, qsizetype limit) {
    if (limit <= 0)
        return QString();
    if (text.size() <= limit)
        return text;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    finder.toEnd();
    qsizetype start = text.size();
    for (qsizetype characters = 0; characters < limit; ++characters) {
        const qsizetype previous = finder.toPreviousBoundary();
        if (previous < 0)
            return text;
        start = previous;
    }
    return text.mid(start);
}

bool Graphemes::fitsWithin(const QString& text, qsizetype limit) {
    return prefix(text, limit).size() == text.size();
}
