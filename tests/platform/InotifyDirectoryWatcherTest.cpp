#include "platform/linux/InotifyDirectoryWatcher.h"

#include "Wait.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class InotifyDirectoryWatcherTest : public ::testing::Test {
protected:
    QTemporaryDir root;
    InotifyDirectoryWatcher watcher;
    QList<QStringList> batches;

    std::unique_ptr<DirectoryWatcher::Watch> watchRoot(double latency = 0.3) {
        return watcher.watch(root.path(), latency,
                             [this](const QStringList& paths) { batches.append(paths); });
    }
    void write(const QString& relative, const QByteArray& contents = "x") {
        QDir().mkpath(QFileInfo(root.filePath(relative)).absolutePath());
        QFile file(root.filePath(relative));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write(contents);
    }
    bool waitFor(const std::function<bool()>& done) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < 5000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return done();
    }
    QStringList allPaths() const {
        QStringList all;
        for (const QStringList& batch : batches)
            all += batch;
        return all;
    }
};

} // namespace

TEST_F(InotifyDirectoryWatcherTest, FilesAnywhereBelowTheRootAreReported) {
    write(u"existing/old.jsonl"_qs);
    auto watch = watchRoot();
    ASSERT_TRUE(watch);
    write(u"top.jsonl"_qs);
    write(u"existing/old.jsonl"_qs, "more");
    ASSERT_TRUE(waitFor([&] { return allPaths().size() >= 2; }));
    EXPECT_TRUE(allPaths().contains(root.filePath(u"top.jsonl"_qs)));
    EXPECT_TRUE(allPaths().contains(root.filePath(u"existing/old.jsonl"_qs)));

    // A folder that appears later is followed, including what was written into it at once.
    batches.clear();
    write(u"projects/-home-me-app/session.jsonl"_qs);
    ASSERT_TRUE(waitFor([&] {
        return allPaths().contains(root.filePath(u"projects/-home-me-app/session.jsonl"_qs));
    }));
    batches.clear();
    write(u"projects/-home-me-app/session.jsonl"_qs, "line 2");
    ASSERT_TRUE(waitFor([&] { return !batches.isEmpty(); }));
    EXPECT_EQ(allPaths(), QStringList{root.filePath(u"projects/-home-me-app/session.jsonl"_qs)});

    QFile::remove(root.filePath(u"top.jsonl"_qs));
    ASSERT_TRUE(waitFor([&] { return allPaths().contains(root.filePath(u"top.jsonl"_qs)); }));
}

TEST_F(InotifyDirectoryWatcherTest, BurstsOfWritesArriveAsOneBatchPerPath) {
    auto watch = watchRoot(1.0);
    for (int i = 0; i < 100; ++i)
        write(u"busy.log"_qs, "line\n");
    ASSERT_TRUE(waitFor([&] { return !batches.isEmpty(); }));
    for (const QStringList& batch : batches)
        EXPECT_EQ(batch, QStringList{root.filePath(u"busy.log"_qs)}) << "each path once per batch";
    EXPECT_LE(batches.size(), 2);
}

TEST_F(InotifyDirectoryWatcherTest, NothingArrivesAfterTheWatchEndsOrForAMissingRoot) {
    auto watch = watchRoot();
    watch.reset();
    write(u"late.jsonl"_qs);
    runEventLoopFor(700); // past the 0.3 s latency a batch would have had
    EXPECT_TRUE(batches.isEmpty());
    EXPECT_EQ(watcher.watch(root.filePath(u"missing"_qs), 0.3, [](const QStringList&) {}), nullptr);
}
