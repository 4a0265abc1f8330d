#include "app/TopicSummarizer.h"

#include "app/SummaryService.h"
#include "model/Log.h"

#include <algorithm>

TopicSummarizer::TopicSummarizer(LanguageModel* model, Store store, QObject* parent)
    : QObject(parent)
    , m_model(model)
    , m_store(std::move(store))
    , m_worker([this](std::stop_token stop) { run(stop); }) {}

TopicSummarizer::~TopicSummarizer() {
    m_worker.request_stop(); // also ends a model call under way
    m_worker.join();
}

void TopicSummarizer::request(const QString& contextID, const QString& text) {
    std::optional<Job> dropped;
    {
        std::lock_guard lock(m_mutex);
        const auto waiting = std::find_if(m_jobs.begin(), m_jobs.end(), [&](const Job& job) {
            return job.contextID == contextID;
        });
        if (waiting != m_jobs.end()) {
            waiting->text = text;
            return;
        }
        if (m_jobs.size() >= kMaxWaiting) {
            dropped = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        m_jobs.push_back({contextID, text});
    }
    m_wake.notify_one();
    if (dropped)
        m_store(dropped->contextID, SummaryService::topicLine(dropped->text, nullptr).text);
}

void TopicSummarizer::lookForModel() {
    if (!m_model)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_lookRequested = true;
    }
    m_wake.notify_one();
}

std::optional<LanguageModel::Availability> TopicSummarizer::availability() const {
    return m_model ? m_model->lastKnown() : std::nullopt;
}

void TopicSummarizer::run(std::stop_token stop) {
    while (!stop.stop_requested()) {
        std::optional<Job> job;
        {
            std::unique_lock lock(m_mutex);
            if (!m_wake.wait(lock, stop, [this] { return m_lookRequested || !m_jobs.empty(); }))
                return;
            if (m_lookRequested) {
                m_lookRequested = false;
            } else {
                job = std::move(m_jobs.front());
                m_jobs.pop_front();
            }
        }
        if (!job) {
            m_model->find(stop, true);
            QMetaObject::invokeMethod(this, &TopicSummarizer::noticeAvailability,
                                      Qt::QueuedConnection);
            continue;
        }
        SummaryService::Topic topic = SummaryService::topicLine(job->text, m_model, stop);
        if (stop.stop_requested())
            return;
        if (Log::verbose() && !topic.fromModel)
            qCInfo(lcApp).noquote() << "topic of" << job->contextID
                                    << "is the prompt's first line:" << topic.whyNotFromModel;
        QMetaObject::invokeMethod(
            this,
            [this, id = std::move(job->contextID), text = std::move(topic.text)] {
                m_store(id, text);
                noticeAvailability();
            },
            Qt::QueuedConnection);
    }
}

void TopicSummarizer::noticeAvailability() {
    const std::optional<LanguageModel::Availability> now = availability();
    if (!now || now == m_announced)
        return;
    m_announced = now;
    if (now->model)
        qCInfo(lcApp).noquote() << QStringLiteral("Topic summaries use the model %1 (%2)")
                                       .arg(*now->model, now->description);
    else
        qCInfo(lcApp).noquote() << "Topic summaries use the prompt's first line:"
                                << now->description;
    Q_EMIT availabilityChanged();
}
