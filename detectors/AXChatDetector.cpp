#include "detectors/AXChatDetector.h"

#include "model/Log.h"
#include "platform/UserDefaults.h"

#include <QJsonArray>

namespace {

// Linux builds of these applications resolve to the same identities (the identity aliases).
const QStringList kDefaultBundleIDs{
    QStringLiteral("com.anthropic.claudefordesktop"), QStringLiteral("com.openai.chat"),
    QStringLiteral("com.openai.codex"), QStringLiteral("com.nousresearch.hermes")};
const QStringList kDefaultPatterns{QStringLiteral("stop generating"),
                                   QStringLiteral("stop response"),
                                   QStringLiteral("stop streaming")};
const QStringList kNotifications{
    QStringLiteral("AXCreated"),           QStringLiteral("AXUIElementDestroyed"),
    QStringLiteral("AXValueChanged"),      QStringLiteral("AXTitleChanged"),
    QStringLiteral("AXLiveRegionChanged"), QStringLiteral("AXLiveRegionCreated")};

std::optional<QStringList> strings(const UserDefaults& settings, const QString& key) {
    return settings.stringListValue(key);
}

} // namespace

struct AXChatDetector::ChatState {
    std::optional<QString> contextID;
    std::optional<qint64> pid;
    bool wasGenerating = false;
    std::unique_ptr<Accessibility::Observer> observer;
    QTimer pendingEvaluation;
    std::optional<QString> lastComposer;
    quint64 readings = 0; // readings asked for, to drop one a newer request overtook
};

AXChatDetector::AXChatDetector(QSet<QString> bundleIDs, QStringList patterns,
                               const UserDefaults& settings, Dependencies dependencies)
    : m_bundleIDs(std::move(bundleIDs))
    , m_patterns(std::move(patterns))
    , m_settings(settings)
    , m_dependencies(std::move(dependencies)) {}

AXChatDetector::~AXChatDetector() {
    *m_alive = false;
}

QSet<QString> AXChatDetector::resolvedBundleIDs(const UserDefaults& settings) {
    QSet<QString> ids(kDefaultBundleIDs.cbegin(), kDefaultBundleIDs.cend());
    for (const QString& id :
         strings(settings, QStringLiteral("settings.axChatBundleIDs")).value_or(QStringList()))
        ids.insert(id);
    return ids;
}

QStringList AXChatDetector::resolvedPatterns(const UserDefaults& settings) {
    QStringList patterns = kDefaultPatterns;
    for (const QString& label :
         strings(settings, QStringLiteral("settings.aiGeneratingLabels")).value_or(QStringList()))
        patterns.append(label.toLower());
    return patterns;
}

bool AXChatDetector::isGenerating(const QStringList& controlLabels, const QStringList& patterns) {
    for (const QString& label : controlLabels) {
        const QString lowered = label.toLower();
        for (const QString& pattern : patterns) {
            if (!pattern.isEmpty() && lowered.contains(pattern))
                return true;
        }
    }
    return false;
}

std::optional<QString> AXChatDetector::chooseComposer(const QList<TextNode>& fields) {
    for (const auto& wanted : {std::pair{true, true}, std::pair{true, false}}) {
        for (const TextNode& field : fields) {
            if (field.editable == wanted.first && (!wanted.second || field.focused))
                return field.value;
        }
    }
    for (const TextNode& field : fields) {
        if (field.focused)
            return field.value;
    }
    return std::nullopt;
}

void AXChatDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) {
    m_signals = std::move(signals);
    adoptRunningGenerations(environment);
}

void AXChatDetector::stop() {
    for (const auto& state : std::as_const(m_states))
        disarm(*state);
}

void AXChatDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                             const DetectorSignals& signals) {
    const QString& bundleID = event.bundleID;
    switch (event.kind) {
    case FocusEvent::Kind::FocusLost:
        arm(bundleID); // the user left the chat: its changes are watched from now on
        return;
    case FocusEvent::Kind::FocusGained: {
        auto& slot = m_states[bundleID];
        if (!slot)
            slot = std::make_shared<ChatState>();
        ChatState& state = *slot;
        std::optional<QString> contextID = state.contextID;
        if (context)
            contextID = context->id;
        else if (!contextID && signals.claim)
            contextID = signals.claim(bundleID, event.displayName, event.occurredAt);
        if (state.contextID && state.contextID != contextID && onPendingChange)
            onPendingChange(*state.contextID, std::nullopt);
        state.contextID = contextID;
        arm(bundleID);
        evaluate(bundleID);
        return;
    }
    case FocusEvent::Kind::AppTerminated: {
        const std::shared_ptr<ChatState> state = m_states.take(bundleID);
        if (!state)
            return;
        if (state->contextID && onPendingChange)
            onPendingChange(*state->contextID, std::nullopt);
        disarm(*state);
        return;
    }
    case FocusEvent::Kind::AppLaunched:
    case FocusEvent::Kind::WindowTitleChanged:
        return;
    }
}

void AXChatDetector::arm(const QString& bundleID) {
    if (!m_dependencies.trusted || !m_dependencies.trusted() || !m_dependencies.runningPID)
        return;
    const std::optional<qint64> pid = m_dependencies.runningPID(bundleID);
    if (!pid)
        return;
    auto& slot = m_states[bundleID];
    if (!slot)
        slot = std::make_shared<ChatState>();
    ChatState& state = *slot;
    if (state.observer && state.pid == pid)
        return;
    disarm(state);
    if (!m_dependencies.observe)
        return;
    const std::weak_ptr<bool> alive = m_alive;
    state.observer = m_dependencies.observe(*pid, [this, alive, bundleID] {
        if (alive.lock() && *alive.lock())
            schedule(bundleID);
    });
    if (!state.observer)
        return; // retried on the next focus change
    const AXElement application = AXElement::application(*pid);
    for (const QString& notification : kNotifications)
        state.observer->addNotification(application, notification);
    state.pid = pid;
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << "ax_chat observing" << bundleID << "pid" << *pid;
}

void AXChatDetector::disarm(ChatState& state) {
    state.pendingEvaluation.stop();
    state.pendingEvaluation.disconnect();
    state.observer.reset();
}

void AXChatDetector::schedule(const QString& bundleID) {
    const std::shared_ptr<ChatState> state = m_states.value(bundleID);
    if (!state)
        return;
    // A burst of events leads to one reading, 0.25 s after the last of them.
    state->pendingEvaluation.disconnect();
    state->pendingEvaluation.setSingleShot(true);
    const std::weak_ptr<bool> alive = m_alive;
    QObject::connect(&state->pendingEvaluation, &QTimer::timeout, [this, alive, bundleID] {
        if (alive.lock() && *alive.lock())
            evaluate(bundleID);
    });
    state->pendingEvaluation.start(kDebounceMs);
}

void AXChatDetector::evaluate(const QString& bundleID) {
    const std::shared_ptr<ChatState> state = m_states.value(bundleID);
    if (!state || !state->pid || !m_dependencies.readControls)
        return;
    // Readings arrive later, in the order they were asked; one overtaken by a newer request
    // is dropped.
    const quint64 reading = ++state->readings;
    const auto deliver = [this, alive = std::weak_ptr<bool>(m_alive), bundleID,
                          reading](const Controls& controls) {
        const std::shared_ptr<bool> living = alive.lock();
        if (!living || !*living)
            return;
        const std::shared_ptr<ChatState> current = m_states.value(bundleID);
        if (current && current->readings == reading)
            evaluated(bundleID, *current, controls);
    };
    if (m_dependencies.trusted && m_dependencies.trusted())
        m_dependencies.readControls(*state->pid, deliver);
    else
        deliver(Controls{}); // without the switch nothing can be read
}

void AXChatDetector::evaluated(const QString& bundleID, ChatState& state,
                               const Controls& controls) {
    const std::optional<QString> composer = chooseComposer(controls.fields);
    if (composer && !composer->isEmpty())
        state.lastComposer = composer;
    const bool generating = isGenerating(controls.labels, m_patterns);
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << "ax_chat" << bundleID << ": generating=" << generating
                                     << "labels=" << controls.labels.size();
    applyGenerating(state, generating);
    if (remoteApproveOn() && state.contextID && onPendingChange) {
        std::optional<RemoteApproval::Pending> pending =
            RemoteApproval::pending(controls.labels, generating, approveTerms(), denyTerms());
        if (pending && !pending->isActionable())
            pending.reset();
        onPendingChange(*state.contextID, pending);
    }
}

void AXChatDetector::applyGenerating(ChatState& state, bool generating) {
    if (!state.contextID || !m_signals)
        return;
    const TimePoint now = m_dependencies.now ? m_dependencies.now() : TimePoint::clock::now();
    if (!state.wasGenerating && generating) {
        if (m_signals->pending)
            m_signals->pending(*state.contextID, QStringLiteral("ai_chat_generating"), now);
        if (state.lastComposer && !state.lastComposer->isEmpty() && m_signals->summarize)
            m_signals->summarize(*state.contextID, state.lastComposer->left(kSummaryCharacters));
        if (Log::verbose())
            qCInfo(lcDetector) << "ax_chat: generating → pending";
    } else if (state.wasGenerating && !generating) {
        if (m_signals->ready)
            m_signals->ready(*state.contextID, QStringLiteral("ai_chat_response_complete"), now);
        if (Log::verbose())
            qCInfo(lcDetector) << "ax_chat: done → ready (live)";
    }
    state.wasGenerating = generating;
}

void AXChatDetector::adoptRunningGenerations(const DetectorEnvironment& environment) {
    if (!m_signals || !m_dependencies.trusted || !m_dependencies.trusted() ||
        !m_dependencies.runningPID || !m_dependencies.readControls)
        return;
    const std::optional<QString> frontmost =
        environment.frontmostBundleID ? environment.frontmostBundleID() : std::nullopt;
    for (const QString& bundleID : std::as_const(m_bundleIDs)) {
        if (bundleID == frontmost)
            continue;
        const std::optional<qint64> pid = m_dependencies.runningPID(bundleID);
        if (!pid)
            continue;
        m_dependencies.readControls(*pid, [this, alive = std::weak_ptr<bool>(m_alive), bundleID,
                                           pid](const Controls& controls) {
            const std::shared_ptr<bool> living = alive.lock();
            if (living && *living)
                adopt(bundleID, *pid, controls);
        });
    }
}

void AXChatDetector::adopt(const QString& bundleID, qint64 pid, const Controls& controls) {
    if (!m_signals || controls.labels.isEmpty() || !isGenerating(controls.labels, m_patterns))
        return;
    auto& slot = m_states[bundleID];
    if (!slot)
        slot = std::make_shared<ChatState>();
    ChatState& state = *slot;
    if (state.wasGenerating)
        return; // followed already
    const TimePoint now = m_dependencies.now ? m_dependencies.now() : TimePoint::clock::now();
    if (!state.contextID && m_signals->claim)
        state.contextID = m_signals->claim(bundleID, std::nullopt, now);
    state.pid = pid;
    state.wasGenerating = true;
    if (state.contextID && m_signals->pending)
        m_signals->pending(*state.contextID, QStringLiteral("ai_chat_generating"), now);
    arm(bundleID);
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << "ax_chat adopted running generation" << bundleID;
}

bool AXChatDetector::remoteApproveOn() const {
    return m_settings.boolValue(QStringLiteral("settings.remoteApprove")).value_or(false);
}

QStringList AXChatDetector::approveTerms() const {
    return RemoteApproval::resolvedApprove(
        strings(m_settings, QStringLiteral("settings.approveLabels")));
}

QStringList AXChatDetector::denyTerms() const {
    return RemoteApproval::resolvedDeny(strings(m_settings, QStringLiteral("settings.denyLabels")));
}

bool AXChatDetector::respond(const RemoteApproval::Response& response, const QString& bundleID) {
    const std::shared_ptr<ChatState> state = m_states.value(bundleID);
    if (!remoteApproveOn() || !state || !state->pid || !m_dependencies.press ||
        !m_dependencies.trusted || !m_dependencies.trusted())
        return false;
    const QStringList approve = approveTerms();
    const QStringList deny = denyTerms();
    std::function<bool(const QString&)> choose;
    if (const auto* kind = std::get_if<RemoteApproval::Kind>(&response)) {
        if (*kind == RemoteApproval::Kind::Approve)
            choose = [approve, deny](const QString& label) {
                return RemoteApproval::isApprove(label, approve) &&
                       !RemoteApproval::isDeny(label, deny) && !RemoteApproval::isEscalating(label);
            };
        else if (*kind == RemoteApproval::Kind::Deny)
            choose = [deny](const QString& label) { return RemoteApproval::isDeny(label, deny); };
        else
            return false;
    } else {
        // The n-th label that is neither an approval nor a denial, in reading order.
        const int wanted = std::get<RemoteApproval::Option>(response).index;
        auto seen = std::make_shared<int>(0);
        choose = [approve, deny, wanted, seen](const QString& label) {
            if (RemoteApproval::isApprove(label, approve) || RemoteApproval::isDeny(label, deny))
                return false;
            return (*seen)++ == wanted;
        };
    }
    const bool pressed = m_dependencies.press(*state->pid, choose);
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << "ax_chat" << bundleID << ": remote respond pressed=" << pressed;
    return pressed;
}
