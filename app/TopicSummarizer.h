#pragma once

#include "platform/LanguageModel.h"

#include <QObject>
#include <QString>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

// Works out the topics of loops on its own thread, one at a time, and hands each back on the
// main thread; the event loop never waits for the model. A loop asked about again before its
// turn keeps only its newest text.
class TopicSummarizer : public QObject {
    Q_OBJECT
public:
    // Keeps a topic (on the main thread).
    using Store =
        std::function<void(const QString& contextID, const std::optional<QString>& topic)>;
    // Beyond this many waiting loops the oldest gets its first line at once.
    static constexpr std::size_t kMaxWaiting = 32;

    // `model` may be absent (no model on this platform); it must outlive this object.
    TopicSummarizer(LanguageModel* model, Store store, QObject* parent = nullptr);
    ~TopicSummarizer() override;

    void request(const QString& contextID, const QString& text);
    // Looks for the model now (the settings window, the summaries switch).
    void lookForModel();
    // The model summaries use, or why there is none; none before the first look.
    std::optional<LanguageModel::Availability> availability() const;

Q_SIGNALS:
    void availabilityChanged();

private:
    struct Job {
        QString contextID;
        QString text;
    };
    void run(std::stop_token stop);
    void noticeAvailability();

    LanguageModel* const m_model;
    const Store m_store;
    std::optional<LanguageModel::Availability> m_announced; // main thread
    std::mutex m_mutex;                                     // guards the two below
    std::deque<Job> m_jobs;
    bool m_lookRequested = false;
    std::condition_variable_any m_wake;
    std::jthread m_worker; // last: stopped and joined before the rest goes
};
