#include "detectors/DetectorRegistry.h"

#include "model/Log.h"

DetectorRegistry::DetectorRegistry(SignalsFactory makeSignals, DetectorEnvironment environment)
    : m_makeSignals(std::move(makeSignals))
    , m_environment(std::move(environment)) {}

DetectorRegistry::DetectorRegistry(DetectorSignals sharedSignals, DetectorEnvironment environment)
    : DetectorRegistry([sharedSignals](const QString&) { return sharedSignals; },
                       std::move(environment)) {}

Detector* DetectorRegistry::registerDetector(std::unique_ptr<Detector> detector) {
    auto signals = std::make_shared<const DetectorSignals>(m_makeSignals(detector->kind()));
    try {
        detector->start(signals, m_environment);
    } catch (const std::exception& error) {
        m_disabledKinds.insert(detector->kind());
        qCCritical(lcDetector).noquote()
            << QStringLiteral("detector %1 failed to start and was disabled: %2")
                   .arg(detector->kind(), QString::fromUtf8(error.what()));
        return nullptr;
    }
    m_entries.push_back(Entry{std::move(detector), std::move(signals)});
    return m_entries.back().detector.get();
}

void DetectorRegistry::dispatch(const FocusEvent& event,
                                const std::optional<ContextRecord>& context) {
    for (const Entry& entry : m_entries) {
        const QString kind = entry.detector->kind();
        if (m_disabledKinds.contains(kind) || !entry.detector->handles(event.bundleID))
            continue;
        try {
            entry.detector->observe(event, context, *entry.signals);
        } catch (const std::exception& error) {
            disable(kind, "failed and was disabled for this session", error);
        }
    }
}

void DetectorRegistry::pauseAll() {
    for (const Entry& entry : m_entries)
        entry.detector->stop();
}

void DetectorRegistry::resumeAll() {
    for (const Entry& entry : m_entries) {
        const QString kind = entry.detector->kind();
        if (m_disabledKinds.contains(kind))
            continue;
        try {
            entry.detector->start(entry.signals, m_environment);
        } catch (const std::exception& error) {
            disable(kind, "failed to resume and was disabled", error);
        }
    }
}

void DetectorRegistry::disable(const QString& kind, const char* what, const std::exception& error) {
    m_disabledKinds.insert(kind);
    qCCritical(lcDetector).noquote()
        << QStringLiteral("detector %1 %2: %3")
               .arg(kind, QString::fromLatin1(what), QString::fromUtf8(error.what()));
}
