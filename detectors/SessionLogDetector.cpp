#include "detectors/SessionLogDetector.h"

#include "detectors/SessionLogTail.h"

#include "model/Graphemes.h"
#include "model/JsonParsing.h"
#include "model/Log.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <algorithm>
#include <limits>

namespace {

constexpr double kLatency = 0.3;
constexpr qsizetype kPromptChars = 400;

std::optional<QString> lastPathComponent(const QJsonValue& value) {
    if (!value.isString())
        return std::nullopt;
    const QString name = QFileInfo(value.toString()).fileName();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

using Classifier = std::function<std::optional<SessionLogDetector::Event>(const QJsonObject*)>;
using Labeller = std::function<std::optional<QString>(const QJsonObject*)>;

// Both configurations read JSON lines: classify and label from one parse each.
void setParsers(SessionLogDetector::Config& config, Classifier classify, Labeller label) {
    const auto parsed = [](const QByteArray& line) { return JsonParsing::object(line); };
    config.classify = [parsed, classify](const QByteArray& line) {
        const auto object = parsed(line);
        return classify(object ? &*object : nullptr);
    };
    config.label = [parsed, label](const QByteArray& line) {
        const auto object = parsed(line);
        return label(object ? &*object : nullptr);
    };
    config.inspect = [parsed, classify, label](const QByteArray& line) {
        const auto object = parsed(line);
        const QJsonObject* pointer = object ? &*object : nullptr;
        return std::pair{classify(pointer), label(pointer)};
    };
}

QString canonical(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? path : resolved;
}

} // namespace

SessionLogDetector::SessionLogDetector(Config config, DirectoryWatcher& watcher, Clock now)
    : m_config(std::move(config))
    , m_watcher(watcher)
    , m_now(std::move(now)) {}

void SessionLogDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) {
    m_signals = std::move(signals);
    m_environment = environment;
    // Watch first: a line written while the scan runs then still comes as a change.
    armWatch();
    launchScan();
}

void SessionLogDetector::stop() {
    m_watch.reset(); // the file states stay: a restart goes on from the stored offsets
    stopBackground();
}

std::optional<QString> SessionLogDetector::nearestExistingAncestor(const QString& path) {
    // Walks up by name: QDir::cdUp refuses to step into a folder that does not exist.
    QString candidate = QFileInfo(QDir::cleanPath(path)).absolutePath();
    for (;;) {
        if (QFileInfo(candidate).isDir())
            return candidate;
        const QString parent = QFileInfo(candidate).path();
        if (parent == candidate)
            return std::nullopt;
        candidate = parent;
    }
}

QStringList SessionLogDetector::sessionFiles() const {
    QStringList files;
    if (!QFileInfo(m_config.rootDir).isDir())
        return files;
    QDirIterator entries(m_config.rootDir, QDir::Files | QDir::NoDotAndDotDot,
                         QDirIterator::Subdirectories); // hidden files and folders are skipped
    while (entries.hasNext()) {
        const QString path = entries.next();
        if (m_config.isSessionFile(path))
            files.append(path);
    }
    return files;
}

struct SessionLogDetector::Adoption {
    QString key;
    QString path;
    qint64 size = 0;
    TimePoint modified;
    SessionLogTail::Facts facts;
};

SessionLogDetector::~SessionLogDetector() {
    stopBackground();
}

int SessionLogDetector::logsBeingRead() const {
    return static_cast<int>(std::count_if(m_files.cbegin(), m_files.cend(),
                                          [](const FileState& state) { return state.reading; }));
}

void SessionLogDetector::launchScan() {
    const TimePoint now = m_now();
    QList<Adoption> later;
    for (const QString& path : sessionFiles()) {
        const QFileInfo info(path);
        const QString key = canonical(path);
        if (m_files.contains(key))
            continue;
        const qint64 size = info.size();
        const QDateTime modifiedAt = info.lastModified();
        const TimePoint modified =
            modifiedAt.isValid() ? fromMillis(modifiedAt.toMSecsSinceEpoch()) : TimePoint::min();
        FileState state;
        state.offset = size; // from now on only appended lines count
        const bool recent =
            modifiedAt.isValid() &&
            std::chrono::duration<double>(now - modified).count() <= m_config.launchActiveWindow;
        // Only the end of a log tells where its session stands: read backwards from there.
        const std::optional<SessionLogTail::Facts> facts =
            recent && info.isFile() ? SessionLogTail::read(path, size, m_config, kLaunchTailBytes)
                                    : std::nullopt;
        if (facts && !facts->complete) {
            state.reading = true;
            later.append(Adoption{key, path, size, modified, {}});
        }
        m_files.insert(key, state);
        if (facts && facts->complete)
            adopt(Adoption{key, path, size, modified, *facts});
    }
    if (!later.isEmpty())
        readInBackground(std::move(later));
}

void SessionLogDetector::readInBackground(QList<Adoption> adoptions) {
    if (m_background.joinable())
        m_background.join(); // an earlier launch's reading (the root appeared since)
    const int generation = m_generation;
    m_background = std::thread([this, adoptions = std::move(adoptions), generation]() mutable {
        for (Adoption& adoption : adoptions) {
            const std::optional<SessionLogTail::Facts> facts =
                SessionLogTail::read(adoption.path, adoption.size, m_config,
                                     std::numeric_limits<qint64>::max(), &m_cancel);
            if (m_cancel.load())
                return;
            QMetaObject::invokeMethod(
                &m_context,
                [this, adoption, facts, generation]() mutable {
                    const auto known = m_files.find(adoption.key);
                    if (generation != m_generation || known == m_files.end() || !known->reading)
                        return;
                    known->reading = false;
                    if (facts) {
                        adoption.facts = *facts;
                        adopt(adoption);
                    }
                    readNewLines(adoption.key); // what was appended meanwhile, in order
                },
                Qt::QueuedConnection);
        }
    });
}

void SessionLogDetector::stopBackground() {
    m_cancel = true;
    if (m_background.joinable())
        m_background.join();
    m_cancel = false;
    ++m_generation; // readings delivered but not yet taken are dropped
    // Logs whose reading did not finish are read again at the next start.
    for (auto file = m_files.begin(); file != m_files.end();)
        file = file->reading ? m_files.erase(file) : std::next(file);
}

void SessionLogDetector::adopt(const Adoption& adoption) {
    const SessionLogTail::Facts& facts = adoption.facts;
    FileState state = m_files.value(adoption.key);
    state.offset = adoption.size;
    state.label = facts.label;
    state.buffer = facts.partialLine; // an unfinished last line waits for the rest
    state.skippingLongLine = facts.partialTooLong;
    m_files.insert(adoption.key, state);
    if (!m_signals || !facts.prompt)
        return;
    const std::optional<QString> contextID = claimFor(adoption.key, facts.label, adoption.modified);
    state.contextID = contextID;
    m_files.insert(adoption.key, state);
    if (!contextID)
        return;
    const bool working = std::holds_alternative<PromptSent>(*facts.latest);
    qCInfo(lcDetector).noquote() << QStringLiteral("adopt %1 running session (working=%2) label=%3")
                                        .arg(m_config.kind, working ? u"true"_qs : u"false"_qs,
                                             Log::privateArg(facts.label.value_or(u"?"_qs)));
    summarize(*contextID, facts.prompt->text);
    m_signals->pending(*contextID, m_config.pendingDetail, adoption.modified);
    if (std::holds_alternative<TurnAborted>(*facts.latest))
        m_signals->readyQuiet(*contextID, m_config.abortedDetail, adoption.modified);
    else if (!working)
        m_signals->ready(*contextID, m_config.readyDetail, adoption.modified);
}

std::optional<QString> SessionLogDetector::claimFor(const QString& key,
                                                    const std::optional<QString>& label,
                                                    TimePoint at) {
    std::optional<QString> contextID;
    if (m_signals->claimSession)
        contextID = m_signals->claimSession(m_config.bundleID, label, key, at);
    if (!contextID && m_signals->claim)
        contextID = m_signals->claim(m_config.bundleID, label, at);
    return contextID;
}

std::pair<std::optional<SessionLogDetector::Event>, std::optional<QString>>
SessionLogDetector::Config::meaning(const QByteArray& line) const {
    if (inspect)
        return inspect(line);
    return {classify(line), label(line)};
}

void SessionLogDetector::summarize(const QString& contextID, const std::optional<QString>& prompt) {
    if (prompt && !prompt->isEmpty() && m_signals->summarize)
        m_signals->summarize(contextID, Graphemes::prefix(*prompt, kPromptChars));
}

void SessionLogDetector::armWatch() {
    const bool exists = QFileInfo(m_config.rootDir).isDir();
    qCInfo(lcDetector).noquote() << QStringLiteral("detector %1 watching %2 (exists=%3)")
                                        .arg(m_config.kind, Log::privateArg(m_config.rootDir),
                                             exists ? u"true"_qs : u"false"_qs);
    const auto callback = [this](const QStringList& paths) { changed(paths); };
    if (exists) {
        m_watchingAncestor = false;
        m_watch = m_watcher.watch(m_config.rootDir, kLatency, callback);
        return;
    }
    const std::optional<QString> ancestor = nearestExistingAncestor(m_config.rootDir);
    if (!ancestor)
        return;
    m_watchingAncestor = true;
    m_ancestor = *ancestor;
    qCInfo(lcDetector).noquote() << QStringLiteral("detector %1 root absent — watching ancestor %2")
                                        .arg(m_config.kind, Log::privateArg(*ancestor));
    // Only the ancestor's own entries: the root appears there, or a folder on the way to it.
    m_watch = m_watcher.watch(*ancestor, kLatency, callback, DirectoryWatcher::Depth::FolderOnly);
}

void SessionLogDetector::changed(const QStringList& paths) {
    if (m_watchingAncestor) {
        // The ancestor may be a busy folder ($HOME, where the session log itself may be
        // written): only the awaited folder, or one on the way to it, appearing counts.
        if (!QFileInfo(m_config.rootDir).isDir() &&
            nearestExistingAncestor(m_config.rootDir) == m_ancestor)
            return;
        // Re-armed outside the watch's own callback, which may not destroy its watch.
        QMetaObject::invokeMethod(
            &m_context,
            [this] {
                if (!m_watchingAncestor)
                    return;
                m_watch.reset();
                armWatch(); // on the root, or on an ancestor nearer to it
                if (!m_watchingAncestor)
                    launchScan();
            },
            Qt::QueuedConnection);
        return;
    }
    for (const QString& path : paths) {
        const QString key = canonical(path);
        if (m_config.isSessionFile(key))
            readNewLines(key);
    }
}

void SessionLogDetector::readNewLines(const QString& key) {
    bool known = m_files.contains(key); // a file first seen now is not "known" to its lines
    FileState state = m_files.value(key);
    if (state.reading)
        return; // read from where the launch's reading stopped once that is done
    if (!QFileInfo(key).isFile())
        return; // gone, or a pipe or device whose read would block
    QFile file(key);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(state.offset))
        return;
    const QByteArray appended = file.readAll();
    state.offset += appended.size();
    state.buffer += appended;
    QList<QByteArray> parts = state.buffer.split('\n');
    state.buffer = parts.takeLast(); // an incomplete last line waits for its line break
    if (state.skippingLongLine && !parts.isEmpty()) {
        parts.removeFirst(); // the rest of an overlong line
        state.skippingLongLine = false;
    }
    if (state.buffer.size() > kMaxLineBytes) {
        // A line that never ends must not grow memory without bound: drop it.
        state.buffer.clear();
        state.skippingLongLine = true;
    }
    m_files.insert(key, state);
    for (const QByteArray& line : std::as_const(parts)) {
        if (line.trimmed().isEmpty())
            continue;
        ingest(key, line, known);
        known = true;
    }
}

void SessionLogDetector::ingest(const QString& key, const QByteArray& line, bool known) {
    if (!m_signals)
        return;
    FileState state = m_files.value(key);
    const auto [event, name] = m_config.meaning(line);
    if (name)
        state.label = name;
    const TimePoint now = m_now();
    if (!event) {
        m_files.insert(key, state);
        return;
    }
    // A loop dismissed or purged since is gone: the session's next prompt claims a new one
    // (the end of the turn the user dismissed does not bring it back).
    const bool gone = state.contextID && !m_environment.isOpen(state.contextID);
    if (gone)
        state.contextID.reset();
    if (!std::holds_alternative<PromptSent>(*event)) {
        if (!state.contextID && known && !gone)
            state.contextID = claimFor(key, state.label, now);
        m_files.insert(key, state);
        if (!state.contextID)
            return;
        if (std::holds_alternative<TurnAborted>(*event))
            m_signals->readyQuiet(*state.contextID, m_config.abortedDetail, now);
        else
            m_signals->ready(*state.contextID, m_config.readyDetail, now);
        return;
    }
    if (!state.contextID)
        state.contextID = claimFor(key, state.label, now);
    m_files.insert(key, state);
    if (!state.contextID)
        return;
    m_signals->pending(*state.contextID, m_config.pendingDetail, now);
    summarize(*state.contextID, std::get<PromptSent>(*event).text);
}

SessionLogDetector::Config SessionLogDetector::claudeCode(const QString& bundleID,
                                                          const QString& projectsDir) {
    Config config;
    config.kind = QStringLiteral("claude_code");
    config.bundleID = bundleID;
    config.rootDir = projectsDir;
    config.pendingDetail = QStringLiteral("claude_code_working");
    config.readyDetail = QStringLiteral("claude_code_turn_complete");
    config.eventMarkers = {R"("user")", "end_turn", "stop_sequence", "max_tokens", "turn_duration"};
    config.labelMarkers = {R"("title")", R"("cwd")"};
    config.isSessionFile = [](const QString& path) {
        return path.endsWith(u".jsonl") && !path.contains(u"/subagents/") &&
               !path.contains(u"/workflows/") && !path.contains(u"-Library-Application-Support-");
    };
    const auto classifyObject = [](const QJsonObject* object) -> std::optional<Event> {
        if (!object)
            return std::nullopt;
        const QString type = object->value(QStringLiteral("type")).toString();
        const QJsonObject message = object->value(QStringLiteral("message")).toObject();
        if (type == u"user") {
            if (object->value(QStringLiteral("isMeta")).toBool())
                return std::nullopt;
            const QJsonValue content = message.value(QStringLiteral("content"));
            if (content.isString()) {
                const QString text = content.toString().trimmed();
                return text.isEmpty() ? std::nullopt : std::optional<Event>(PromptSent{text});
            }
            if (!content.isArray())
                return std::nullopt;
            QStringList texts;
            for (const QJsonValue& block : content.toArray()) {
                const QJsonObject part = block.toObject();
                const QString partType = part.value(QStringLiteral("type")).toString();
                if (partType == u"tool_result")
                    return std::nullopt; // a tool's answer, not a prompt
                if (partType == u"text")
                    texts.append(part.value(QStringLiteral("text")).toString());
            }
            const QString text = texts.join(QLatin1Char(' ')).trimmed();
            return text.isEmpty() ? std::nullopt : std::optional<Event>(PromptSent{text});
        }
        if (type == u"assistant") {
            const QString stop = message.value(QStringLiteral("stop_reason")).toString();
            if (stop == u"end_turn" || stop == u"stop_sequence" || stop == u"max_tokens")
                return TurnComplete{};
            return std::nullopt;
        }
        // Recent versions close every turn with a timing line; some leave stop_reason null.
        if (type == u"system" &&
            object->value(QStringLiteral("subtype")).toString() == u"turn_duration")
            return TurnComplete{};
        return std::nullopt;
    };
    const auto labelObject = [](const QJsonObject* object) -> std::optional<QString> {
        if (!object)
            return std::nullopt;
        const QString title = object->value(QStringLiteral("title")).toString().trimmed();
        if (!title.isEmpty())
            return title;
        return lastPathComponent(object->value(QStringLiteral("cwd")));
    };
    setParsers(config, classifyObject, labelObject);
    return config;
}

QString SessionLogDetector::defaultProjectsDir() {
    return QDir::homePath() + QStringLiteral("/.claude/projects");
}

SessionLogDetector::Config SessionLogDetector::codex(const QString& bundleID,
                                                     const QString& sessionsDir) {
    Config config;
    config.kind = QStringLiteral("codex");
    config.bundleID = bundleID;
    config.rootDir = sessionsDir;
    config.pendingDetail = QStringLiteral("codex_turn_started");
    config.readyDetail = QStringLiteral("codex_task_complete");
    config.abortedDetail = QStringLiteral("codex_turn_aborted");
    config.eventMarkers = {"task_started", "task_complete", "turn_aborted"};
    config.labelMarkers = {R"("cwd")"};
    config.isSessionFile = [](const QString& path) {
        const QString name = QFileInfo(path).fileName();
        return name.startsWith(u"rollout-") && name.endsWith(u".jsonl");
    };
    const auto classifyObject = [](const QJsonObject* object) -> std::optional<Event> {
        if (!object || object->value(QStringLiteral("type")).toString() != u"event_msg")
            return std::nullopt;
        QJsonObject inner = object->value(QStringLiteral("payload")).toObject();
        if (!object->value(QStringLiteral("payload")).isObject())
            inner = object->value(QStringLiteral("msg")).toObject();
        const QString type = inner.value(QStringLiteral("type")).toString();
        if (type == u"task_started")
            return PromptSent{std::nullopt};
        if (type == u"task_complete")
            return TurnComplete{};
        if (type == u"turn_aborted") // the user interrupted the turn
            return TurnAborted{};
        return std::nullopt;
    };
    const auto labelObject = [](const QJsonObject* object) -> std::optional<QString> {
        if (!object)
            return std::nullopt;
        for (const QJsonValue& cwd :
             {object->value(QStringLiteral("cwd")),
              object->value(QStringLiteral("payload")).toObject().value(QStringLiteral("cwd")),
              object->value(QStringLiteral("msg")).toObject().value(QStringLiteral("cwd"))}) {
            if (cwd.isString())
                return lastPathComponent(cwd);
        }
        return std::nullopt;
    };
    setParsers(config, classifyObject, labelObject);
    return config;
}

QString SessionLogDetector::defaultSessionsDir() {
    const QString codexHome = qEnvironmentVariable("CODEX_HOME");
    const QString base =
        codexHome.isEmpty() ? QDir::homePath() + QStringLiteral("/.codex") : codexHome;
    return base + QStringLiteral("/sessions");
}
