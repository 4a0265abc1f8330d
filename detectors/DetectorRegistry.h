#pragma once

#include "detectors/Detector.h"

#include <QSet>
#include <memory>
#include <vector>

// Starts detectors, hands them focus events, pauses and resumes them, and disables for the
// rest of the run any detector that fails. Owns the detectors. Main thread only.
class DetectorRegistry {
public:
    using SignalsFactory = std::function<DetectorSignals(const QString& kind)>;

    DetectorRegistry(SignalsFactory makeSignals, DetectorEnvironment environment);
    // Every kind reports through the same signals.
    DetectorRegistry(DetectorSignals sharedSignals, DetectorEnvironment environment);

    // Starts the detector; one that fails to start is disabled and not kept. Returns it
    // when it runs.
    Detector* registerDetector(std::unique_ptr<Detector> detector);
    void dispatch(const FocusEvent& event, const std::optional<ContextRecord>& context);
    void pauseAll();
    void resumeAll();
    QSet<QString> disabled() const { return m_disabledKinds; }
    qsizetype count() const { return static_cast<qsizetype>(m_entries.size()); }
    // The registered detector of a kind, when one runs.
    Detector* detector(const QString& kind) const {
        for (const Entry& entry : m_entries) {
            if (entry.detector->kind() == kind)
                return entry.detector.get();
        }
        return nullptr;
    }

private:
    struct Entry {
        std::unique_ptr<Detector> detector;
        DetectorSignalsPtr signals;
    };

    void disable(const QString& kind, const char* what, const std::exception& error);

    SignalsFactory m_makeSignals;
    DetectorEnvironment m_environment;
    std::vector<Entry> m_entries;
    QSet<QString> m_disabledKinds;
};
