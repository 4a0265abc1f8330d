#include "detectors/NativeAIDetector.h"

#include "model/Log.h"
#include "platform/UserDefaults.h"

namespace {

// Also followed by the accessibility chat detector, which knows better when it can read them.
const QSet<QString> kAXCoveredBundleIDs = {QStringLiteral("com.anthropic.claudefordesktop"),
                                           QStringLiteral("com.openai.chat")};

} // namespace

const QSet<QString>& NativeAIDetector::defaultBundleIDs() {
    static const QSet<QString> ids = {QStringLiteral("com.todesktop.230313mzl4w4u92"),
                                      QStringLiteral("com.anthropic.claudefordesktop"),
                                      QStringLiteral("com.openai.chat"),
                                      QStringLiteral("com.openai.codex"),
                                      QStringLiteral("com.nousresearch.hermes"),
                                      QStringLiteral("com.electron.ollama"),
                                      QStringLiteral("com.exafunction.windsurf"),
                                      QStringLiteral("ai.elementlabs.lmstudio"),
                                      QStringLiteral("jan.ai.app"),
                                      QStringLiteral("com.nomic-ai.gpt4all"),
                                      QStringLiteral("app.msty.app")};
    return ids;
}

QSet<QString> NativeAIDetector::resolvedBundleIDs(const UserDefaults& settings) {
    QSet<QString> ids = defaultBundleIDs();
    for (const QString& id : settings.stringListValue(QStringLiteral("settings.nativeAIBundleIDs"))
                                 .value_or(QStringList()))
        ids.insert(id);
    return ids;
}

NativeAIDetector::NativeAIDetector(QSet<QString> bundleIDs, Tuning tuning,
                                   CpuSampling::RunningPID runningPID,
                                   CpuSampling::CpuProvider cpuProvider,
                                   std::function<bool()> accessibilityTrusted, Clock now)
    : m_bundleIDs(std::move(bundleIDs))
    , m_tuning(tuning)
    , m_runningPID(std::move(runningPID))
    , m_cpuProvider(std::move(cpuProvider))
    , m_accessibilityTrusted(std::move(accessibilityTrusted))
    , m_now(std::move(now)) {}

void NativeAIDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment&) {
    m_signals = std::move(signals);
}

NativeAIDetector::Verdict NativeAIDetector::step(quint64 deltaNanos, double interval,
                                                 const Tuning& tuning, int quietSamples,
                                                 bool sawBusy) {
    const double fraction = CpuSampling::fraction(deltaNanos, interval);
    if (fraction >= tuning.busyFraction)
        return {0, true, !sawBusy, false};
    if (!sawBusy)
        return {quietSamples, false, false, false};
    if (fraction < tuning.quietFraction) {
        const int quiet = quietSamples + 1;
        return {quiet, true, false, quiet >= tuning.quietSamplesToReady};
    }
    return {0, true, false, false};
}

void NativeAIDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                               const DetectorSignals& signals) {
    if (kAXCoveredBundleIDs.contains(event.bundleID) && m_accessibilityTrusted &&
        m_accessibilityTrusted())
        return;
    switch (event.kind) {
    case FocusEvent::Kind::FocusGained: {
        std::optional<QString> contextID = context ? std::optional(context->id) : std::nullopt;
        if (!contextID)
            contextID = signals.claim(event.bundleID, event.displayName, event.occurredAt);
        if (contextID)
            m_contextByBundle.insert(event.bundleID, *contextID);
        cancelWatches(event.bundleID);
        break;
    }
    case FocusEvent::Kind::FocusLost:
        armWatch(event.bundleID, event.displayName, context, event.occurredAt, signals);
        break;
    case FocusEvent::Kind::AppTerminated:
        cancelWatches(event.bundleID);
        break;
    default:
        break;
    }
}

void NativeAIDetector::armWatch(const QString& bundleID, const std::optional<QString>& label,
                                const std::optional<ContextRecord>& context, TimePoint at,
                                const DetectorSignals& signals) {
    const std::optional<qint64> pid = m_runningPID(bundleID);
    if (!pid)
        return;
    std::optional<QString> contextID = context ? std::optional(context->id) : std::nullopt;
    if (!contextID && m_contextByBundle.contains(bundleID))
        contextID = m_contextByBundle.value(bundleID);
    if (!contextID)
        contextID = signals.claim(bundleID, label, at);
    if (!contextID)
        return;
    const QString id = *contextID;
    m_watches.erase(id);
    Watch watch;
    watch.bundleID = bundleID;
    watch.pid = *pid;
    watch.timer =
        CpuSampling::startTimer(&m_context, m_tuning.interval, [this, id] { sample(id); });
    m_watches.insert_or_assign(id, std::move(watch));
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("native_ai watch armed on %1 pid %2").arg(bundleID).arg(*pid);
}

void NativeAIDetector::cancelWatches(const QString& bundleID) {
    std::erase_if(m_watches,
                  [&bundleID](const auto& entry) { return entry.second.bundleID == bundleID; });
}

void NativeAIDetector::sample(const QString& contextID) {
    const auto found = m_watches.find(contextID);
    if (found == m_watches.end() || !m_signals)
        return;
    Watch& watch = found->second;
    const std::optional<quint64> cpu = m_cpuProvider(watch.pid);
    if (!cpu) {
        const bool sawBusy = watch.sawBusy;
        m_watches.erase(found);
        if (sawBusy)
            m_signals->ready(contextID, QStringLiteral("ai_process_exited"), m_now());
        return;
    }
    const std::optional<quint64> previous = std::exchange(watch.lastCPU, cpu);
    if (!previous)
        return; // the first reading only sets the baseline
    const quint64 delta = *cpu >= *previous ? *cpu - *previous : 0;
    const Verdict verdict =
        step(delta, m_tuning.interval, m_tuning, watch.quietSamples, watch.sawBusy);
    watch.quietSamples = verdict.quietSamples;
    watch.sawBusy = verdict.sawBusy;
    const QString bundleID = watch.bundleID;
    if (verdict.startedPending)
        m_signals->pending(contextID, QStringLiteral("ai_working"), m_now());
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("native_ai sample %1: busy=%2 quiet=%3/%4")
                   .arg(bundleID, verdict.sawBusy ? u"true"_qs : u"false"_qs)
                   .arg(verdict.quietSamples)
                   .arg(m_tuning.quietSamplesToReady);
    if (verdict.isReady) {
        m_watches.erase(contextID); // the pending signal may have changed the table
        m_signals->ready(contextID, QStringLiteral("ai_work_quiet"), m_now());
    }
}
