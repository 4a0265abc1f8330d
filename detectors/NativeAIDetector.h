#pragma once

#include "detectors/CpuSampling.h"
#include "detectors/Detector.h"

#include <QHash>
#include <QSet>
#include <unordered_map>

class UserDefaults;

// Watches desktop AI applications whenever the user leaves one: pending once the process
// gets busy, ready once it has calmed down again (or exited after being busy). An
// application that idles from the start never produces a signal.
class NativeAIDetector final : public Detector {
public:
    struct Tuning {
        double interval = 15.0;
        double busyFraction = 0.15;
        double quietFraction = 0.03;
        int quietSamplesToReady = 2;
    };
    struct Verdict {
        int quietSamples = 0;
        bool sawBusy = false;
        bool startedPending = false; // this sample is the watch's first busy one
        bool isReady = false;
        bool operator==(const Verdict&) const = default;
    };
    using Clock = std::function<TimePoint()>;

    static const QSet<QString>& defaultBundleIDs();
    // The defaults and the list under "settings.nativeAIBundleIDs".
    static QSet<QString> resolvedBundleIDs(const UserDefaults& settings);

    // `accessibilityTrusted`: whether the chat detector can read the accessibility-covered
    // apps, which then are left to it.
    NativeAIDetector(
        QSet<QString> bundleIDs, Tuning tuning, CpuSampling::RunningPID runningPID,
        CpuSampling::CpuProvider cpuProvider, std::function<bool()> accessibilityTrusted,
        Clock now = [] { return std::chrono::system_clock::now(); });

    QString kind() const override { return QStringLiteral("native_ai"); }
    bool handles(const QString& bundleID) const override { return m_bundleIDs.contains(bundleID); }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    static Verdict step(quint64 deltaNanos, double interval, const Tuning& tuning, int quietSamples,
                        bool sawBusy);
    bool isWatching(const QString& contextID) const { return m_watches.contains(contextID); }

private:
    struct Watch {
        QString bundleID;
        qint64 pid = 0;
        std::optional<quint64> lastCPU;
        int quietSamples = 0;
        bool sawBusy = false;
        CpuSampling::Timer timer;
    };

    void armWatch(const QString& bundleID, const std::optional<QString>& label,
                  const std::optional<ContextRecord>& context, TimePoint at,
                  const DetectorSignals& signals);
    void cancelWatches(const QString& bundleID);
    void sample(const QString& contextID);

    QSet<QString> m_bundleIDs;
    Tuning m_tuning;
    CpuSampling::RunningPID m_runningPID;
    CpuSampling::CpuProvider m_cpuProvider;
    std::function<bool()> m_accessibilityTrusted;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    std::unordered_map<QString, Watch> m_watches;
    QHash<QString, QString> m_contextByBundle;
    QObject m_context; // timer ticks stop with the detector
};
