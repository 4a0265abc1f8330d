#include "store/Retention.h"

#include "model/Log.h"
#include "store/ContextStore.h"

#include <exception>

Retention::Retention(ContextStore& store, double intervalSeconds, Clock clock)
    : m_store(store)
    , m_interval(intervalSeconds)
    , m_clock(std::move(clock)) {
    m_timer.setSingleShot(true);
    QObject::connect(&m_timer, &QTimer::timeout, [this] { runOnce(); });
}

void Retention::start() {
    runOnce();
}

void Retention::stop() {
    m_timer.stop();
}

void Retention::runOnce() {
    try {
        const qint64 purged = m_store.purgeExpired(m_clock());
        if (Log::verbose())
            qCInfo(lcStore) << "Retention purged" << purged << "rows";
    } catch (const std::exception&) {
        // tried again after the next interval
    }
    m_timer.start(static_cast<int>(m_interval * 1000));
}
