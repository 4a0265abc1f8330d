#include "detectors/TerminalDetector.h"

#include "core/Log.h"
#include "platform/Workspace.h"

#include <QRegularExpression>

namespace {

const QSet<QString> kIdleShells = {
    QStringLiteral("zsh"),   QStringLiteral("bash"),  QStringLiteral("fish"),
    QStringLiteral("sh"),    QStringLiteral("dash"),  QStringLiteral("-zsh"),
    QStringLiteral("-bash"), QStringLiteral("login"), QStringLiteral("tmux")};

// Linux shells title their window "user@host: ~/dir" (or "user@host:~/dir") at the prompt.
bool isPromptTitle(const QString& piece) {
    static const QRegularExpression prompt(QStringLiteral(R"(^[^\s@:]+@[^\s:]+:\s*[~/])"));
    return prompt.match(piece).hasMatch();
}

} // namespace

const QSet<QString>& TerminalDetector::terminalBundleIDs() {
    static const QSet<QString> ids = {QStringLiteral("com.apple.Terminal"),
                                      QStringLiteral("com.googlecode.iterm2"),
                                      QStringLiteral("com.mitchellh.ghostty"),
                                      QStringLiteral("com.github.wez.wezterm"),
                                      QStringLiteral("net.kovidgoyal.kitty"),
                                      QStringLiteral("org.alacritty"),
                                      QStringLiteral("org.tabby"),
                                      QStringLiteral("co.zeit.hyper")};
    return ids;
}

TerminalDetector::TerminalDetector(Accessibility& accessibility, const Workspace& workspace,
                                   Clock now)
    : m_accessibility(accessibility)
    , m_workspace(workspace)
    , m_now(std::move(now)) {}

void TerminalDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) {
    m_signals = std::move(signals);
    m_environment = environment;
}

bool TerminalDetector::looksIdle(const QString& title) {
    for (const QString& raw : title.split(QChar(0x2014), Qt::SkipEmptyParts)) {
        const QString piece = raw.trimmed().toLower();
        if (kIdleShells.contains(piece) || piece.startsWith(u'~') || piece.startsWith(u'/') ||
            isPromptTitle(piece))
            return true;
    }
    return false;
}

std::optional<QString> TerminalDetector::focusedWindowTitle(qint64 pid) const {
    const std::optional<AXElement> window =
        m_accessibility.element(AXElement::application(pid), QStringLiteral("AXFocusedWindow"));
    if (!window || window->role != AXElement::Role::Window)
        return std::nullopt;
    return m_accessibility.text(*window, QStringLiteral("AXTitle"));
}

std::optional<QString> TerminalDetector::currentTitle(const QString& bundleID) const {
    if (!m_accessibility.isProcessTrusted())
        return std::nullopt;
    const std::optional<qint64> pid = m_workspace.firstPID(bundleID);
    return pid ? focusedWindowTitle(*pid) : std::nullopt;
}

void TerminalDetector::observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                               const DetectorSignals& signals) {
    switch (event.kind) {
    case FocusEvent::Kind::FocusGained:
        ensureObserver(event.bundleID);
        break;
    case FocusEvent::Kind::AppTerminated:
        removeObserver(event.bundleID);
        break;
    case FocusEvent::Kind::FocusLost: {
        if (!context)
            return;
        std::optional<QString> title = currentTitle(event.bundleID);
        if (!title)
            title = context->label;
        const bool busy = title && looksBusy(*title);
        if (Log::verbose())
            qCInfo(lcDetector).noquote()
                << QStringLiteral("terminal focus_lost: busy=%1 hasTitle=%2")
                       .arg(busy ? u"true"_qs : u"false"_qs, title ? u"true"_qs : u"false"_qs);
        if (busy)
            signals.pending(context->id, QStringLiteral("command_running"), event.occurredAt);
        break;
    }
    default:
        break;
    }
}

void TerminalDetector::addTitleNotifications(Accessibility::Observer& observer, qint64 pid) {
    for (const AXElement& window :
         m_accessibility.elements(AXElement::application(pid), QStringLiteral("AXWindows")))
        observer.addNotification(window, QStringLiteral("AXTitleChanged"));
}

void TerminalDetector::ensureObserver(const QString& bundleID) {
    if (!m_accessibility.isProcessTrusted())
        return;
    const std::optional<qint64> pid = m_workspace.firstPID(bundleID);
    if (!pid || m_observers.contains(*pid))
        return;
    auto observer = m_accessibility.createObserver(
        *pid, [this](const AXElement&, const QString&) { titleDidChange(); });
    if (!observer)
        return;
    const AXElement application = AXElement::application(*pid);
    observer->addNotification(application, QStringLiteral("AXFocusedWindowChanged"));
    observer->addNotification(application, QStringLiteral("AXWindowCreated"));
    addTitleNotifications(*observer, *pid);
    m_observers.emplace(*pid, std::move(observer));
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("terminal AX observer registered for pid %1").arg(*pid);
}

void TerminalDetector::removeObserver(const QString& bundleID) {
    // Also the observers of processes the workspace no longer lists: one that has just ended
    // may already be gone from the list.
    QSet<qint64> kept;
    for (const RunningApplication& application : m_workspace.runningApplications()) {
        if (application.bundleID != bundleID)
            kept.insert(application.pid);
    }
    std::erase_if(m_observers, [&kept](const auto& entry) { return !kept.contains(entry.first); });
}

void TerminalDetector::titleDidChange() {
    if (!m_signals || !m_environment)
        return;
    for (const auto& [pid, observer] : m_observers)
        addTitleNotifications(*observer, pid); // windows opened since
    const bool debugTitles = qEnvironmentVariable("KESTRUNE_DEBUG_TITLES") == u"1";
    const QList<ContextRecord> loops =
        m_environment->openContexts ? m_environment->openContexts() : QList<ContextRecord>();
    for (const ContextRecord& loop : loops) {
        if (!terminalBundleIDs().contains(loop.bundleID) || loop.state != ContextState::Waiting)
            continue;
        const std::optional<qint64> pid = m_workspace.firstPID(loop.bundleID);
        if (!pid)
            continue;
        const std::optional<QString> title = focusedWindowTitle(*pid);
        if (!title)
            continue;
        const bool idle = looksIdle(*title);
        if (debugTitles)
            qCInfo(lcDetector).noquote() << QStringLiteral("terminal title check: idle=%1 title=%2")
                                                .arg(idle ? u"true"_qs : u"false"_qs, *title);
        else if (Log::verbose())
            qCInfo(lcDetector).noquote() << QStringLiteral("terminal title check: idle=%1")
                                                .arg(idle ? u"true"_qs : u"false"_qs);
        if (idle)
            m_signals->ready(loop.id, QStringLiteral("command_finished"), m_now());
    }
}
