#include "model/TitleKey.h"

#include "model/TextTrim.h"

#include <QRegularExpression>

namespace {

// Activity and unsaved-change markers that applications put into titles while they work.
constexpr char16_t kActivityMarks[] = {u'\u25CF', u'\u2022', u'\u2733', u'\u25D0', u'*'};

} // namespace

std::optional<QString> TitleKey::normalize(const std::optional<QString>& title) {
    if (!title)
        return std::nullopt;
    QString text = title->trimmed();
    if (text.isEmpty())
        return std::nullopt;

    for (char16_t mark : kActivityMarks)
        text.remove(QChar(mark));

    // A leading "(3)", "[45%]" unread counter or progress figure.
    static const QRegularExpression leadingCounter(
        QStringLiteral("^\\s*[\\(\\[]\\d+%?[\\)\\]]\\s*"),
        QRegularExpression::UseUnicodePropertiesOption);
    text.remove(leadingCounter);

    // Application suffixes, applied one after another to the shortened text.
    static const QString separators[] = {QStringLiteral(" \u2014 "), QStringLiteral(" \u2013 "),
                                         QStringLiteral(" - "), QStringLiteral(" | ")};
    for (const QString& separator : separators) {
        const qsizetype at = text.indexOf(separator);
        if (at >= 0)
            text.truncate(at);
    }

    text = TextTrim::spacesAndTabs(text).toLower();
    if (text.isEmpty())
        return std::nullopt;
    return text;
}
