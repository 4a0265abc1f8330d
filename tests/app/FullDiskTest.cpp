// The engine on a disk that fills up: writes fail cleanly, the engine keeps running and
// nothing is corrupted; once space returns it stores again. The disk is a small tmpfs, which
// needs a mount namespace of its own: CTest runs this test under `unshare -rm`
// (TESSARINE_EXPECT_MOUNT=1); elsewhere it is skipped.
#include "LogCapture.h"
#include "Wait.h"
#include "app/ModelHarness.h"
#include "store/StoreError.h"

#include <QDir>
#include <sys/mount.h>

namespace {

class FullDiskTest : public ::testing::Test, public ModelHarness {
protected:
    bool mounted = false;
    void SetUp() override {
        mounted =
            ::mount("tmpfs", QFile::encodeName(dir.path()).constData(), "tmpfs", 0, "size=3m") == 0;
        if (!mounted && qgetenv("TESSARINE_EXPECT_MOUNT") == "1")
            FAIL() << "cannot mount a tmpfs: " << std::strerror(errno);
        if (!mounted)
            GTEST_SKIP() << "needs a mount namespace of its own (CTest runs it under unshare -rm)";
        settings.setInteger(u"settings.engagementSeconds"_qs, 0);
    }
    void TearDown() override {
        if (mounted)
            ::umount2(QFile::encodeName(dir.path()).constData(), MNT_DETACH);
    }
    // Fills the disk with a file; false when it did not fill.
    bool fill(QFile& filler) {
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray chunk(64 * 1024, 'x');
        while (filler.write(chunk) == chunk.size() && filler.flush()) {
        }
        return true;
    }
    QString openLoopOf(AppModel& model, const QString& bundleID) {
        try {
            const std::optional<ContextRecord> loop = model.store()->openContext(bundleID);
            return loop ? loop->id : QString();
        } catch (const std::exception&) {
            return {};
        }
    }
};

} // namespace

TEST_F(FullDiskTest, WritesFailCleanlyTheEngineRunsOnAndStoresAgainWhenSpaceReturns) {
    auto model = makeModel();
    ASSERT_TRUE(model->store());
    for (int i = 0; i < 4; ++i)
        launch(10 + i, qPrintable(u"org.example.Disk%1"_qs.arg(i)), "Window");
    workspace.activate(10);
    workspace.activate(11);
    ASSERT_FALSE(openLoopOf(*model, u"org.example.Disk0"_qs).isEmpty());

    QFile filler(dir.filePath(u"filler"_qs));
    ASSERT_TRUE(fill(filler));
    LogCapture log;
    // Focus keeps changing on a full disk: every write fails, none escapes the engine.
    for (int i = 0; i < 200; ++i)
        workspace.activate(10 + i % 4);
    launch(20, "org.example.WhileFull", "Window");
    workspace.activate(20);
    workspace.activate(10);
    model->refresh();
    EXPECT_TRUE(openLoopOf(*model, u"org.example.WhileFull"_qs).isEmpty());
    EXPECT_EQ(log.count(u"Cannot save to the database"_qs), 1)
        << "said once, not per switch: " << log.lines().join(u'\n').toStdString();
    EXPECT_EQ(log.count(u"free some space"_qs), 1);

    // Space returns: the next changes are stored.
    filler.close();
    ASSERT_TRUE(filler.remove());
    launch(21, "org.example.AfterFull", "Window");
    workspace.activate(21);
    workspace.activate(11);
    const QString afterFull = [&] {
        QString id;
        waitFor([&] { return !(id = openLoopOf(*model, u"org.example.AfterFull"_qs)).isEmpty(); });
        return id;
    }();
    EXPECT_FALSE(afterFull.isEmpty());
    EXPECT_EQ(log.count(u"The database takes changes again"_qs), 1);

    // Any writer's failure is said, not only the window switches': a note on a full disk.
    ASSERT_TRUE(fill(filler));
    EXPECT_THROW(model->store()->setNote(afterFull, u"call the venue"_qs), StoreError);
    EXPECT_EQ(log.count(u"Cannot save to the database"_qs), 2)
        << log.lines().join(u'\n').toStdString();
    filler.close();
    ASSERT_TRUE(filler.remove());
    model.reset();

    auto db = TestSupport::openRaw(dir.filePath(u"kestrune.db"_qs), TestSupport::testKey());
    Statement integrity(*db, u"PRAGMA integrity_check"_qs);
    ASSERT_TRUE(integrity.step());
    EXPECT_EQ(integrity.text(0), u"ok"_qs);
    Statement cipherCheck(*db, u"PRAGMA cipher_integrity_check"_qs);
    EXPECT_FALSE(cipherCheck.step()) << cipherCheck.text(0).value_or(QString()).toStdString();
    EXPECT_TRUE(QDir(dir.path()).entryList({u"*unreadable*"_qs}).isEmpty()) << "never moved aside";
}
