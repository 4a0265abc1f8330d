#include "detectors/DetectorSignalBinding.h"

#include "engine/StateMachine.h"
#include "model/Log.h"
#include "model/TopicSnippet.h"
#include "platform/UserDefaults.h"
#include "platform/Workspace.h"
#include "store/ContextStore.h"

#include <exception>

namespace {

constexpr qsizetype kPromptLineChars = 120;

// Runs a store write whose failure must never reach the detector.
template <typename Write> void swallowing(Write&& write) {
    try {
        write();
    } catch (const std::exception&) {
    }
}

} // namespace

DetectorSignals DetectorSignalBinding::signalsFor(const QString& kind,
                                                  std::weak_ptr<StateMachine> machine,
                                                  ContextStore& store, const UserDefaults& settings,
                                                  TopicRequest requestTopic) {
    DetectorSignals signals;
    signals.pending = [kind, machine](const QString& id, const DetectorSignals::Detail& detail,
                                      TimePoint at) {
        if (Log::verbose())
            qCInfo(lcDetector).noquote() << kind << "pending" << id << detail.value_or(QString());
        if (const auto stateMachine = machine.lock())
            stateMachine->signalPending(id, kind, detail, at);
    };
    const auto readyWith = [kind, machine](bool nudge) {
        return [kind, machine, nudge](const QString& id, const DetectorSignals::Detail& detail,
                                      TimePoint at) {
            if (Log::verbose())
                qCInfo(lcDetector).noquote()
                    << kind << (nudge ? "ready" : "readyQuiet") << id << detail.value_or(QString());
            if (const auto stateMachine = machine.lock())
                stateMachine->signalReady(id, kind, detail, nudge, at);
        };
    };
    signals.ready = readyWith(true);
    signals.readyQuiet = readyWith(false);
    signals.claim = [machine](const QString& bundleID, const std::optional<QString>& label,
                              TimePoint at) -> std::optional<QString> {
        const auto stateMachine = machine.lock();
        return stateMachine ? stateMachine->claimLoop(bundleID, label, at) : std::nullopt;
    };
    signals.claimSession =
        [kind, machine](const QString& bundleID, const std::optional<QString>& label,
                        const QString& titleKey, TimePoint at) -> std::optional<QString> {
        const auto stateMachine = machine.lock();
        return stateMachine ? stateMachine->claimLoop(bundleID, label, titleKey, kind, at)
                            : std::nullopt;
    };
    signals.suggestReturnActions = [kind, &store](const QString& id,
                                                  const QList<ReturnActionSuggestion>& suggestions,
                                                  TimePoint at) {
        swallowing([&] {
            store.upsertReturnActions(id, suggestions, QStringLiteral("detector:") + kind, at);
        });
    };
    // The store cleans the locator and applies the privacy rules before writing.
    signals.attachDocumentRef = [&store](const QString& id, const QString& documentKind,
                                         const QString& locator,
                                         const std::optional<QString>& title, TimePoint at) {
        if (documentKind != u"url" && documentKind != u"file")
            return;
        swallowing([&] { store.attachDocumentRef(id, documentKind, locator, title, at); });
    };
    // The store accepts only small "data:image/" icons.
    signals.setIcon = [&store](const QString& id, const QString& icon) {
        swallowing([&] { store.setContextIcon(id, icon); });
    };
    // The prompt line at once; the topic when the model has answered.
    signals.summarize = [&store, &settings, requestTopic = std::move(requestTopic)](
                            const QString& id, const QString& text) {
        if (!settings.boolValue(QStringLiteral("settings.smartSummaries")).value_or(false))
            return;
        const std::optional<QString> line = TopicSnippet::firstLine(text, kPromptLineChars);
        swallowing([&] { store.setPromptLine(id, line); });
        if (requestTopic)
            requestTopic(id, text);
    };
    signals.labelIfUnlabelled = [&store](const QString& id, const QString& label) {
        swallowing([&] {
            const std::optional<ContextRecord> loop = store.context(id);
            if (loop && !loop->label && !label.trimmed().isEmpty())
                store.updateContextLabel(id, label.trimmed());
        });
    };
    return signals;
}

DetectorEnvironment DetectorSignalBinding::environment(ContextStore& store,
                                                       const Workspace& workspace) {
    DetectorEnvironment environment;
    environment.openContext = [&store](const QString& bundleID) -> std::optional<ContextRecord> {
        try {
            return store.openContext(bundleID);
        } catch (const std::exception&) {
            return std::nullopt;
        }
    };
    environment.openContexts = [&store]() -> QList<ContextRecord> {
        try {
            return store.openContexts();
        } catch (const std::exception&) {
            return {};
        }
    };
    environment.loopIsOpen = [&store](const QString& contextID) {
        try {
            const std::optional<ContextRecord> loop = store.context(contextID);
            return loop && !loop->dismissedAt;
        } catch (const std::exception&) {
            return true; // unknown: keep what the detector has
        }
    };
    environment.frontmostBundleID = [&workspace]() -> std::optional<QString> {
        const std::optional<RunningApplication> front = workspace.frontmostApplication();
        return front ? front->bundleID : std::nullopt;
    };
    return environment;
}
