#pragma once

#include "detectors/CpuSampling.h"
#include "detectors/Detector.h"

#include <unordered_map>

// Watches one loop's application on the user's request: pending at once, ready when its
// process has been quiet for some samples or has exited. Returning to the application
// cancels the watch silently.
class WatchDetector final : public Detector {
public:
    struct Tuning {
        double interval = 15.0;
        double quietFraction = 0.03;
        int quietSamplesToReady = 2;
    };
    using Clock = std::function<TimePoint()>;

    WatchDetector(
        Tuning tuning, CpuSampling::RunningPID runningPID, CpuSampling::CpuProvider cpuTime,
        Clock now = [] { return std::chrono::system_clock::now(); });

    QString kind() const override { return QStringLiteral("watch"); }
    bool handles(const QString&) const override { return true; }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;
    // Running watches keep sampling while capture is paused.
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    // True when a watch was armed (the application runs and the detector has started).
    bool watch(const QString& contextID, const QString& bundleID);
    bool isWatching(const QString& contextID) const { return m_watches.contains(contextID); }

private:
    struct Watch {
        QString bundleID;
        qint64 pid = 0;
        std::optional<quint64> lastCPUTime;
        int quietSamples = 0;
        CpuSampling::Timer timer;
    };

    void sample(const QString& contextID);

    Tuning m_tuning;
    CpuSampling::RunningPID m_runningPID;
    CpuSampling::CpuProvider m_cpuTime;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    std::unordered_map<QString, Watch> m_watches;
    QObject m_context; // timer ticks stop with the detector
};
