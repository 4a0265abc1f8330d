#pragma once

#include <QString>
#include <optional>
#include <stop_token>

// A language model on this computer that can label a conversation. Both calls block the
// calling thread until the model answers, fails or `stop` is requested: call them from a
// worker thread, never the main one. Implementations are safe to call from any thread.
class LanguageModel {
public:
    // Which model answers, or why none does.
    struct Availability {
        std::optional<QString> model; // the model's name; none when no model can be used
        QString description;          // where it runs, or why there is none (one line)
        bool operator==(const Availability&) const = default;
    };
    // The model's reply, or why there is none.
    struct Answer {
        std::optional<QString> text;
        QString failure; // empty with a text
    };

    virtual ~LanguageModel() = default;

    // Finds the model to use (looking for one again when `lookAgain` or when it is due).
    virtual Availability find(std::stop_token stop, bool lookAgain) = 0;
    // What the last `find` learnt, without looking; none before the first look.
    virtual std::optional<Availability> lastKnown() const = 0;
    // Sends one conversation turn: the model's instructions and the user's prompt.
    virtual Answer respond(const QString& instructions, const QString& prompt,
                           std::stop_token stop) = 0;
};
