#include "app/SummaryService.h"

#include "model/Graphemes.h"
#include "model/TopicSnippet.h"

namespace {

// Both ends of a topic lose these (the model was told not to write them).
bool isTrimmedMark(QChar c) {
    return c == u'"' || c == u'\'' || c == u'.' || c == QChar(0x201C) || c == QChar(0x201D);
}

QString trimMarks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmedMark(text.at(begin)))
        ++begin;
    while (end > begin && isTrimmedMark(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

} // namespace

QString SummaryService::instructions() {
    return QStringLiteral(
        "You label AI-chat threads so the user instantly remembers what each is about.\n"
        "Given a conversation, reply with ONLY a 4-7 word topic phrase in Title Case.\n"
        "No quotes, no trailing punctuation, no preamble.");
}

QString SummaryService::prompt(const QString& conversation) {
    return QStringLiteral("Conversation:\n") + conversation;
}

std::optional<QString> SummaryService::cleanedAnswer(const QString& answer) {
    QString text = answer.trimmed();
    // Reasoning models think aloud first; an unfinished thought is no answer.
    if (text.startsWith(u"<think>")) {
        const qsizetype end = text.indexOf(u"</think>");
        text = end < 0 ? QString() : text.mid(end + 8).trimmed();
    }
    // One line in the list: line breaks the model wrote become spaces.
    text = trimMarks(text).simplified();
    if (text.isEmpty())
        return std::nullopt;
    return Graphemes::prefix(text, kTopicChars);
}

SummaryService::Topic SummaryService::foundationSummary(const QString& conversation,
                                                        LanguageModel& model,
                                                        std::stop_token stop) {
    const LanguageModel::Answer answer = model.respond(instructions(), prompt(conversation), stop);
    if (!answer.text)
        return {std::nullopt, false, answer.failure};
    const std::optional<QString> topic = cleanedAnswer(*answer.text);
    if (!topic)
        return {std::nullopt, false, QStringLiteral("the model's answer had no words")};
    return {topic, true, {}};
}

SummaryService::Topic SummaryService::topicLine(const QString& text, LanguageModel* model,
                                                std::stop_token stop) {
    const QString conversation = Graphemes::suffix(text.trimmed(), kConversationChars);
    if (conversation.isEmpty())
        return {std::nullopt, false, QStringLiteral("the conversation is empty")};
    Topic topic = model ? foundationSummary(conversation, *model, stop)
                        : Topic{std::nullopt, false, QStringLiteral("no language model here")};
    if (!topic.text)
        topic.text = TopicSnippet::firstLine(text, kTopicChars);
    return topic;
}

QString SummaryService::sampleConversation() {
    return QStringLiteral(
        "User: Our nightly sync job between the billing database and the warehouse keeps "
        "timing out after the schema change. Can you help me find out why?\n"
        "Assistant: Let's look at the query plan first. The new column on the invoices table "
        "has no index, so the incremental query now scans the whole table.\n"
        "User: That makes sense. How do I add the index without locking the table during "
        "business hours?\n");
}
