#pragma once

#include "detectors/Detector.h"
#include "platform/Accessibility.h"
#include "platform/TerminalJobs.h"

#include <QHash>
#include <QObject>
#include <QSet>

class Workspace;

// Tells when a command left running in a terminal has finished. Two rules:
// - the process rule, where the terminal window's process runs exactly one shell (xterm and
//   other one-window-per-process terminals): a command holds the terminal's foreground
//   (its foreground process group is not the shell's). Its end is watched without polling;
//   a job stopped with Ctrl-Z has not finished. Interactive programs that wait for the user
//   (editors, pagers, remote shells, multiplexers) do not count as running commands;
// - the title rule, everywhere: a title naming an idle shell or showing a path means the
//   prompt is back; any other title means a command runs.
// Leaving a busy terminal window reports its loop pending; the command ending (process
// rule) or that window's title turning idle (title rule) reports it ready.
class TerminalDetector final : public Detector {
public:
    using Clock = std::function<TimePoint()>;

    static const QSet<QString>& terminalBundleIDs();
    // Foreground programs that wait for the user rather than the other way round.
    static bool isInteractiveProgram(const QString& command);

    // `jobs` may be null: the title rule alone.
    TerminalDetector(
        Accessibility& accessibility, const Workspace& workspace, TerminalJobs* jobs = nullptr,
        Clock now = [] { return std::chrono::system_clock::now(); });
    ~TerminalDetector() override;

    QString kind() const override { return QStringLiteral("terminal"); }
    bool handles(const QString& bundleID) const override {
        return terminalBundleIDs().contains(bundleID);
    }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals& signals) override;
    // Observers stay while capture is paused.
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    static bool looksIdle(const QString& title);
    static bool looksBusy(const QString& title) { return !title.isEmpty() && !looksIdle(title); }
    std::optional<QString> currentTitle(const QString& bundleID) const;
    int observerCount() const { return static_cast<int>(m_observers.size()); }
    int jobWatchCount() const { return static_cast<int>(m_jobWatches.size()); }

private:
    struct LeftWindow {
        quint64 id = 0;
        std::optional<QString> title;
        qint64 pid = 0;
    };
    struct JobWatch {
        qint64 terminalPid = 0;
        qint64 foregroundGroup = 0; // the job watched
        std::unique_ptr<TerminalJobs::Watch> watch;
    };

    std::optional<qint64> handleOf(const QString& bundleID) const;
    std::optional<QString> focusedWindowTitle(qint64 handle) const;
    std::optional<QString> windowTitle(qint64 handle, quint64 windowID) const;
    std::optional<LeftWindow> focusedWindow(const QString& bundleID) const;
    // The process rule's verdict: true when a command holds the terminal's foreground.
    bool commandRunning(const LeftWindow& window, const ContextRecord& loop,
                        const DetectorSignals& signals);
    void watchJob(const QString& contextID, qint64 terminalPid, qint64 foregroundGroup);
    void jobMayHaveEnded(const QString& contextID);
    bool isWaiting(const QString& contextID) const;
    void ensureObserver(const QString& bundleID);
    void removeObserver(const QString& bundleID);
    void addTitleNotifications(Accessibility::Observer& observer, qint64 pid);
    void titleDidChange();

    Accessibility& m_accessibility;
    const Workspace& m_workspace;
    TerminalJobs* m_terminalJobs;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    std::optional<DetectorEnvironment> m_environment;
    std::unordered_map<qint64, std::unique_ptr<Accessibility::Observer>> m_observers;
    QHash<QString, quint64> m_windowOfLoop;                 // waiting loops under the title rule
    QHash<QString, std::shared_ptr<JobWatch>> m_jobWatches; // waiting loops, process rule
    QObject m_context; // queued job checks die with the detector
};
