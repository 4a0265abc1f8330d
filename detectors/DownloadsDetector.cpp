#include "detectors/DownloadsDetector.h"

#include "model/Log.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QStandardPaths>

namespace {

// Browsers write downloads in progress under one of these extensions (any case).
const QSet<QString> kPartialExtensions = {QStringLiteral("crdownload"), QStringLiteral("download"),
                                          QStringLiteral("part")};
const QString kFinished = QStringLiteral("download_finished");
// Partial files are rewritten many times a second while a download runs; one look per
// batch of changes is enough.
constexpr double kLatency = 0.3;

// The text after the last dot, or nothing when the dot starts the name (".part" is a name).
std::optional<QString> extensionOf(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0)
        return std::nullopt;
    return name.mid(dot + 1);
}

} // namespace

DownloadsDetector::DownloadsDetector(const std::optional<QString>& directory,
                                     DirectoryWatcher& watcher, Clock now)
    : m_directory(resolveDirectory(directory))
    , m_watcher(watcher)
    , m_now(std::move(now)) {}

QString DownloadsDetector::resolveDirectory(const std::optional<QString>& directory) {
    if (directory && !directory->isEmpty())
        return QDir::cleanPath(*directory);
    const QString fromEnvironment = qEnvironmentVariable("KESTRUNE_DOWNLOADS_DIR");
    if (!fromEnvironment.isEmpty())
        return QDir::cleanPath(fromEnvironment);
    const QString xdg = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!xdg.isEmpty())
        return QDir::cleanPath(xdg);
    return QDir::homePath() + QStringLiteral("/Downloads");
}

QSet<QString> DownloadsDetector::partials(const QString& folder) {
    QSet<QString> names;
    // An unreadable folder lists as empty.
    const QStringList entries =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : entries) {
        const std::optional<QString> extension = extensionOf(name);
        if (extension && kPartialExtensions.contains(extension->toLower()))
            names.insert(name);
    }
    return names;
}

QStringList DownloadsDetector::completions(const QSet<QString>& previousPartials,
                                           const QSet<QString>& current, const QString& folder) {
    QStringList finished;
    const QDir directory(folder);
    for (const QString& name : previousPartials) {
        if (current.contains(name))
            continue;
        const QString finalName = name.left(name.lastIndexOf(QLatin1Char('.')));
        if (!finalName.isEmpty() && QFileInfo::exists(directory.filePath(finalName)))
            finished.append(finalName);
    }
    return finished;
}

void DownloadsDetector::start(DetectorSignalsPtr signals, const DetectorEnvironment&) {
    m_signals = std::move(signals);
    QMetaObject::invokeMethod(
        &m_context, [this] { activate(); }, Qt::QueuedConnection);
}

void DownloadsDetector::activate() {
    m_knownPartials = partials(m_directory); // downloads already running count as seen
    auto watch = m_watcher.watch(
        m_directory, kLatency, [this](const QStringList&) { directoryChanged(); },
        DirectoryWatcher::Depth::FolderOnly);
    if (!watch) {
        qCDebug(lcDetector) << "downloads folder unavailable; detector idle";
        return;
    }
    m_watch = std::move(watch); // replaces the watch of an earlier activation
    if (Log::verbose())
        qCInfo(lcDetector).noquote()
            << "downloads detector watching" << Log::privateArg(m_directory);
}

void DownloadsDetector::directoryChanged() {
    if (!m_signals)
        return;
    const QSet<QString> current = partials(m_directory);
    const QStringList finished = completions(m_knownPartials, current, m_directory);
    if (Log::verbose())
        qCInfo(lcDetector).noquote() << QStringLiteral("downloads change: partials=%1 finished=%2")
                                            .arg(current.size())
                                            .arg(finished.size());
    m_knownPartials = current;
    for (const QString& name : finished) {
        const TimePoint now = m_now();
        if (const std::optional<QString> contextID = m_signals->claim(downloadsBundleID, name, now))
            m_signals->ready(*contextID, kFinished, now);
    }
}
