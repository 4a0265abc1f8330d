// Feeds arbitrary bytes as session-log lines to both agent configurations: classification
// and session names must never crash, and a prompt's text is never empty.
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
    return 0;
}
