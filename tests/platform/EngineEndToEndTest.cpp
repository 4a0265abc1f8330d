// Runs inside scripts/test-env.sh: the real tessarine executable on a real X server; window
// switches must become loops in its encrypted database.
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

namespace {

void pause(int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

QString startWindow(QProcess& process, const QString& wmClass, const QString& title) {
    process.start(QStringLiteral(TESSARINE_TEST_WINDOW), {wmClass, title});
    process.waitForReadyRead(5000);
    return QString::fromUtf8(process.readLine()).trimmed();
}

void activate(const QString& window) {
    QProcess::execute(QStringLiteral("xdotool"),
                      {QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
    pause(300); // one switch at a time, as a person makes them
}

} // namespace

TEST(EngineEndToEndTest, WindowSwitchesBecomeLoopsInTheEncryptedDatabase) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    const QString config = home.filePath(u"config"_qs);
    QDir().mkpath(config + u"/Kestrune"_qs);
    {
        QFile defaults(config + u"/Kestrune/defaults.json"_qs);
        ASSERT_TRUE(defaults.open(QIODevice::WriteOnly));
        defaults.write(
            R"({"settings.engagementSeconds": 0, "settings.launchAtLogin.configured": true})");
    }
    QProcess engine;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
    environment.insert(u"XDG_CONFIG_HOME"_qs, config);
    environment.insert(u"KESTRUNE_EPHEMERAL_KEY"_qs, u"1"_qs);
    environment.insert(u"KESTRUNE_VERBOSE"_qs, u"1"_qs);
    engine.setProcessEnvironment(environment);
    engine.setProcessChannelMode(QProcess::MergedChannels);
    engine.start(QStringLiteral(TESSARINE_EXECUTABLE));
    QByteArray log;
    QElapsedTimer started;
    started.start();
    while (!log.contains("Tessarine is running") && started.elapsed() < 10000) {
        engine.waitForReadyRead(100);
        log += engine.readAll();
    }
    ASSERT_TRUE(log.contains("Tessarine is running")) << log.toStdString();

    QProcess alpha;
    QProcess beta;
    const QString alphaWindow = startWindow(alpha, u"EndToEndAlpha"_qs, u"Alpha report"_qs);
    const QString betaWindow = startWindow(beta, u"EndToEndBeta"_qs, u"Beta inbox"_qs);
    activate(alphaWindow);
    activate(betaWindow);
    activate(alphaWindow);

    engine.terminate();
    ASSERT_TRUE(engine.waitForFinished(10000));
    log += engine.readAll();
    EXPECT_EQ(engine.exitCode(), 0) << log.toStdString();
    alpha.closeWriteChannel();
    beta.closeWriteChannel();
    alpha.waitForFinished(5000);
    beta.waitForFinished(5000);

    const QString path = home.filePath(u"data/Kestrune/kestrune.db"_qs);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.read(16).startsWith("SQLite format 3")) << "encrypted";
    Database db(path);
    db.applyKey(EphemeralKeyProvider::developmentKey());
    Statement loops(db,
                    u"SELECT s.bundle_id, c.label, c.state, c.interrupted_by_bundle FROM context c "
                    "JOIN source s ON s.id = c.source_id ORDER BY s.bundle_id"_qs);
    QStringList rows;
    while (loops.step())
        rows.append(loops.text(0).value_or(QString()) + u' ' + loops.text(1).value_or(QString()) +
                    u" | "_qs + loops.text(2).value_or(QString()) + u" | "_qs +
                    loops.text(3).value_or(u"-"_qs));
    EXPECT_EQ(rows, (QStringList{u"EndToEndAlpha Alpha report | active | EndToEndBeta"_qs,
                                 u"EndToEndBeta Beta inbox | backgrounded | EndToEndAlpha"_qs}))
        << log.toStdString();
    EXPECT_GE(db.scalarInt(u"SELECT COUNT(*) FROM event"_qs).value_or(0), 5);
}
