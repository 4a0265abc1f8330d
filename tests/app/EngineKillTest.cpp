// The engine killed with SIGKILL at random moments while focus changes and detector signals
// arrive as fast as it takes them: after every kill the database opens with the same key, is
// healthy, was never moved aside, and holds every loop change the engine had announced.
#include "store/StoreFixture.h"

#include <QDir>
#include <QProcess>
#include <csignal>
#include <random>
#include <thread>

namespace {

struct Acknowledged {
    QString state;
    qint64 stateChangedAt = 0;
};

// The loops of the last complete announcement the engine printed.
QHash<QString, Acknowledged> lastAnnouncement(const QByteArray& said) {
    QHash<QString, Acknowledged> complete;
    QHash<QString, Acknowledged> current;
    for (const QByteArray& line : said.split('\n')) {
        if (line == "end") {
            complete = std::exchange(current, {});
            continue;
        }
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() == 3)
            current.insert(QString::fromLatin1(fields[0]),
                           {QString::fromLatin1(fields[1]), fields[2].toLongLong()});
    }
    return complete;
}

} // namespace

TEST(EngineKillTest, AHundredKillsLoseNoAnnouncedChangeAndNeverHarmTheFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath(u"kestrune.db"_qs);
    const QByteArray key = TestSupport::testKey();
    std::mt19937 random(20261207);
    int checkedLoops = 0;
    for (int round = 0; round < 100; ++round) {
        QProcess engine;
        engine.start(QStringLiteral(TESSARINE_ENGINE_LOAD),
                     {path, QString::fromLatin1(key.toHex())});
        ASSERT_TRUE(engine.waitForStarted());
        // Killed after a random number of announcements, a random moment later.
        const int announcements = std::uniform_int_distribution(1, 40)(random);
        QByteArray said;
        while (said.count("end\n") < announcements && engine.waitForReadyRead(10000))
            said += engine.readAllStandardOutput();
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution(0, 5000)(random)));
        ::kill(static_cast<pid_t>(engine.processId()), SIGKILL);
        engine.waitForFinished(10000);
        said += engine.readAllStandardOutput();
        const QHash<QString, Acknowledged> acknowledged = lastAnnouncement(said);
        ASSERT_FALSE(acknowledged.isEmpty())
            << "round " << round << ": " << engine.readAllStandardError().toStdString();

        auto db = TestSupport::openRaw(path, key);
        Statement integrity(*db, u"PRAGMA integrity_check"_qs);
        ASSERT_TRUE(integrity.step());
        ASSERT_EQ(integrity.text(0), u"ok"_qs) << "round " << round;
        Statement cipherCheck(*db, u"PRAGMA cipher_integrity_check"_qs);
        ASSERT_FALSE(cipherCheck.step())
            << "round " << round << ": " << cipherCheck.text(0).value_or(QString()).toStdString();
        // Each announced loop is there as announced, or changed later still.
        for (auto loop = acknowledged.cbegin(); loop != acknowledged.cend(); ++loop) {
            Statement row(*db, u"SELECT state, state_changed_at FROM context WHERE id = ?"_qs);
            row.bindAll(loop.key());
            ASSERT_TRUE(row.step())
                << "round " << round << ": loop " << loop.key().toStdString() << " lost";
            const qint64 changedAt = row.int64(1).value_or(-1);
            ASSERT_GE(changedAt, loop->stateChangedAt) << "round " << round;
            if (changedAt == loop->stateChangedAt) {
                EXPECT_EQ(row.text(0), loop->state) << "round " << round;
            }
            ++checkedLoops;
        }
        ASSERT_TRUE(QDir(dir.path()).entryList({u"*unreadable*"_qs}).isEmpty())
            << "round " << round << ": the database was moved aside";
    }
    EXPECT_GT(checkedLoops, 100);
}
