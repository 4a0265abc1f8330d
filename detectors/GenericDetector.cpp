#include "detectors/GenericDetector.h"

GenericDetector::GenericDetector(double engagementThreshold)
    : m_engagementThreshold(engagementThreshold) {}

void GenericDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                              const DetectorSignals&) {
    if (!context)
        return;
    const QString& id = context->id;
    switch (event.kind) {
    case FocusEvent::Kind::FocusGained:
        m_focusStarts.insert(id, event.occurredAt);
        break;
    case FocusEvent::Kind::FocusLost:
        if (const auto started = m_focusStarts.constFind(id); started != m_focusStarts.cend()) {
            const double seconds =
                std::chrono::duration<double>(event.occurredAt - *started).count();
            m_focusStarts.erase(started);
            if (seconds >= m_engagementThreshold)
                m_engaged.insert(id);
        }
        break;
    case FocusEvent::Kind::AppTerminated:
        m_focusStarts.remove(id);
        m_engaged.remove(id);
        break;
    default:
        break;
    }
}
