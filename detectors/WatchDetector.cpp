#include "detectors/WatchDetector.h"

#include "model/Log.h"

WatchDetector::WatchDetector(Tuning tuning, CpuSampling::RunningPID runningPID,
                             CpuSampling::CpuProvider cpuTime, Clock now)
    : m_tuning(tuning)
    , m_runningPID(std::move(runningPID))
    , m_cpuTime(std::move(cpuTime))
    , m_now(std::move(now)) {}

void WatchDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment&) {
    m_signals = std::move(signals);
}

bool WatchDetector::watch(const QString& contextID, const QString& bundleID) {
    if (!m_signals)
        return false;
    m_watches.erase(contextID);
    const std::optional<qint64> pid = m_runningPID(bundleID);
    if (!pid)
        return false;
    m_signals->pending(contextID, QStringLiteral("watching"), m_now());
    Watch watch;
    watch.bundleID = bundleID;
    watch.pid = *pid;
    watch.timer = CpuSampling::startTimer(&m_context, m_tuning.interval,
                                          [this, contextID] { sample(contextID); });
    m_watches.insert_or_assign(contextID, std::move(watch));
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("watch armed on %1 pid %2").arg(bundleID).arg(*pid);
    return true;
}

void WatchDetector::sample(const QString& contextID) {
    const auto found = m_watches.find(contextID);
    if (found == m_watches.end() || !m_signals)
        return;
    Watch& watch = found->second;
    const std::optional<quint64> cpu = m_cpuTime(watch.pid);
    if (!cpu) {
        m_watches.erase(found);
        m_signals->ready(contextID, QStringLiteral("watched_process_exited"), m_now());
        return;
    }
    const std::optional<quint64> previous = std::exchange(watch.lastCPUTime, cpu);
    if (!previous)
        return; // the first reading only sets the baseline
    const quint64 delta = *cpu >= *previous ? *cpu - *previous : 0;
    watch.quietSamples = CpuSampling::fraction(delta, m_tuning.interval) >= m_tuning.quietFraction
                             ? 0
                             : watch.quietSamples + 1;
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << QStringLiteral("watch sample %1: quiet=%2/%3")
                                            .arg(watch.bundleID)
                                            .arg(watch.quietSamples)
                                            .arg(m_tuning.quietSamplesToReady);
    if (watch.quietSamples >= m_tuning.quietSamplesToReady) {
        m_watches.erase(found);
        m_signals->ready(contextID, QStringLiteral("watched_work_quiet"), m_now());
    }
}

void WatchDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>&,
                            const DetectorSignals&) {
    if (event.kind != FocusEvent::Kind::FocusGained)
        return;
    // Back in the watched application: the user sees for themselves.
    std::erase_if(m_watches,
                  [&event](const auto& entry) { return entry.second.bundleID == event.bundleID; });
}
