#include "detectors/ClaudeDesktopSessionDetector.h"

#include "model/JsonParsing.h"
#include "model/Log.h"
#include "model/TextTrim.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QStandardPaths>
#include <algorithm>
#include <cmath>

namespace {

constexpr double kLatency = 0.3;
constexpr double kMaxActivityMillis = 8e12;
const QString kTurnComplete = QStringLiteral("claude_desktop_turn_complete");
const QString kRunning = QStringLiteral("claude_desktop_running");

double secondsBetween(TimePoint earlier, TimePoint later) {
    return std::chrono::duration<double>(later - earlier).count();
}

std::optional<QString> textOf(const QJsonValue& value) {
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

QString shortID(const std::optional<QString>& id) {
    return id ? id->right(8) : QStringLiteral("?");
}

QString sortedJoined(const QSet<QString>& names) {
    QStringList list(names.cbegin(), names.cend());
    list.sort();
    return list.join(QStringLiteral(", "));
}

} // namespace

std::optional<QString> ClaudeDesktopSessionDetector::Meta::label() const {
    if (title) {
        const QString trimmed = title->trimmed();
        if (!trimmed.isEmpty())
            return trimmed;
    }
    if (cwd && !cwd->isEmpty()) {
        const QString name = QFileInfo(QDir::cleanPath(*cwd)).fileName();
        if (!name.isEmpty())
            return name;
    }
    return std::nullopt;
}

std::optional<TimePoint> ClaudeDesktopSessionDetector::Meta::activityTime() const {
    if (!lastActivityAt)
        return std::nullopt;
    return fromMillis(static_cast<qint64>(*lastActivityAt));
}

ClaudeDesktopSessionDetector::ClaudeDesktopSessionDetector(QString rootDir,
                                                           DirectoryWatcher& watcher,
                                                           Options options)
    : m_rootDir(QDir::cleanPath(rootDir))
    , m_watcher(watcher)
    , m_options(std::move(options)) {
    m_statusTimer.setInterval(m_options.pollInterval);
    QObject::connect(&m_statusTimer, &QTimer::timeout, &m_context, [this] { pollStatus(); });
}

QString ClaudeDesktopSessionDetector::defaultRootDir() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/Claude/claude-code-sessions");
}

ClaudeDesktopSessionDetector::Settle
ClaudeDesktopSessionDetector::settleAfter(std::chrono::milliseconds delay) {
    return [delay](QObject* context, std::function<void()> work) {
        QTimer::singleShot(delay, context, std::move(work));
    };
}

bool ClaudeDesktopSessionDetector::isMetaFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    return name.startsWith(QLatin1String("local_")) && name.endsWith(QLatin1String(".json"));
}

std::optional<ClaudeDesktopSessionDetector::Meta>
ClaudeDesktopSessionDetector::readMeta(const QString& path) {
    // Only regular files: a pipe under that name would block the read.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > kMaxMetaBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseMeta(file.read(kMaxMetaBytes));
}

std::optional<ClaudeDesktopSessionDetector::Meta>
ClaudeDesktopSessionDetector::parseMeta(const QByteArray& json) {
    const std::optional<QJsonObject> parsed = JsonParsing::object(json);
    if (!parsed)
        return std::nullopt;
    const QJsonObject& object = *parsed;
    Meta meta;
    meta.sessionId = textOf(object.value(QLatin1String("sessionId")));
    if (!meta.sessionId)
        meta.sessionId = textOf(object.value(QLatin1String("cliSessionId")));
    const QJsonValue turns = object.value(QLatin1String("completedTurns"));
    // Whole numbers only, within what a count can be.
    if (turns.isDouble() && turns.toDouble() == std::trunc(turns.toDouble()) &&
        std::abs(turns.toDouble()) < 9e15)
        meta.completedTurns = static_cast<qint64>(turns.toDouble());
    meta.title = textOf(object.value(QLatin1String("title")));
    meta.cwd = textOf(object.value(QLatin1String("cwd")));
    if (const QJsonValue archived = object.value(QLatin1String("isArchived")); archived.isBool())
        meta.isArchived = archived.toBool();
    // A time the clock cannot hold (beyond about ±250 years) counts as absent.
    if (const QJsonValue activity = object.value(QLatin1String("lastActivityAt"));
        activity.isDouble() && std::abs(activity.toDouble()) < kMaxActivityMillis)
        meta.lastActivityAt = activity.toDouble();
    return meta;
}

ClaudeDesktopSessionDetector::Statuses
ClaudeDesktopSessionDetector::parseStatuses(const QStringList& labels) {
    static const QString awaiting = QStringLiteral("Awaiting input ");
    static const QString running = QStringLiteral("Running ");
    Statuses statuses;
    for (const QString& label : labels) {
        if (label.startsWith(awaiting)) {
            const QString name = TextTrim::spacesAndTabs(label.mid(awaiting.size()));
            if (!name.isEmpty())
                statuses.awaiting.insert(name);
        } else if (label.startsWith(running)) {
            const QString name = TextTrim::spacesAndTabs(label.mid(running.size()));
            if (!name.isEmpty())
                statuses.running.insert(name);
        }
    }
    return statuses;
}

void ClaudeDesktopSessionDetector::start(DetectorSignalsPtr signals,
                                         const DetectorEnvironment& environment) {
    m_signals = std::move(signals);
    m_environment = environment;
    const TimePoint now = m_options.now();
    for (const QString& path : metaFiles()) {
        const std::optional<Meta> meta = readMeta(path);
        if (!meta || !meta->sessionId)
            continue;
        const QDateTime modifiedAt = QFileInfo(path).lastModified();
        const std::optional<TimePoint> modified =
            modifiedAt.isValid() ? std::optional(fromMillis(modifiedAt.toMSecsSinceEpoch()))
                                 : std::nullopt;
        SessionState state;
        state.lastCompletedTurns = meta->completedTurns.value_or(0);
        state.lastObservedAt = meta->activityTime().value_or(modified.value_or(TimePoint::min()));
        m_sessions.insert(*meta->sessionId, state);
        m_sessionIDByPath.insert(path, *meta->sessionId);
        if (!meta->isArchived.value_or(false) && modified &&
            secondsBetween(*modified, now) <= kActiveWindow)
            ensureClaimed(*meta->sessionId, meta->label());
    }
    armWatch();
    prune(now);
    requestStatusProbe(now);
}

void ClaudeDesktopSessionDetector::stop() {
    m_statusTimer.stop();
    m_watch.reset(); // sessions stay known for the next start
}

QStringList ClaudeDesktopSessionDetector::metaFiles() const {
    QStringList files;
    if (!QFileInfo(m_rootDir).isDir())
        return files;
    // Hidden entries are skipped and symbolic links to folders are not entered.
    QDirIterator entries(m_rootDir, QDir::Files | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (isMetaFile(path))
            files.append(QDir::cleanPath(path));
    }
    return files;
}

void ClaudeDesktopSessionDetector::armWatch() {
    const bool exists = QFileInfo(m_rootDir).isDir();
    qCInfo(lcDetector).noquote() << QStringLiteral("detector %1 watching %2 (exists=%3)")
                                        .arg(kind(), Log::privateArg(m_rootDir),
                                             exists ? u"true"_qs : u"false"_qs);
    m_watch.reset();
    if (!exists)
        return; // idle until the next start
    m_watch =
        m_watcher.watch(m_rootDir, kLatency, [this](const QStringList& paths) { changed(paths); });
}

void ClaudeDesktopSessionDetector::changed(const QStringList& paths) {
    const TimePoint now = m_options.now();
    for (const QString& reported : paths) {
        if (!isMetaFile(reported))
            continue;
        const QString path = QDir::cleanPath(reported);
        if (!QFileInfo::exists(path)) {
            const std::optional<QString> id = m_sessionIDByPath.contains(path)
                                                  ? std::optional(m_sessionIDByPath.take(path))
                                                  : std::nullopt;
            // A running session outlives its file: the app may be rewriting it.
            if (id && m_sessions.contains(*id) && !m_sessions.value(*id).wasRunning)
                m_sessions.remove(*id);
            continue;
        }
        const std::optional<Meta> meta = readMeta(path);
        if (!meta)
            continue;
        if (meta->sessionId)
            m_sessionIDByPath.insert(path, *meta->sessionId);
        if (Log::verbose())
            qCInfo(lcDetector).noquote() << QStringLiteral("claude_desktop FS change ct=%1 id=%2")
                                                .arg(meta->completedTurns.value_or(-1))
                                                .arg(shortID(meta->sessionId));
        apply(*meta);
        requestStatusProbe(now);
    }
    prune(now);
}

void ClaudeDesktopSessionDetector::ensureClaimed(const QString& id,
                                                 const std::optional<QString>& label) {
    if (!m_signals || !m_sessions.contains(id))
        return;
    SessionState& state = m_sessions[id];
    if (label)
        state.label = label;
    if (!isOpen(state.contextID))
        state.contextID = claimFor(id, state.label);
}

bool ClaudeDesktopSessionDetector::isOpen(const std::optional<QString>& contextID) const {
    return m_environment ? m_environment->isOpen(contextID) : contextID.has_value();
}

std::optional<QString> ClaudeDesktopSessionDetector::claimFor(const QString& id,
                                                              const std::optional<QString>& label) {
    const TimePoint now = m_options.now();
    std::optional<QString> contextID;
    if (m_signals->claimSession)
        contextID = m_signals->claimSession(bundleID, label, id, now);
    if (!contextID && m_signals->claim)
        contextID = m_signals->claim(bundleID, label, now);
    return contextID;
}

void ClaudeDesktopSessionDetector::apply(const Meta& meta) {
    if (!m_signals || !meta.sessionId || meta.isArchived.value_or(false))
        return;
    const QString id = *meta.sessionId;
    const qint64 turns = meta.completedTurns.value_or(0);
    const TimePoint observed = meta.activityTime().value_or(m_options.now());
    if (!m_sessions.contains(id)) {
        SessionState fresh;
        fresh.lastCompletedTurns = turns; // a session first seen now has finished nothing yet
        fresh.lastObservedAt = observed;
        m_sessions.insert(id, fresh);
    }
    ensureClaimed(id, meta.label());
    SessionState& state = m_sessions[id];
    state.lastObservedAt = observed;
    if (turns <= state.lastCompletedTurns)
        return;
    state.lastCompletedTurns = turns;
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("claude_desktop %1 turn complete ct=%2; settling")
                   .arg(shortID(id))
                   .arg(turns);
    m_options.settle(&m_context, [this, id] { surfaceIfAway(id); });
}

void ClaudeDesktopSessionDetector::surfaceIfAway(const QString& id) {
    if (!m_signals || !m_sessions.contains(id))
        return;
    std::optional<QString> frontmost;
    if (m_environment && m_environment->frontmostBundleID)
        frontmost = m_environment->frontmostBundleID();
    const bool desktopAppFrontmost = frontmost == bundleID;
    SessionState& state = m_sessions[id];
    std::optional<QString> contextID = state.contextID;
    if (!isOpen(contextID)) // never claimed, or dismissed or purged since: a new loop
        contextID = claimFor(id, state.label);
    if (!contextID)
        return;
    state.contextID = contextID;
    const TimePoint now = m_options.now();
    if (desktopAppFrontmost)
        m_signals->readyQuiet(*contextID, kTurnComplete, now);
    else
        m_signals->ready(*contextID, kTurnComplete, now);
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << QStringLiteral("claude_desktop %1 resolved turn (away=%2)")
                   .arg(shortID(id), desktopAppFrontmost ? u"false"_qs : u"true"_qs);
}

void ClaudeDesktopSessionDetector::requestStatusProbe(TimePoint at) {
    m_statusProbeUntil =
        std::max(m_statusProbeUntil, at + std::chrono::duration_cast<TimePoint::duration>(
                                              std::chrono::duration<double>(kProbeWindow)));
    if (!m_statusTimer.isActive() && !m_sessions.isEmpty())
        m_statusTimer.start();
}

bool ClaudeDesktopSessionDetector::anyRunning() const {
    return std::any_of(m_sessions.cbegin(), m_sessions.cend(),
                       [](const SessionState& state) { return state.wasRunning; });
}

void ClaudeDesktopSessionDetector::pollStatus() {
    const TimePoint now = m_options.now();
    prune(now);
    if (m_sessions.isEmpty() || (!anyRunning() && now >= m_statusProbeUntil)) {
        m_statusTimer.stop();
        return;
    }
    const Statuses statuses = parseStatuses(m_options.controlLabels());
    if (statuses.running.isEmpty() && statuses.awaiting.isEmpty())
        return;
    if (Log::verbose()) {
        const QString running = sortedJoined(statuses.running);
        const QString awaiting = sortedJoined(statuses.awaiting);
        const QString key = running + QLatin1Char('|') + awaiting;
        if (key != m_lastStatusKey) {
            m_lastStatusKey = key;
            qCInfo(lcDetector).noquote()
                << QStringLiteral("claude_desktop AX status running=[%1] awaiting=[%2]")
                       .arg(Log::privateArg(running), Log::privateArg(awaiting));
        }
    }
    applyStatuses(statuses);
    if (!anyRunning() && m_options.now() >= m_statusProbeUntil)
        m_statusTimer.stop();
}

void ClaudeDesktopSessionDetector::applyStatuses(const Statuses& statuses) {
    if (!m_signals)
        return;
    QStringList surfaced;
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        SessionState& state = it.value();
        if (!state.contextID || !state.label)
            continue;
        if (statuses.running.contains(*state.label)) {
            if (state.wasRunning)
                continue;
            state.wasRunning = true;
            m_signals->pending(*state.contextID, kRunning, m_options.now());
            if (Log::verbose())
                qCInfo(lcDetector).noquote()
                    << QStringLiteral("claude_desktop %1 → working").arg(shortID(it.key()));
        } else if (statuses.awaiting.contains(*state.label) && state.wasRunning) {
            state.wasRunning = false;
            if (Log::verbose())
                qCInfo(lcDetector).noquote()
                    << QStringLiteral("claude_desktop %1 → done (awaiting input)")
                           .arg(shortID(it.key()));
            surfaced.append(it.key());
        }
    }
    // Signals may re-enter the detector; surface after the walk over the sessions.
    for (const QString& id : surfaced)
        surfaceIfAway(id);
}

void ClaudeDesktopSessionDetector::prune(TimePoint at) {
    const TimePoint cutoff = at - std::chrono::duration_cast<TimePoint::duration>(
                                      std::chrono::duration<double>(kActiveWindow));
    m_sessions.removeIf([cutoff](const QHash<QString, SessionState>::iterator& it) {
        return !it.value().wasRunning && it.value().lastObservedAt < cutoff;
    });
    m_sessionIDByPath.removeIf([this](const QHash<QString, QString>::iterator& it) {
        return !m_sessions.contains(it.value());
    });
}
