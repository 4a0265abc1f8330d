#pragma once

#include "detectors/Detector.h"

#include <QHash>
#include <QSet>

// Records whether the user spent at least a minimum time engaged with a loop. Sends nothing;
// a building block other detectors and tools can ask.
class GenericDetector final : public Detector {
public:
    explicit GenericDetector(double engagementThreshold);

    QString kind() const override { return QStringLiteral("generic"); }
    bool handles(const QString&) const override { return true; }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;

    bool isEngaged(const QString& contextID) const { return m_engaged.contains(contextID); }

private:
    double m_engagementThreshold;
    QHash<QString, TimePoint> m_focusStarts;
    QSet<QString> m_engaged;
};
