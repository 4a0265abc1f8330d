// Runs inside scripts/test-env.sh: the real tessarine executable on a real X server; window
// switches must become loops in its encrypted database.
#include "store/Database.h"
#include "store/KeyProviders.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
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

// Loops from the first focus, and no autostart entry.
const QByteArray kLoopsAtOnce =
    R"({"settings.engagementSeconds": 0, "settings.launchAtLogin.configured": true})";

// The real engine with an ephemeral key, its data and settings in `home`.
class Engine {
public:
    Engine(const QTemporaryDir& home, const QByteArray& defaults,
           const QList<QPair<QString, QString>>& extraEnvironment = {})
        : m_home(home) {
        const QString config = home.filePath(u"config"_qs);
        QDir().mkpath(config + u"/Kestrune"_qs);
        QFile file(config + u"/Kestrune/defaults.json"_qs);
        if (file.open(QIODevice::WriteOnly))
            file.write(defaults);
        file.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"XDG_DATA_HOME"_qs, home.filePath(u"data"_qs));
        environment.insert(u"XDG_CONFIG_HOME"_qs, config);
        environment.insert(u"KESTRUNE_EPHEMERAL_KEY"_qs, u"1"_qs);
        environment.insert(u"KESTRUNE_VERBOSE"_qs, u"1"_qs);
        for (const auto& [name, value] : extraEnvironment)
            environment.insert(name, value);
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral(TESSARINE_EXECUTABLE));
    }
    // Reads the engine's log until it contains `text` `times` times or ten seconds pass.
    bool waitForLog(const char* text, qsizetype times = 1) {
        QElapsedTimer started;
        started.start();
        while (m_log.count(text) < times && started.elapsed() < 10000) {
            m_process.waitForReadyRead(100);
            m_log += m_process.readAll();
        }
        return m_log.count(text) >= times;
    }
    // Stops the engine; true when it ended cleanly.
    bool stop() {
        m_process.terminate();
        const bool finished = m_process.waitForFinished(10000);
        m_log += m_process.readAll();
        return finished && m_process.exitCode() == 0;
    }
    std::string log() const { return m_log.toStdString(); }
    // "bundle label | state | interrupter" of every loop, by bundle id.
    QStringList loops() const {
        Database db(m_home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement rows(db, u"SELECT s.bundle_id, c.label, c.state, c.interrupted_by_bundle FROM "
                           "context c JOIN source s ON s.id = c.source_id ORDER BY s.bundle_id, "
                           "c.label"_qs);
        QStringList list;
        while (rows.step())
            list.append(rows.text(0).value_or(QString()) + u' ' + rows.text(1).value_or(QString()) +
                        u" | "_qs + rows.text(2).value_or(QString()) + u" | "_qs +
                        rows.text(3).value_or(u"-"_qs));
        return list;
    }

private:
    const QTemporaryDir& m_home;
    QProcess m_process;
    QByteArray m_log;
};

void writeAll(const QString& path, const QByteArray& contents,
              QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Truncate) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (file.open(mode))
        file.write(contents);
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
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    QProcess alpha;
    QProcess beta;
    const QString alphaWindow = startWindow(alpha, u"EndToEndAlpha"_qs, u"Alpha report"_qs);
    const QString betaWindow = startWindow(beta, u"EndToEndBeta"_qs, u"Beta inbox"_qs);
    activate(alphaWindow);
    activate(betaWindow);
    activate(alphaWindow);

    EXPECT_TRUE(engine.stop()) << engine.log();
    alpha.closeWriteChannel();
    beta.closeWriteChannel();
    alpha.waitForFinished(5000);
    beta.waitForFinished(5000);

    const QString path = home.filePath(u"data/Kestrune/kestrune.db"_qs);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_FALSE(file.read(16).startsWith("SQLite format 3")) << "encrypted";
    EXPECT_EQ(engine.loops(),
              (QStringList{u"EndToEndAlpha Alpha report | active | EndToEndBeta"_qs,
                           u"EndToEndBeta Beta inbox | backgrounded | EndToEndAlpha"_qs}))
        << engine.log();
    Database db(path);
    db.applyKey(EphemeralKeyProvider::developmentKey());
    EXPECT_GE(db.scalarInt(u"SELECT COUNT(*) FROM event"_qs).value_or(0), 5);
}

TEST(EngineEndToEndTest, AgentSessionsAndDownloadsOnDiskBecomeReadyLoops) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    const QString downloads = home.filePath(u"Downloads"_qs);
    const QString claudeLog = home.filePath(u"home/.claude/projects/-home-me-shop/a1.jsonl"_qs);
    const QString desktopMeta =
        home.filePath(u"config/Claude/claude-code-sessions/acct/local_d1.json"_qs);
    QDir().mkpath(downloads);
    writeAll(desktopMeta, R"({"sessionId":"d1","completedTurns":1,"title":"Refactor auth"})");
    Engine engine(home, R"({"settings.launchAtLogin.configured": true})",
                  {{u"HOME"_qs, home.filePath(u"home"_qs)},
                   {u"CODEX_HOME"_qs, home.filePath(u"codex"_qs)},
                   {u"KESTRUNE_DOWNLOADS_DIR"_qs, downloads}});
    ASSERT_TRUE(engine.waitForLog("downloads detector watching")) << engine.log();

    // A Claude Code turn, a Claude desktop turn and a browser download, all on disk.
    writeAll(
        claudeLog,
        R"({"type":"user","cwd":"/home/me/shop","message":{"role":"user","content":"Add a cart"}})"
        "\n");
    writeAll(downloads + u"/report.pdf.crdownload"_qs, "partial");
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    ASSERT_TRUE(engine.waitForLog("partials=1")) << engine.log();
    writeAll(claudeLog,
             R"({"type":"assistant","message":{"stop_reason":"end_turn","content":[]}})"
             "\n",
             QIODevice::WriteOnly | QIODevice::Append);
    writeAll(desktopMeta, R"({"sessionId":"d1","completedTurns":2,"title":"Refactor auth"})");
    QFile::rename(downloads + u"/report.pdf.crdownload"_qs, downloads + u"/report.pdf"_qs);
    engine.waitForLog("→ ready", 3); // the desktop turn after its 2.5 s settle
    EXPECT_TRUE(engine.stop()) << engine.log();
    EXPECT_EQ(engine.loops(),
              (QStringList{u"app.kestrune.downloads report.pdf | ready | -"_qs,
                           u"com.anthropic.claudefordesktop Refactor auth | ready | -"_qs,
                           u"com.anthropic.claudefordesktop shop | ready | -"_qs}))
        << engine.log();
}

TEST(EngineEndToEndTest, ATerminalBackAtItsPromptMakesItsWaitingLoopReady) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    // A real xterm whose shell shows a running command until the test lets it finish.
    const QString go = home.filePath(u"go"_qs);
    QProcess terminal;
    terminal.start(u"xterm"_qs,
                   {u"-T"_qs, u"make build"_qs, u"-e"_qs, u"sh"_qs, u"-c"_qs,
                    u"printf '\\033]0;make build\\007'; while [ ! -e '%1' ]; do sleep 0.1; "
                    "done; printf '\\033]0;me@box: ~/project\\007'; sleep 60"_qs.arg(go)});
    ASSERT_TRUE(terminal.waitForStarted());
    QProcess search;
    search.start(u"xdotool"_qs,
                 {u"search"_qs, u"--sync"_qs, u"--pid"_qs, QString::number(terminal.processId())});
    ASSERT_TRUE(search.waitForFinished(10000));
    const QString terminalWindow = QString::fromUtf8(search.readAllStandardOutput()).trimmed();
    ASSERT_FALSE(terminalWindow.isEmpty());
    QProcess other;
    const QString otherWindow = startWindow(other, u"EndToEndEditor"_qs, u"Notes"_qs);

    activate(terminalWindow);
    activate(otherWindow); // leaves the terminal while its command runs
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    QFile(go).open(QIODevice::WriteOnly);
    engine.waitForLog("→ ready");
    EXPECT_TRUE(engine.stop()) << engine.log();
    terminal.kill();
    terminal.waitForFinished();
    other.closeWriteChannel();
    other.waitForFinished(5000);

    EXPECT_TRUE(
        engine.loops().contains(u"com.apple.Terminal make build | ready | EndToEndEditor"_qs))
        << engine.loops().join(u'\n').toStdString() << engine.log();
}
