#pragma once

#include "detectors/Detector.h"
#include "platform/DirectoryWatcher.h"

#include <QHash>
#include <QObject>
#include <atomic>
#include <thread>
#include <variant>

// Follows the session logs that command-line coding agents append to, one JSON object per
// line: a prompt line means the session is working (pending), a turn-end line that it is
// ready. One log file is one loop. A Config supplies the agent's specifics.
class SessionLogDetector final : public Detector {
public:
    struct PromptSent {
        std::optional<QString> text;
    };
    struct TurnComplete {};
    // The user stopped the turn: it has ended, but nothing finished that needs a nudge.
    struct TurnAborted {};
    using Event = std::variant<PromptSent, TurnComplete, TurnAborted>;

    struct Config {
        QString kind;
        QString bundleID;
        QString rootDir;
        std::function<bool(const QString& path)> isSessionFile;
        std::function<std::optional<Event>(const QByteArray& line)> classify;
        std::function<std::optional<QString>(const QByteArray& line)> label;
        // Both answers from one parse of the line; used instead of the two above when set.
        std::function<std::pair<std::optional<Event>, std::optional<QString>>(
            const QByteArray& line)>
            inspect;
        // What a line says: `inspect` when set, else `classify` and `label`.
        std::pair<std::optional<Event>, std::optional<QString>>
        meaning(const QByteArray& line) const;
        QString pendingDetail;
        QString readyDetail;
        QString abortedDetail;
        double launchActiveWindow = 21600;
        // Texts that every line giving an event, or a name, holds (how the launch finds such
        // lines without parsing the others); both empty: every line is parsed.
        QList<QByteArray> eventMarkers;
        QList<QByteArray> labelMarkers;
    };

    using Clock = std::function<TimePoint()>;

    // A line longer than this is skipped rather than buffered (logs are written by others).
    static constexpr qsizetype kMaxLineBytes = 16 * 1024 * 1024;
    // What the launch reads of each log on the main thread, from its end; a log whose latest
    // turn lies further back is read on a thread of its own and adopted when that is done.
    static constexpr qint64 kLaunchTailBytes = 256 * 1024;

    SessionLogDetector(
        Config config, DirectoryWatcher& watcher,
        Clock now = [] { return std::chrono::system_clock::now(); });
    ~SessionLogDetector() override;

    QString kind() const override { return m_config.kind; }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;
    void stop() override;

    static std::optional<QString> nearestExistingAncestor(const QString& path);
    bool isWatchingAncestor() const { return m_watchingAncestor; }
    // Logs of the launch still being read on the background thread.
    int logsBeingRead() const;

    // Claude Code: ~/.claude/projects/<project>/<session>.jsonl
    static Config claudeCode(const QString& bundleID, const QString& projectsDir);
    static QString defaultProjectsDir();
    // Codex: $CODEX_HOME/sessions/YYYY/MM/DD/rollout-….jsonl (CODEX_HOME defaults to ~/.codex)
    static Config codex(const QString& bundleID, const QString& sessionsDir);
    static QString defaultSessionsDir();

private:
    struct FileState {
        std::optional<QString> contextID;
        std::optional<QString> label;
        qint64 offset = 0;
        QByteArray buffer;
        bool skippingLongLine = false;
        bool reading = false; // its launch reading is still going on in the background
    };
    struct Adoption; // a log to adopt, with what its end says

    QStringList sessionFiles() const;
    void launchScan();
    void adopt(const Adoption& adoption);
    void readInBackground(QList<Adoption> adoptions);
    void stopBackground();
    void armWatch();
    void changed(const QStringList& paths);
    void readNewLines(const QString& key);
    void ingest(const QString& key, const QByteArray& line, bool known);
    std::optional<QString> claimFor(const QString& key, const std::optional<QString>& label,
                                    TimePoint at);
    void summarize(const QString& contextID, const std::optional<QString>& prompt);

    Config m_config;
    DirectoryWatcher& m_watcher;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    DetectorEnvironment m_environment;
    QHash<QString, FileState> m_files;
    std::unique_ptr<DirectoryWatcher::Watch> m_watch;
    bool m_watchingAncestor = false;
    QString m_ancestor; // the folder watched while the root is absent
    QObject m_context;  // defers work out of the watch's own callback
    std::atomic<bool> m_cancel{false};
    int m_generation = 0;
    std::thread m_background; // joined before m_context goes
};
