#include "detectors/TerminalDetector.h"

#include "model/Log.h"
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
    static const QSet<QString> ids = {
        QStringLiteral("com.apple.Terminal"), QStringLiteral("com.googlecode.iterm2"),
        QStringLiteral("com.mitchellh.ghostty"), QStringLiteral("com.github.wez.wezterm"),
        QStringLiteral("net.kovidgoyal.kitty"), QStringLiteral("org.alacritty"),
        QStringLiteral("org.tabby"), QStringLiteral("co.zeit.hyper"),
        QStringLiteral("dev.warp.Warp-Stable"),
        // Linux terminals by desktop id, and by window class where they ship no entry.
        QStringLiteral("org.gnome.Terminal"), QStringLiteral("org.gnome.Console"),
        QStringLiteral("org.gnome.Ptyxis"), QStringLiteral("org.kde.konsole"),
        QStringLiteral("org.kde.yakuake"), QStringLiteral("xfce4-terminal"),
        QStringLiteral("org.xfce.terminal"), QStringLiteral("com.gexperts.Tilix"),
        QStringLiteral("terminator"), QStringLiteral("lxterminal"), QStringLiteral("mate-terminal"),
        QStringLiteral("qterminal"), QStringLiteral("org.codeberg.dnkl.foot"),
        QStringLiteral("foot"), QStringLiteral("debian-xterm"), QStringLiteral("debian-uxterm"),
        QStringLiteral("xterm"), QStringLiteral("XTerm"), QStringLiteral("UXTerm"),
        QStringLiteral("rxvt-unicode"), QStringLiteral("URxvt"), QStringLiteral("st-256color"),
        QStringLiteral("Eterm")};
    return ids;
}

bool TerminalDetector::isInteractiveProgram(const QString& command) {
    static const QSet<QString> programs = {
        // editors
        QStringLiteral("vim"), QStringLiteral("vi"), QStringLiteral("nvim"), QStringLiteral("nano"),
        QStringLiteral("emacs"), QStringLiteral("micro"), QStringLiteral("hx"),
        QStringLiteral("kak"), QStringLiteral("joe"), QStringLiteral("mg"),
        // pagers and manuals
        QStringLiteral("less"), QStringLiteral("more"), QStringLiteral("most"),
        QStringLiteral("man"),
        // monitors
        QStringLiteral("top"), QStringLiteral("htop"), QStringLiteral("btop"),
        QStringLiteral("atop"), QStringLiteral("watch"),
        // remote shells and multiplexers
        QStringLiteral("ssh"), QStringLiteral("mosh-client"), QStringLiteral("telnet"),
        QStringLiteral("tmux"), QStringLiteral("screen"), QStringLiteral("su"),
        QStringLiteral("sudo"),
        // file managers and mail
        QStringLiteral("mc"), QStringLiteral("ranger"), QStringLiteral("nnn"),
        QStringLiteral("mutt"), QStringLiteral("neomutt")};
    return programs.contains(command);
}

TerminalDetector::TerminalDetector(Accessibility& accessibility, const Workspace& workspace,
                                   TerminalJobs* jobs, Clock now)
    : m_accessibility(accessibility)
    , m_workspace(workspace)
    , m_terminalJobs(jobs)
    , m_now(std::move(now)) {}

TerminalDetector::~TerminalDetector() = default;

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

std::optional<qint64> TerminalDetector::handleOf(const QString& bundleID) const {
    const std::optional<RunningApplication> application = m_workspace.application(bundleID);
    return application ? std::optional<qint64>(application->pid) : std::nullopt;
}

std::optional<QString> TerminalDetector::focusedWindowTitle(qint64 handle) const {
    const std::optional<AXElement> window =
        m_accessibility.element(AXElement::application(handle), QStringLiteral("AXFocusedWindow"));
    if (!window || window->role != AXElement::Role::Window)
        return std::nullopt;
    return m_accessibility.text(*window, QStringLiteral("AXTitle"));
}

std::optional<QString> TerminalDetector::windowTitle(qint64 handle, quint64 windowID) const {
    return m_accessibility.text(AXElement::window(handle, windowID), QStringLiteral("AXTitle"));
}

std::optional<QString> TerminalDetector::currentTitle(const QString& bundleID) const {
    if (!m_accessibility.isProcessTrusted())
        return std::nullopt;
    const std::optional<qint64> handle = handleOf(bundleID);
    return handle ? focusedWindowTitle(*handle) : std::nullopt;
}

std::optional<TerminalDetector::LeftWindow>
TerminalDetector::focusedWindow(const QString& bundleID) const {
    if (!m_accessibility.isProcessTrusted())
        return std::nullopt;
    const std::optional<qint64> handle = handleOf(bundleID);
    if (!handle)
        return std::nullopt;
    const std::optional<quint64> id = m_workspace.focusedWindowID(*handle);
    if (!id)
        return std::nullopt;
    for (const WindowInfo& info : m_workspace.windows(*handle)) {
        if (info.id == *id)
            return LeftWindow{info.id, info.title, info.pid};
    }
    return std::nullopt;
}

bool TerminalDetector::commandRunning(const LeftWindow& window, const ContextRecord& loop,
                                      const DetectorSignals& signals) {
    if (!m_terminalJobs || window.pid <= 0)
        return false;
    const std::optional<TerminalJobs::Shell> shell = m_terminalJobs->shellOf(window.pid);
    if (!shell || !shell->commandInForeground())
        return false;
    if (shell->command && isInteractiveProgram(*shell->command))
        return false;
    // Only the command's name (never its arguments), and only for a loop without a label.
    if (shell->command && !loop.label && signals.labelIfUnlabelled)
        signals.labelIfUnlabelled(loop.id, *shell->command);
    watchJob(loop.id, window.pid, shell->foregroundGroup);
    return true;
}

void TerminalDetector::watchJob(const QString& contextID, qint64 terminalPid,
                                qint64 foregroundGroup) {
    const std::optional<qint64> member = m_terminalJobs->memberOf(foregroundGroup);
    auto job = std::make_shared<JobWatch>();
    job->terminalPid = terminalPid;
    job->foregroundGroup = foregroundGroup;
    const std::weak_ptr<JobWatch> weak = job;
    const auto ended = [this, contextID, weak] {
        // Out of the watch's own callback: checking may replace the watch.
        QMetaObject::invokeMethod(
            &m_context,
            [this, contextID, weak] {
                if (!weak.expired())
                    jobMayHaveEnded(contextID);
            },
            Qt::QueuedConnection);
    };
    job->watch = member ? m_terminalJobs->watchExit(*member, ended) : nullptr;
    m_jobWatches.insert(contextID, job);
    m_windowOfLoop.remove(contextID);
    if (!job->watch)
        QMetaObject::invokeMethod(
            &m_context, [this, contextID] { jobMayHaveEnded(contextID); }, Qt::QueuedConnection);
}

bool TerminalDetector::isWaiting(const QString& contextID) const {
    if (!m_environment || !m_environment->openContexts)
        return false;
    for (const ContextRecord& loop : m_environment->openContexts()) {
        if (loop.id == contextID)
            return loop.state == ContextState::Waiting;
    }
    return false;
}

void TerminalDetector::jobMayHaveEnded(const QString& contextID) {
    const std::shared_ptr<JobWatch> job = m_jobWatches.value(contextID);
    if (!job || !m_signals)
        return;
    if (!isWaiting(contextID)) {
        m_jobWatches.remove(contextID); // the user came back, or it was dismissed
        return;
    }
    const std::optional<TerminalJobs::Shell> shell = m_terminalJobs->shellOf(job->terminalPid);
    if (!shell) {
        m_jobWatches.remove(contextID); // the terminal has gone
        return;
    }
    if (shell->commandInForeground()) {
        // Another process of the job (a pipeline), or the next command: follow it.
        watchJob(contextID, job->terminalPid, shell->foregroundGroup);
        return;
    }
    if (m_terminalJobs->isGroupStopped(job->foregroundGroup)) {
        // Suspended (Ctrl-Z) rather than finished: it ends when it is resumed and exits.
        watchJob(contextID, job->terminalPid, job->foregroundGroup);
        return;
    }
    m_jobWatches.remove(contextID);
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << QStringLiteral("terminal job ended for %1").arg(contextID);
    m_signals->ready(contextID, QStringLiteral("command_finished"), m_now());
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
        // The window the user left: its process and its title decide.
        const std::optional<LeftWindow> window = focusedWindow(event.bundleID);
        if (window && commandRunning(*window, *context, signals)) {
            if (Log::verbose())
                qCInfo(lcDetector).noquote() << "terminal focus_lost: a command holds the "
                                                "foreground";
            signals.pending(context->id, QStringLiteral("command_running"), event.occurredAt);
            return;
        }
        std::optional<QString> title = window ? window->title : std::nullopt;
        if (!title)
            title = context->label;
        const bool busy = title && looksBusy(*title);
        if (Log::verbose())
            qCInfo(lcDetector).noquote()
                << QStringLiteral("terminal focus_lost: busy=%1 hasTitle=%2")
                       .arg(busy ? u"true"_qs : u"false"_qs, title ? u"true"_qs : u"false"_qs);
        if (!busy)
            return;
        if (window)
            m_windowOfLoop.insert(context->id, window->id);
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
    const std::optional<qint64> handle = handleOf(bundleID);
    if (!handle || m_observers.contains(*handle))
        return;
    auto observer = m_accessibility.createObserver(
        *handle, [this](const AXElement&, const QString&) { titleDidChange(); });
    if (!observer)
        return;
    const AXElement application = AXElement::application(*handle);
    observer->addNotification(application, QStringLiteral("AXFocusedWindowChanged"));
    observer->addNotification(application, QStringLiteral("AXWindowCreated"));
    addTitleNotifications(*observer, *handle);
    m_observers.emplace(*handle, std::move(observer));
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("terminal AX observer registered for application %1").arg(*handle);
}

void TerminalDetector::removeObserver(const QString& bundleID) {
    // Also the observers of applications the workspace no longer lists: one that has just
    // ended may already be gone from the list.
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
    for (const auto& [handle, observer] : m_observers)
        addTitleNotifications(*observer, handle); // windows opened since
    const bool debugTitles = qEnvironmentVariable("KESTRUNE_DEBUG_TITLES") == u"1";
    const QList<ContextRecord> loops =
        m_environment->openContexts ? m_environment->openContexts() : QList<ContextRecord>();
    QSet<QString> waiting;
    for (const ContextRecord& loop : loops) {
        if (loop.state == ContextState::Waiting)
            waiting.insert(loop.id);
    }
    m_windowOfLoop.removeIf(
        [&waiting](const auto& entry) { return !waiting.contains(entry.key()); });
    for (const ContextRecord& loop : loops) {
        if (!terminalBundleIDs().contains(loop.bundleID) || loop.state != ContextState::Waiting ||
            m_jobWatches.contains(loop.id))
            continue;
        const std::optional<qint64> handle = handleOf(loop.bundleID);
        if (!handle)
            continue;
        // The window the user left with the command running; the focused one if unknown.
        const auto window = m_windowOfLoop.constFind(loop.id);
        const std::optional<QString> title = window != m_windowOfLoop.cend()
                                                 ? windowTitle(*handle, *window)
                                                 : focusedWindowTitle(*handle);
        if (!title)
            continue;
        const bool idle = looksIdle(*title);
        if (debugTitles)
            qCInfo(lcDetector).noquote() << QStringLiteral("terminal title check: idle=%1 title=%2")
                                                .arg(idle ? u"true"_qs : u"false"_qs, *title);
        else if (Log::verbose())
            qCInfo(lcDetector).noquote() << QStringLiteral("terminal title check: idle=%1")
                                                .arg(idle ? u"true"_qs : u"false"_qs);
        if (!idle)
            continue;
        m_windowOfLoop.remove(loop.id);
        m_signals->ready(loop.id, QStringLiteral("command_finished"), m_now());
    }
}
