#include "model/TopicSnippet.h"

#include "model/Graphemes.h"
#include "model/TextTrim.h"

#include <QRegularExpression>
#include <QStringList>

std::optional<QString> TopicSnippet::firstLine(const std::optional<QString>& text,
                                               qsizetype maxChars) {
    if (!text)
        return std::nullopt;
    static const QRegularExpression speaker(
        QStringLiteral("^\\s*(user|assistant|human|ai|system)\\s*:\\s*"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::MultilineOption |
            QRegularExpression::UseUnicodePropertiesOption);
    QString cleaned = *text;
    cleaned.remove(speaker);

    static const QRegularExpression lineBreaks(QStringLiteral("\\r\\n|\\r|\\n"));
    QString line;
    for (const QString& candidate : cleaned.split(lineBreaks)) {
        line = TextTrim::spacesAndTabs(candidate);
        if (!line.isEmpty())
            break;
    }
    line = line.simplified(); // every run of white space becomes one space
    if (line.isEmpty())
        return std::nullopt;
    if (Graphemes::fitsWithin(line, maxChars))
        return line;

    QString cut = Graphemes::prefix(line, maxChars);
    const qsizetype lastSpace = cut.lastIndexOf(u' ');
    if (lastSpace >= 0 && Graphemes::count(cut.left(lastSpace)) >= maxChars / 2)
        cut.truncate(lastSpace);
    return TextTrim::spacesAndTabs(cut) + QChar(0x2026);
}
