// Feeds arbitrary bytes as session-log lines to both agent configurations, and as a whole to
// the Claude desktop app's session metadata parser and as its control labels: nothing may
// crash, a prompt's text is never empty, and names found are never blank.
#include "detectors/ClaudeDesktopSessionDetector.h"
#include "detectors/SessionLogDetector.h"

#include <cstdint>

namespace {

void require(bool condition) {
    if (!condition)
        __builtin_trap();
}

void check(const SessionLogDetector::Config& config, const QByteArray& line) {
    const auto [event, label] = config.inspect(line);
    require(event.has_value() == config.classify(line).has_value());
    require(label == config.label(line));
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
    require(claude.isSessionFile(QString::fromUtf8(input)) ==
            claude.isSessionFile(QString::fromUtf8(input)));

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
