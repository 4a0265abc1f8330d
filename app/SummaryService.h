#pragma once

#include "platform/LanguageModel.h"

#include <QString>
#include <optional>
#include <stop_token>

// The topic of an AI-chat loop: 4 to 7 words from a language model on this computer, or the
// prompt's first line when no model answers. Blocks while the model works: call it off the
// main thread.
namespace SummaryService {

inline constexpr qsizetype kConversationChars = 6000;
inline constexpr qsizetype kTopicChars = 64;

QString instructions();
// What the model is sent for a conversation.
QString prompt(const QString& conversation);

struct Topic {
    std::optional<QString> text;
    bool fromModel = false;
    QString whyNotFromModel; // empty when the model gave it
};
// The topic of `text`: the model's, else the first line (64 characters); nothing for a text
// without content. `model` may be absent (no model on this platform).
Topic topicLine(const QString& text, LanguageModel* model, std::stop_token stop = {});
// The model's topic for an already trimmed conversation, or why there is none.
Topic foundationSummary(const QString& conversation, LanguageModel& model, std::stop_token stop);
// A model's answer made a topic: a leading <think>…</think> dropped, quotes and a final full
// stop trimmed, 64 characters at most; nothing when no words remain.
std::optional<QString> cleanedAnswer(const QString& answer);

// A short conversation for trying the model out.
QString sampleConversation();

} // namespace SummaryService
