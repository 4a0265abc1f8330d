#pragma once

#include "platform/LanguageModel.h"

#include <QStringList>
#include <condition_variable>
#include <mutex>

// A language model that answers what the test sets, records what it was sent and can hold
// its answer until the test releases it. Safe to call from any thread.
class FakeLanguageModel final : public LanguageModel {
public:
    void setAnswer(Answer answer) {
        std::lock_guard lock(m_mutex);
        m_answer = std::move(answer);
    }
    void hold() {
        std::lock_guard lock(m_mutex);
        m_held = true;
    }
    void release() {
        {
            std::lock_guard lock(m_mutex);
            m_held = false;
        }
        m_released.notify_all();
    }
    QStringList prompts() const {
        std::lock_guard lock(m_mutex);
        return m_prompts;
    }
    int looks() const {
        std::lock_guard lock(m_mutex);
        return m_looks;
    }

    Availability find(std::stop_token, bool) override {
        std::lock_guard lock(m_mutex);
        ++m_looks;
        m_lastKnown = availabilityLocked();
        return *m_lastKnown;
    }
    std::optional<Availability> lastKnown() const override {
        std::lock_guard lock(m_mutex);
        return m_lastKnown;
    }
    Answer respond(const QString&, const QString& prompt, std::stop_token stop) override {
        std::unique_lock lock(m_mutex);
        m_prompts.append(prompt);
        m_lastKnown = availabilityLocked();
        m_released.wait(lock, stop, [this] { return !m_held; });
        if (stop.stop_requested())
            return {std::nullopt, QStringLiteral("stopped")};
        return m_answer;
    }

private:
    Availability availabilityLocked() const {
        return m_answer.text ? Availability{QStringLiteral("fake-model"), QStringLiteral("here")}
                             : Availability{std::nullopt, m_answer.failure};
    }

    mutable std::mutex m_mutex;
    std::condition_variable_any m_released;
    Answer m_answer{std::nullopt, QStringLiteral("no answer set")};
    bool m_held = false;
    QStringList m_prompts;
    int m_looks = 0;
    std::optional<Availability> m_lastKnown;
};
