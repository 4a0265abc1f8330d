// The downloads detector on a real folder with the real inotify watcher.
#include "detectors/DetectorFixture.h"
#include "detectors/DownloadsDetector.h"
#include "platform/linux/InotifyDirectoryWatcher.h"

namespace {

const QString kDownloads = DownloadsDetector::downloadsBundleID;

class DownloadsOnDiskTest : public DetectorFixture {
protected:
    QString folder = home.filePath(u"Downloads"_qs);
    InotifyDirectoryWatcher watcher;
    DownloadsDetector* detector = nullptr;

    DownloadsOnDiskTest() {
        QDir().mkpath(folder);
        shared->setObserver(observer);
    }
    void startDetector(const std::optional<QString>& directory) {
        auto made =
            std::make_unique<DownloadsDetector>(directory, watcher, [this] { return clock; });
        detector = made.get();
        ASSERT_TRUE(registry.registerDetector(std::move(made)));
        ASSERT_TRUE(waitUntil([&] { return detector->isWatching(); }));
    }
    void write(const QString& name, const QByteArray& bytes = "data") {
        writeFile(u"Downloads/"_qs + name, bytes);
    }
    bool rename(const QString& from, const QString& to) {
        return QFile::rename(folder + u'/' + from, folder + u'/' + to);
    }
    QStringList downloadLoops() {
        QStringList labels;
        for (const ContextRecord& loop : store->openContexts()) {
            if (loop.bundleID == kDownloads)
                labels.append(loop.label.value_or(QString()) + u' ' +
                              ContextStates::rawValue(loop.state));
        }
        labels.sort();
        return labels;
    }
};

} // namespace

TEST_F(DownloadsOnDiskTest, FinishedDownloadsBecomeReadyLoops) {
    write(u"early.iso.part"_qs); // already running when the detector starts
    startDetector(folder);

    write(u"report.pdf.crdownload"_qs);
    write(u"FILE.ISO.PART"_qs);
    write(u"cancelled.zip.part"_qs);
    write(u"song.mp3.download"_qs);
    ASSERT_TRUE(waitUntil([&] { return detector->knownPartials() == 5; }))
        << "the partials are seen";
    ASSERT_TRUE(rename(u"report.pdf.crdownload"_qs, u"report.pdf"_qs));
    ASSERT_TRUE(rename(u"FILE.ISO.PART"_qs, u"FILE.ISO"_qs));
    ASSERT_TRUE(rename(u"early.iso.part"_qs, u"early.iso"_qs));
    ASSERT_TRUE(QFile::remove(folder + u"/cancelled.zip.part"_qs));
    write(u"notes.txt"_qs); // not a download in progress
    ASSERT_TRUE(waitUntil([&] { return downloadLoops().size() == 3; }));
    drain();
    EXPECT_EQ(downloadLoops(),
              (QStringList{u"FILE.ISO ready"_qs, u"early.iso ready"_qs, u"report.pdf ready"_qs}));
    const ContextRecord report = [&] {
        for (const ContextRecord& loop : store->openContexts())
            if (loop.label == u"report.pdf"_qs)
                return loop;
        return ContextRecord{};
    }();
    EXPECT_EQ(signalsOf(report.id), QStringList{u"downloads ready download_finished @0"_qs});
    EXPECT_EQ(stored(report.id), reason("ready", "detector_ready"));
}

TEST_F(DownloadsOnDiskTest, ADownloadNeverSeenPartialIsNotReported) {
    startDetector(folder);
    // Started and finished within one batch of folder changes: no listing saw the partial.
    write(u"quick.bin.crdownload"_qs);
    ASSERT_TRUE(rename(u"quick.bin.crdownload"_qs, u"quick.bin"_qs));
    drain();
    EXPECT_TRUE(downloadLoops().isEmpty());
}

TEST_F(DownloadsOnDiskTest, TheFolderComesFromTheEnvironmentWhenNotGiven) {
    qputenv("KESTRUNE_DOWNLOADS_DIR", folder.toUtf8());
    EXPECT_EQ(DownloadsDetector::resolveDirectory(std::nullopt), folder);
    EXPECT_EQ(DownloadsDetector::resolveDirectory(u"/elsewhere/"_qs), u"/elsewhere"_qs);
    qunsetenv("KESTRUNE_DOWNLOADS_DIR");
    EXPECT_FALSE(DownloadsDetector::resolveDirectory(std::nullopt).isEmpty());

    // A folder that does not exist leaves the detector idle.
    auto made = std::make_unique<DownloadsDetector>(home.filePath(u"nowhere"_qs), watcher);
    DownloadsDetector* idle = made.get();
    ASSERT_TRUE(registry.registerDetector(std::move(made)));
    drain(100);
    EXPECT_FALSE(idle->isWatching());
}

TEST(DownloadsDetectorRules, PartialsAndCompletions) {
    QTemporaryDir folder;
    for (const char* name :
         {"a.zip.crdownload", "B.ISO.Part", ".part", "c.download", "d.txt", "e.zip", "partial"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    EXPECT_EQ(DownloadsDetector::partials(folder.path()),
              (QSet<QString>{u"a.zip.crdownload"_qs, u"B.ISO.Part"_qs, u"c.download"_qs}))
        << "\".part\" alone is a name, not an extension";
    EXPECT_TRUE(DownloadsDetector::partials(folder.filePath(u"missing"_qs)).isEmpty());

    const QSet<QString> before = {u"e.zip.crdownload"_qs, u"f.zip.part"_qs, u"a.zip.crdownload"_qs};
    EXPECT_EQ(DownloadsDetector::completions(before, {u"a.zip.crdownload"_qs}, folder.path()),
              QStringList{u"e.zip"_qs})
        << "f.zip has no final file (cancelled); a.zip still runs";
}
