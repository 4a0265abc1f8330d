#include "model/LoopDisplayText.h"

#include <QList>
#include <QRegularExpression>
#include <QStringList>

namespace AISiteMark {

namespace {

struct Needle {
    const char* needle;
    Site site;
};

const Site kClaude{QStringLiteral("Claude"), QStringLiteral("C"), 0.85, 0.42, 0.26};
const Site kChatGPT{QStringLiteral("ChatGPT"), QStringLiteral("G"), 0.04, 0.65, 0.58};

const QList<Needle>& needles() {
    static const QList<Needle> table = {
        {"claude", kClaude},
        {"chatgpt", kChatGPT},
        {"openai", kChatGPT},
        {"gemini", {QStringLiteral("Gemini"), QStringLiteral("G"), 0.26, 0.52, 0.96}},
        {"perplexity", {QStringLiteral("Perplexity"), QStringLiteral("P"), 0.13, 0.55, 0.55}},
        {"copilot", {QStringLiteral("Copilot"), QStringLiteral("C"), 0.20, 0.45, 0.90}},
        {"grok", {QStringLiteral("Grok"), QStringLiteral("X"), 0.15, 0.15, 0.15}},
    };
    return table;
}

} // namespace

std::optional<Site> detect(const std::optional<QString>& text) {
    if (!text)
        return std::nullopt;
    const QString lowered = text->toLower();
    if (lowered.isEmpty())
        return std::nullopt;
    for (const Needle& entry : needles()) {
        if (lowered.contains(QLatin1String(entry.needle)))
            return entry.site;
    }
    return std::nullopt;
}

std::optional<Site> detectForBundleID(const QString& bundleID) {
    if (bundleID == u"com.anthropic.claudefordesktop")
        return kClaude;
    if (bundleID == u"com.openai.chat")
        return kChatGPT;
    if (bundleID == u"com.todesktop.230313mzl4w4u92")
        return Site{QStringLiteral("Cursor"), QStringLiteral("C"), 0.20, 0.45, 0.90};
    return std::nullopt;
}

} // namespace AISiteMark

namespace LoopDisplay {

std::optional<QString> sessionKindBadge(const std::optional<QString>& detectorKind) {
    if (!detectorKind)
        return std::nullopt;
    if (*detectorKind == u"claude_code")
        return QStringLiteral("Claude Code");
    if (*detectorKind == u"codex")
        return QStringLiteral("Codex");
    if (*detectorKind == u"claude_desktop")
        return QStringLiteral("Claude session");
    if (*detectorKind == u"gemini_cli")
        return QStringLiteral("Gemini CLI");
    if (*detectorKind == u"aider")
        return QStringLiteral("Aider");
    return std::nullopt;
}

std::optional<QString> cleanTitle(const std::optional<QString>& title,
                                  const std::optional<QString>& applicationName) {
    if (!title)
        return std::nullopt;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    QString text = title->trimmed().replace(blanks, QStringLiteral(" "));
    static const QRegularExpression counter(QStringLiteral("^[(\\[]\\d+[)\\]]\\s*"));
    text.remove(counter);
    // The application's own name after the last separator, as browsers and many editors add.
    static const QStringList suffixes = {QStringLiteral("google chrome"),
                                         QStringLiteral("chromium"),
                                         QStringLiteral("mozilla firefox"),
                                         QStringLiteral("firefox"),
                                         QStringLiteral("brave"),
                                         QStringLiteral("microsoft edge"),
                                         QStringLiteral("microsoft\u200b edge"),
                                         QStringLiteral("vivaldi")};
    for (const QString& separator :
         {QStringLiteral(" \u2014 "), QStringLiteral(" \u2013 "), QStringLiteral(" - ")}) {
        const qsizetype at = text.lastIndexOf(separator);
        if (at <= 0)
            continue;
        const QString tail = text.mid(at + separator.size()).trimmed().toLower();
        if (suffixes.contains(tail) || (applicationName && !applicationName->isEmpty() &&
                                        tail == applicationName->toLower())) {
            text = text.left(at).trimmed();
            break;
        }
    }
    if (text.isEmpty())
        return std::nullopt;
    return text;
}

} // namespace LoopDisplay
