// A writer killed with SIGKILL at random moments while it stores focus events through the
// state machine: what it acknowledged is there, and the file stays healthy and readable.
#include "store/StoreFixture.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <random>
#include <thread>

TEST(StoreCrashTest, AKilledWriterLosesNothingItAcknowledgedAndTheFileStaysHealthy) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kestrune.db"_qs);
    const QByteArray key = TestSupport::testKey();
    std::mt19937 random(20261207);
    long next = 0; // the first event number of the next writer
    for (int round = 0; round < 20; ++round) {
        QProcess writer;
        writer.start(QStringLiteral(TESSARINE_STORE_WRITER),
                     {path, QString::fromLatin1(key.toHex()), QString::number(next)});
        ASSERT_TRUE(writer.waitForStarted());
        // Killed after a random number of acknowledged events, a random moment later.
        const int acknowledgedBeforeKill = std::uniform_int_distribution(1, 25)(random);
        QByteArray said;
        while (said.count('\n') < acknowledgedBeforeKill && writer.waitForReadyRead(10000))
            said += writer.readAllStandardOutput();
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution(0, 3000)(random)));
        ::kill(static_cast<pid_t>(writer.processId()), SIGKILL);
        writer.waitForFinished(10000);
        said += writer.readAllStandardOutput();
        const QList<QByteArray> lines = said.trimmed().split('\n');
        ASSERT_FALSE(lines.isEmpty()) << writer.readAllStandardError().toStdString();
        const long last = lines.constLast().toLong();

        auto db = TestSupport::openRaw(path, key);
        Statement integrity(*db, u"PRAGMA integrity_check"_qs);
        ASSERT_TRUE(integrity.step());
        EXPECT_EQ(integrity.text(0), u"ok"_qs) << "round " << round;
        Statement cipherCheck(*db, u"PRAGMA cipher_integrity_check"_qs);
        EXPECT_FALSE(cipherCheck.step())
            << "round " << round << ": " << cipherCheck.text(0).value_or(QString()).toStdString();
        // Every acknowledged event's loop, left (backgrounded), and both its events.
        for (long i = next; i <= last; ++i) {
            Statement loop(*db,
                           u"SELECT c.state, (SELECT COUNT(*) FROM event e WHERE e.window_title "
                           "= c.label) FROM context c WHERE c.label = ?"_qs);
            loop.bindAll(u"Window %1"_qs.arg(i));
            ASSERT_TRUE(loop.step()) << "round " << round << ": event " << i << " lost";
            EXPECT_EQ(loop.text(0), u"backgrounded"_qs) << "event " << i;
            EXPECT_EQ(loop.int64(1), 2) << "event " << i;
        }
        next = last + 100; // past anything the killed writer may have stored unacknowledged
    }
    // The store opens it as it is: nothing moved aside.
    EphemeralKeyProvider provider(key);
    ContextStore store(path, provider);
    EXPECT_TRUE(store.migrationsAppliedAtOpen().isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList({u"*unreadable*"_qs}).isEmpty());
}
