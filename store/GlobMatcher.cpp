#include "store/GlobMatcher.h"

#include <QChar>
#include <QList>
#include <optional>

namespace {

using CodePoints = QList<uint>; // what QString::toUcs4() gives

char32_t fold(char32_t c) {
    return QChar::toCaseFolded(c);
}

bool inClass(const QString& name, char32_t c) {
    const QChar::Category category = QChar::category(c);
    if (name == u"alpha")
        return QChar::isLetter(c);
    if (name == u"digit")
        return c >= U'0' && c <= U'9';
    if (name == u"alnum")
        return QChar::isLetterOrNumber(c);
    if (name == u"upper")
        return QChar::isUpper(c) || QChar::isLower(c); // case folding makes the two alike
    if (name == u"lower")
        return QChar::isLower(c) || QChar::isUpper(c);
    if (name == u"space")
        return QChar::isSpace(c);
    if (name == u"blank")
        return c == U'\t' || category == QChar::Separator_Space;
    if (name == u"punct")
        return QChar::isPunct(c) || QChar::isSymbol(c);
    if (name == u"xdigit")
        return (c >= U'0' && c <= U'9') || (c >= U'a' && c <= U'f') || (c >= U'A' && c <= U'F');
    if (name == u"cntrl")
        return category == QChar::Other_Control;
    if (name == u"print")
        return QChar::isPrint(c);
    if (name == u"graph")
        return QChar::isPrint(c) && !QChar::isSpace(c);
    return false;
}

// Matches one bracket expression starting at pattern[start] == '['. Returns the index just
// past its closing ']' and whether the character belongs to the set, or nothing when the
// bracket is not closed (then "[" is an ordinary character).
struct BracketResult {
    qsizetype end;
    bool matched;
};

std::optional<BracketResult> matchBracket(const CodePoints& pattern, qsizetype start, char32_t c) {
    qsizetype i = start + 1;
    const qsizetype n = pattern.size();
    bool negated = false;
    if (i < n && (pattern[i] == U'!' || pattern[i] == U'^')) {
        negated = true;
        ++i;
    }
    const char32_t folded = fold(c);
    bool matched = false;
    bool first = true;
    while (i < n) {
        char32_t low = pattern[i];
        if (low == U']' && !first)
            return BracketResult{i + 1, matched != negated};
        first = false;

        if (low == U'[' && i + 1 < n && pattern[i + 1] == U':') {
            qsizetype close = i + 2;
            while (close + 1 < n && !(pattern[close] == U':' && pattern[close + 1] == U']'))
                ++close;
            if (close + 1 < n) {
                QString name;
                for (qsizetype k = i + 2; k < close; ++k) {
                    const char32_t point = pattern[k];
                    name.append(QString::fromUcs4(&point, 1));
                }
                matched = matched || inClass(name, c);
                i = close + 2;
                continue;
            }
        }
        if (low == U'\\' && i + 1 < n)
            low = pattern[++i];
        ++i;
        char32_t high = low;
        if (i + 1 < n && pattern[i] == U'-' && pattern[i + 1] != U']') {
            high = pattern[i + 1];
            i += 2;
            if (high == U'\\' && i < n)
                high = pattern[i++];
        }
        const char32_t foldedLow = fold(low);
        const char32_t foldedHigh = fold(high);
        if ((folded >= foldedLow && folded <= foldedHigh) || (c >= low && c <= high))
            matched = true;
    }
    return std::nullopt;
}

} // namespace

bool GlobMatcher::matches(const QString& patternText, const QString& textText) {
    const CodePoints pattern = patternText.toUcs4();
    const CodePoints text = textText.toUcs4();
    const qsizetype m = pattern.size();
    const qsizetype n = text.size();

    qsizetype p = 0;
    qsizetype t = 0;
    qsizetype starPattern = -1; // pattern index just past the last "*"
    qsizetype starText = 0;     // text index that "*" was last tried to end at

    while (t < n) {
        if (p < m) {
            const char32_t c = pattern[p];
            if (c == U'*') {
                starPattern = ++p;
                starText = t;
                continue;
            }
            if (c == U'?') {
                ++p;
                ++t;
                continue;
            }
            bool literal = true;
            if (c == U'[') {
                if (const auto bracket = matchBracket(pattern, p, text[t])) {
                    literal = false;
                    if (bracket->matched) {
                        p = bracket->end;
                        ++t;
                        continue;
                    }
                }
            }
            if (literal) {
                char32_t expected = c;
                qsizetype width = 1;
                if (c == U'\\' && p + 1 < m) {
                    expected = pattern[p + 1];
                    width = 2;
                }
                if (fold(expected) == fold(text[t])) {
                    p += width;
                    ++t;
                    continue;
                }
            }
        }
        // Mismatch: let the last "*" swallow one more character, or fail.
        if (starPattern < 0)
            return false;
        p = starPattern;
        t = ++starText;
    }
    while (p < m && pattern[p] == U'*')
        ++p;
    return p == m;
}
