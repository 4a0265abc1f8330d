#pragma once

#include "detectors/Detector.h"
#include "platform/DirectoryWatcher.h"

#include <QHash>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <chrono>

// Follows the coding-agent sessions the Claude desktop app runs: one loop per session.
// A session's metadata file (local_*.json below the root) carries its completed-turn count;
// a growing count means a turn finished. Between file writes, the app's own controls
// ("Running <title>", "Awaiting input <title>") tell working from done.
class ClaudeDesktopSessionDetector final : public Detector {
public:
    static inline const QString bundleID = QStringLiteral("com.anthropic.claudefordesktop");
    static constexpr double kActiveWindow = 21600; // seconds without activity before pruning
    static constexpr double kProbeWindow = 20;     // seconds of polling after a file change
    static constexpr qint64 kMaxMetaBytes = 16 * 1024 * 1024;

    struct Meta {
        std::optional<QString> sessionId;
        std::optional<qint64> completedTurns;
        std::optional<QString> title;
        std::optional<QString> cwd;
        std::optional<bool> isArchived;
        std::optional<double> lastActivityAt; // milliseconds since 1970
        std::optional<QString> label() const;
        std::optional<TimePoint> activityTime() const;
    };
    struct Statuses {
        QSet<QString> running;
        QSet<QString> awaiting;
    };

    using Clock = std::function<TimePoint()>;
    // Runs work later on the main thread; the work is dropped if the context dies first.
    using Settle = std::function<void(QObject* context, std::function<void()> work)>;
    // Labels of the desktop app's controls; empty without accessibility.
    using ControlLabels = std::function<QStringList()>;

    struct Options {
        Clock now = [] { return std::chrono::system_clock::now(); };
        Settle settle = settleAfter(std::chrono::milliseconds(2500));
        ControlLabels controlLabels = [] { return QStringList(); };
        std::chrono::milliseconds pollInterval{2500};
    };

    ClaudeDesktopSessionDetector(QString rootDir, DirectoryWatcher& watcher, Options options);

    QString kind() const override { return QStringLiteral("claude_desktop"); }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;
    void stop() override;

    // $XDG_CONFIG_HOME/Claude/claude-code-sessions
    static QString defaultRootDir();
    static std::optional<Meta> readMeta(const QString& path);
    static std::optional<Meta> parseMeta(const QByteArray& json);
    static Statuses parseStatuses(const QStringList& labels);
    static bool isMetaFile(const QString& path);
    static Settle settleAfter(std::chrono::milliseconds delay);

    bool isPolling() const { return m_statusTimer.isActive(); }
    int sessionCount() const { return static_cast<int>(m_sessions.size()); }
    bool hasSession(const QString& id) const { return m_sessions.contains(id); }

private:
    struct SessionState {
        std::optional<QString> contextID;
        qint64 lastCompletedTurns = 0;
        std::optional<QString> label;
        bool wasRunning = false;
        TimePoint lastObservedAt = TimePoint::min();
    };

    QStringList metaFiles() const;
    void armWatch();
    void changed(const QStringList& paths);
    void ensureClaimed(const QString& id, const std::optional<QString>& label);
    bool isOpen(const std::optional<QString>& contextID) const;
    std::optional<QString> claimFor(const QString& id, const std::optional<QString>& label);
    void apply(const Meta& meta);
    void surfaceIfAway(const QString& id);
    void requestStatusProbe(TimePoint at);
    void pollStatus();
    void applyStatuses(const Statuses& statuses);
    void prune(TimePoint at);
    bool anyRunning() const;

    QString m_rootDir;
    DirectoryWatcher& m_watcher;
    Options m_options;
    DetectorSignalsPtr m_signals;
    std::optional<DetectorEnvironment> m_environment;
    QHash<QString, SessionState> m_sessions;
    QHash<QString, QString> m_sessionIDByPath;
    std::unique_ptr<DirectoryWatcher::Watch> m_watch;
    QTimer m_statusTimer;
    TimePoint m_statusProbeUntil = TimePoint::min();
    QString m_lastStatusKey;
    QObject m_context; // settled work dies with the detector
};
