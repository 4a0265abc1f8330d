// Feeds arbitrary bytes as session-log lines to both agent configurations, and as a whole to
// the Claude desktop app's session metadata parser and as its control labels: nothing may
// crash, a line's meaning does not depend on its JSON layout, a prompt's text is never
// empty, and names found are never blank.
#include "detectors/ClaudeDesktopSessionDetector.h"
#include "detectors/SessionLogDetector.h"

#include <QJsonDocument>
#include <cstdint>

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

// What a line means must not depend on how its JSON is laid out: the same object written
// compactly or indented (keys reordered, whitespace changed) gives the same event and name.
// Anything that is not a JSON object means nothing at all.
void check(const SessionLogDetector::Config& config, const QByteArray& line) {
    const auto [event, label] = config.inspect(line);
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        require(!event && !label);
        return;
    }
    for (const auto format : {QJsonDocument::Compact, QJsonDocument::Indented}) {
        const auto [again, againLabel] = config.inspect(document.toJson(format));
        require(again.has_value() == event.has_value());
        if (event)
            require(again->index() == event->index());
        require(againLabel == label);
    }
    if (event) {
        if (const auto* prompt = std::get_if<SessionLogDetector::PromptSent>(&*event))
            require(!prompt->text || !prompt->text->isEmpty());
    }
    if (label)
        require(!label->isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const SessionLogDetector::Config claude =
        SessionLogDetector::claudeCode(QStringLiteral("com.anthropic.claudefordesktop"), QString());
    static const SessionLogDetector::Config codex =
        SessionLogDetector::codex(QStringLiteral("com.openai.codex"), QString());
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    for (const QByteArray& line : input.split('\n')) {
        check(claude, line);
        check(codex, line);
    }

    if (const auto meta = ClaudeDesktopSessionDetector::parseMeta(input)) {
        if (const auto label = meta->label())
            require(!label->isEmpty());
        (void)meta->activityTime(); // must stay within what a time can hold
    }
    const auto statuses =
        ClaudeDesktopSessionDetector::parseStatuses(QString::fromUtf8(input).split(u'\n'));
    for (const QString& name : statuses.running + statuses.awaiting)
        require(!name.isEmpty());
    return 0;
}
