#pragma once

#include "detectors/Detector.h"
#include "platform/DirectoryWatcher.h"

#include <QObject>
#include <QSet>

// Turns each finished browser download into a ready loop of its own: a partial file
// (".crdownload", ".part", ".download") that vanishes while its final file stands in the
// Downloads folder is a finished download. Cancelled downloads leave no final file.
class DownloadsDetector final : public Detector {
public:
    // The pseudo-application download loops belong to.
    static inline const QString downloadsBundleID = QStringLiteral("app.kestrune.downloads");

    using Clock = std::function<TimePoint()>;

    // The folder: `directory`, else KESTRUNE_DOWNLOADS_DIR, else the XDG download folder,
    // else ~/Downloads.
    DownloadsDetector(
        const std::optional<QString>& directory, DirectoryWatcher& watcher,
        Clock now = [] { return std::chrono::system_clock::now(); });

    QString kind() const override { return QStringLiteral("downloads"); }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    // Activates on the next turn of the event loop; every resume activates again.
    void start(DetectorSignalsPtr signals, const DetectorEnvironment& environment) override;

    QString directory() const { return m_directory; }
    bool isWatching() const { return m_watch != nullptr; }
    // The partial files seen by the last listing.
    int knownPartials() const { return static_cast<int>(m_knownPartials.size()); }

    static QString resolveDirectory(const std::optional<QString>& directory);
    static QSet<QString> partials(const QString& folder);
    static QStringList completions(const QSet<QString>& previousPartials,
                                   const QSet<QString>& current, const QString& folder);

private:
    void activate();
    void directoryChanged();

    QString m_directory;
    DirectoryWatcher& m_watcher;
    Clock m_now;
    DetectorSignalsPtr m_signals;
    QSet<QString> m_knownPartials;
    std::unique_ptr<DirectoryWatcher::Watch> m_watch;
    QObject m_context; // queued work dies with the detector
};
