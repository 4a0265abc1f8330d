// Runs inside scripts/test-env.sh: the real tessarine executable on a real X server; window
// switches must become loops in its encrypted database.
#include "ChatCompletionsServer.h"
#include "EngineHarness.h"
#include "Wait.h"
#include "detectors/TerminalDetector.h"
#include "platform/linux/ProcTerminalJobs.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QThread>
#include <algorithm>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace EngineHarness;

TEST(EngineEndToEndTest, WindowSwitchesBecomeLoopsInTheEncryptedDatabase) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    QProcess alpha;
    QProcess beta;
    const QString alphaWindow = startWindow(alpha, u"EndToEndAlpha"_qs, u"Alpha report"_qs);
    const QString betaWindow = startWindow(beta, u"EndToEndBeta"_qs, u"Beta inbox"_qs);
    ASSERT_TRUE(engine.activate(alphaWindow, u"EndToEndAlpha"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(betaWindow, u"EndToEndBeta"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(alphaWindow, u"EndToEndAlpha"_qs)) << engine.log();

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

TEST(EngineEndToEndTest, AnAgentsTurnIsNamedByTheModelOnThisComputer) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    ChatCompletionsServer server;
    server.answer = u"\u201CShopping Cart For The Shop.\u201D"_qs;
    const QString claudeLog = home.filePath(u"home/.claude/projects/-home-me-shop/a1.jsonl"_qs);
    Engine engine(
        home,
        QStringLiteral(R"({"settings.launchAtLogin.configured": true,
                      "onboarding.completed": true, "settings.smartSummaries": true,
                      "settings.summaryEndpoint": "http://127.0.0.1:%1"})")
            .arg(server.port())
            .toUtf8(),
        {{u"HOME"_qs, home.filePath(u"home"_qs)}, {u"CODEX_HOME"_qs, home.filePath(u"codex"_qs)}});
    ASSERT_TRUE(engine.waitForLog("Topic summaries use the model test-model")) << engine.log();

    writeAll(claudeLog, R"({"type":"user","cwd":"/home/me/shop","message":{"role":"user",)"
                        R"("content":"Add a cart to the shop page\nwith a total"}})"
                        "\n");
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    writeAll(claudeLog,
             R"({"type":"assistant","message":{"stop_reason":"end_turn","content":[]}})"
             "\n",
             QIODevice::WriteOnly | QIODevice::Append);
    ASSERT_TRUE(engine.waitForLog("→ ready")) << engine.log();
    const auto named = [&] {
        Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement row(db, u"SELECT topic, prompt_line FROM context WHERE topic IS NOT NULL"_qs);
        return row.step()
                   ? row.text(0).value_or(QString()) + u" | "_qs + row.text(1).value_or(QString())
                   : QString();
    };
    // The event loop runs meanwhile: the model server lives in this process.
    EXPECT_TRUE(waitFor([&] { return !named().isEmpty(); }, 10000)) << engine.log();
    EXPECT_EQ(named(), u"Shopping Cart For The Shop | Add a cart to the shop page"_qs);
    ASSERT_EQ(server.requestsTo("/chat/completions").size(), 1);
    EXPECT_TRUE(server.requestsTo("/chat/completions")
                    .first()
                    .body.contains("Conversation:\\nAdd a cart to the shop page"));
    EXPECT_TRUE(engine.stop()) << engine.log();
}

TEST(EngineEndToEndTest, ATerminalBackAtItsPromptMakesItsWaitingLoopReady) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    // A real xterm whose shell shows a running command until the test lets it finish.
    const QString go = home.filePath(u"go"_qs);
    QProcess terminal;
    const QString terminalWindow = startTerminal(
        terminal, {u"-T"_qs, u"make build"_qs, u"-e"_qs, u"sh"_qs, u"-c"_qs,
                   u"printf '\\033]0;make build\\007'; while [ ! -e '%1' ]; do sleep 0.1; "
                   "done; printf '\\033]0;me@box: ~/project\\007'; sleep 60"_qs.arg(go)});
    ASSERT_FALSE(terminalWindow.isEmpty());
    QProcess other;
    const QString otherWindow = startWindow(other, u"EndToEndEditor"_qs, u"Notes"_qs);

    ASSERT_TRUE(engine.activate(terminalWindow)) << engine.log();
    // Leaves the terminal while its command runs.
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndEditor"_qs)) << engine.log();
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    QFile(go).open(QIODevice::WriteOnly);
    engine.waitForLog("→ ready");
    EXPECT_TRUE(engine.stop()) << engine.log();
    terminal.kill();
    terminal.waitForFinished();
    other.closeWriteChannel();
    other.waitForFinished(5000);

    // xterm keeps an identity of its own (its desktop entry's, or its window class).
    const QStringList loops = engine.loops();
    const auto terminalLoop = std::find_if(loops.begin(), loops.end(), [](const QString& loop) {
        return loop.endsWith(u" make build | ready | EndToEndEditor"_qs);
    });
    ASSERT_NE(terminalLoop, loops.end()) << loops.join(u'\n').toStdString() << engine.log();
    EXPECT_TRUE(TerminalDetector::terminalBundleIDs().contains(terminalLoop->section(u' ', 0, 0)));
}

TEST(EngineEndToEndTest, ACommandInAStockShellIsFollowedByItsProcessNotItsTitle) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    // An interactive bash that titles its window as Debian's stock bashrc does, at every
    // prompt, and leaves the title alone while a command runs.
    const QString rc = home.filePath(u"bashrc"_qs);
    writeAll(rc, "PS1='$ '\nPROMPT_COMMAND='printf \"\\033]0;me@box: ~/project\\007\"'\n");
    QProcess terminal;
    const QString terminalWindow = startTerminal(
        terminal, {u"-e"_qs, u"bash"_qs, u"--noprofile"_qs, u"--rcfile"_qs, rc, u"-i"_qs});
    ASSERT_FALSE(terminalWindow.isEmpty());
    QProcess other;
    const QString otherWindow = startWindow(other, u"EndToEndNotes"_qs, u"Notes"_qs);

    ASSERT_TRUE(engine.activate(terminalWindow)) << engine.log();
    const QString go = home.filePath(u"go"_qs);
    QProcess::execute(u"xdotool"_qs,
                      {u"type"_qs, u"--delay"_qs, u"5"_qs,
                       u"sh -c 'while [ ! -e %1 ]; do sleep 0.1; done'\n"_qs.arg(go)});
    // The command runs once the shell has handed it the terminal.
    ProcTerminalJobs jobs;
    ASSERT_TRUE(waitFor([&] {
        const auto shell = jobs.shellOf(terminal.processId());
        return shell && shell->commandInForeground();
    })) << "the typed command did not start";
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndNotes"_qs)) << engine.log();
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    QFile(go).open(QIODevice::WriteOnly);
    EXPECT_TRUE(engine.waitForLog("→ ready")) << engine.log();
    EXPECT_TRUE(engine.stop()) << engine.log();
    EXPECT_TRUE(engine.detectorSignals().contains(u"terminal ready command_finished"_qs))
        << engine.detectorSignals().join(u'\n').toStdString();
    terminal.kill();
    terminal.waitForFinished();
    other.closeWriteChannel();
    other.waitForFinished(5000);
    const QStringList loops = engine.loops();
    EXPECT_TRUE(std::any_of(loops.begin(), loops.end(), [](const QString& loop) {
        return loop.endsWith(u" me@box: ~/project | ready | EndToEndNotes"_qs);
    })) << loops.join(u'\n').toStdString();
}

TEST(EngineEndToEndTest, ASecondStartLeavesTheRunningEngineAlone) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    QProcess second;
    second.setProcessEnvironment(engine.environment());
    second.start(QStringLiteral(TESSARINE_EXECUTABLE));
    ASSERT_TRUE(second.waitForFinished(10000)) << "the second start does not stay";
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().contains("already running"));
    EXPECT_FALSE(second.readAllStandardError().contains("tab receipt port unavailable"));

    // The first one still runs and, once stopped, frees the lock for the next start.
    EXPECT_TRUE(engine.stop()) << engine.log();
    Engine next(home, kLoopsAtOnce);
    EXPECT_TRUE(next.waitForLog("Tessarine is running")) << next.log();
    EXPECT_TRUE(next.stop()) << next.log();
}

TEST(EngineEndToEndTest, TheCommandLineListsLoopsAndTakesTheUserBackToOne) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    QProcessEnvironment noEngine = QProcessEnvironment::systemEnvironment();
    QByteArray said;
    EXPECT_EQ(runClient(noEngine, {u"loops"_qs}, &said), 3) << said.toStdString();
    EXPECT_TRUE(said.contains("not running"));

    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess report;
    QProcess other;
    const QString reportWindow = startWindow(report, u"EndToEndReport"_qs, u"Report"_qs);
    const QString otherWindow = startWindow(other, u"EndToEndOther"_qs, u"Other"_qs);
    ASSERT_TRUE(engine.activate(reportWindow, u"EndToEndReport"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherWindow, u"EndToEndOther"_qs)) << engine.log();
    QProcess::execute(u"xdotool"_qs, {u"windowminimize"_qs, reportWindow});

    const QProcessEnvironment environment = engine.environment();
    QString id;
    ASSERT_TRUE(waitFor([&] {
        runClient(environment, {u"loops"_qs, u"--json"_qs}, &said);
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array()) {
            if (loop[u"bundleID"_qs] == u"EndToEndReport"_qs) {
                id = loop[u"id"_qs].toString();
                EXPECT_EQ(loop[u"label"_qs], u"Report"_qs);
                EXPECT_FALSE(loop[u"group"_qs].toString().isEmpty());
            }
        }
        return !id.isEmpty();
    })) << said.toStdString();

    EXPECT_EQ(runClient(environment, {u"open"_qs, id.left(6).toLower()}, &said), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return activeWindow() == reportWindow; }))
        << "the minimised window is back in front";

    EXPECT_EQ(runClient(environment, {u"open"_qs, u"not-an-id"_qs}, &said), 1);
    EXPECT_TRUE(said.contains("tessarine loops")) << "says what to do";
    EXPECT_EQ(runClient(environment, {u"snooze"_qs, id, u"soon"_qs}, &said), 2);
    EXPECT_EQ(runClient(environment, {u"open"_qs}, &said), 2);
    // The report is in front now; the other window's loop is the one listed.
    QString otherID;
    ASSERT_TRUE(waitFor([&] {
        runClient(environment, {u"loops"_qs, u"--json"_qs}, &said);
        const QJsonArray loops = QJsonDocument::fromJson(said).array();
        for (const QJsonValue& loop : loops) {
            if (loop[u"bundleID"_qs] == u"EndToEndOther"_qs)
                otherID = loop[u"id"_qs].toString();
        }
        return !otherID.isEmpty();
    })) << said.toStdString();
    EXPECT_EQ(runClient(environment, {u"pin"_qs, otherID}, &said), 0) << said.toStdString();
    EXPECT_EQ(runClient(environment, {u"loops"_qs}, &said), 0);
    EXPECT_TRUE(said.contains("(pinned)")) << said.toStdString();

    // A loop whose only way back is a command: it lands on the clipboard (read by another X
    // client), and the window still comes back.
    {
        Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        db.execute(u"INSERT INTO return_action (id, context_id, kind, payload, label, "
                   "provenance, rank, is_valid, created_at) VALUES ('RA1', ?, 'run_command', "
                   "'make -C ~/shop test', NULL, 'user', 0, 1, 0)"_qs,
                   otherID);
    }
    ASSERT_TRUE(engine.activate(reportWindow, u"EndToEndReport"_qs)) << engine.log();
    EXPECT_EQ(runClient(environment, {u"open"_qs, otherID}, &said), 0) << said.toStdString();
    QProcess clipboard;
    clipboard.start(QStringLiteral(TESSARINE_TEST_CLIPBOARD));
    ASSERT_TRUE(clipboard.waitForFinished(10000));
    EXPECT_EQ(clipboard.readAllStandardOutput(), "make -C ~/shop test");
    EXPECT_TRUE(waitFor([&] { return activeWindow() == otherWindow; })) << "and the window is back";

    EXPECT_TRUE(engine.stop()) << engine.log();
    report.closeWriteChannel();
    other.closeWriteChannel();
    report.waitForFinished(5000);
    other.waitForFinished(5000);
}

TEST(EngineEndToEndTest, EveryCommandOfTheCommandLineReachesTheEngine) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess a;
    QProcess b;
    QProcess c;
    const QString aWindow = startWindow(a, u"CommandA"_qs, u"Alpha"_qs);
    const QString bWindow = startWindow(b, u"CommandB"_qs, u"Beta"_qs);
    const QString cWindow = startWindow(c, u"CommandC"_qs, u"Gamma"_qs);
    ASSERT_TRUE(engine.activate(aWindow, u"CommandA"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(bWindow, u"CommandB"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(cWindow, u"CommandC"_qs)) << engine.log();

    QByteArray said;
    const auto run = [&](const QStringList& words) {
        return runClient(engine.environment(), words, &said, home.path());
    };
    const auto listed = [&] {
        QMap<QString, QJsonObject> loops;
        run({u"loops"_qs, u"--json"_qs});
        for (const QJsonValue& loop : QJsonDocument::fromJson(said).array())
            loops.insert(loop[u"bundleID"_qs].toString(), loop.toObject());
        return loops;
    };
    ASSERT_TRUE(waitFor([&] { return listed().size() == 2; })) << said.toStdString();
    const QString alpha = listed().value(u"CommandA"_qs)[u"id"_qs].toString();
    const QString beta = listed().value(u"CommandB"_qs)[u"id"_qs].toString();

    EXPECT_EQ(run({u"note"_qs, alpha, u"check"_qs, u"the"_qs, u"totals"_qs}), 0)
        << said.toStdString();
    EXPECT_TRUE(waitFor(
        [&] { return listed().value(u"CommandA"_qs)[u"note"_qs] == u"check the totals"_qs; }));
    EXPECT_EQ(run({u"not-ready"_qs, alpha}), 1) << "only a ready loop can be not ready";
    EXPECT_EQ(run({u"watch"_qs, alpha}), 0) << said.toStdString();
    EXPECT_EQ(run({u"snooze"_qs, alpha, u"10m"_qs}), 0) << said.toStdString();
    EXPECT_EQ(run({u"dismiss"_qs, beta}), 0) << said.toStdString();
    EXPECT_TRUE(waitFor([&] { return listed().isEmpty(); })) << "snoozed and dismissed";
    EXPECT_EQ(run({u"snooze"_qs, alpha, u"tomorrow"_qs}), 0) << said.toStdString();

    EXPECT_EQ(run({u"export"_qs, u"out.json"_qs}), 0) << said.toStdString();
    EXPECT_TRUE(QFileInfo(home.filePath(u"out.json"_qs)).isFile()) << "relative to the caller";
    EXPECT_EQ(run({u"exclude"_qs, u"CommandC"_qs}), 0) << said.toStdString();
    EXPECT_EQ(run({u"pause"_qs}), 0);
    EXPECT_EQ(run({u"resume"_qs}), 0);
    EXPECT_EQ(run({u"toggle"_qs}), 0);
    EXPECT_EQ(run({u"clear-all"_qs}), 0);
    EXPECT_EQ(run({u"dismiss"_qs, beta}), 1) << "already gone";

    EXPECT_TRUE(engine.stop()) << engine.log();
    for (QProcess* window : {&a, &b, &c}) {
        window->closeWriteChannel();
        window->waitForFinished(5000);
    }
    Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
    db.applyKey(EphemeralKeyProvider::developmentKey());
    EXPECT_EQ(db.scalarInt(u"SELECT COUNT(*) FROM privacy_rule WHERE matcher = 'CommandC'"_qs), 1);
    EXPECT_EQ(db.scalarInt(u"SELECT COUNT(*) FROM audit_log WHERE action IN ('capture_paused', "
                           "'capture_resumed', 'export_performed')"_qs),
              3);
}

TEST(EngineEndToEndTest, NoTextTheUserSawIsLeftReadableOnDisk) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    const QDateTime started = QDateTime::currentDateTime().addSecs(-1);
    QTemporaryDir home;
    QDir().mkpath(home.filePath(u"tmp"_qs));
    const QString title = u"Zebra7741 payroll draft"_qs;
    const QString prompt = u"Quokka9182 rotate the vault keys"_qs;
    const QString project = u"Ocelot3310"_qs;
    const QString note = u"Narwhal5521 call the bank"_qs;
    const QString claudeLog =
        home.filePath(u"home/.claude/projects/-home-me-"_qs + project + u"/a1.jsonl"_qs);
    Engine engine(home,
                  R"({"settings.engagementSeconds": 0, "settings.launchAtLogin.configured": true,
                      "onboarding.completed": true, "settings.smartSummaries": true,
                      "settings.urlReceipts": true})",
                  {{u"HOME"_qs, home.filePath(u"home"_qs)},
                   {u"CODEX_HOME"_qs, home.filePath(u"codex"_qs)},
                   {u"TMPDIR"_qs, home.filePath(u"tmp"_qs)}});
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();

    QProcess secret;
    QProcess other;
    const QString secretWindow = startWindow(secret, u"PlainSecret"_qs, title);
    const QString otherWindow = startWindow(other, u"PlainOther"_qs, u"Other"_qs);
    ASSERT_TRUE(engine.activate(secretWindow, u"PlainSecret"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherWindow, u"PlainOther"_qs)) << engine.log();
    writeAll(claudeLog,
             (u"{\"type\":\"user\",\"cwd\":\"/home/me/"_qs + project +
              u"\",\"message\":{\"role\":\"user\",\"content\":\""_qs + prompt + u"\"}}\n"_qs)
                 .toUtf8());
    ASSERT_TRUE(engine.waitForLog("→ waiting")) << engine.log();
    writeAll(claudeLog,
             R"({"type":"assistant","message":{"stop_reason":"end_turn","content":[]}})"
             "\n",
             QIODevice::WriteOnly | QIODevice::Append);
    ASSERT_TRUE(engine.waitForLog("→ ready")) << engine.log();
    QByteArray said;
    const QString id = loopIDOf(engine.environment(), u"PlainSecret"_qs, said);
    ASSERT_FALSE(id.isEmpty()) << said.toStdString();
    ASSERT_EQ(runClient(engine.environment(), {u"note"_qs, id, note}, &said), 0) << said.data();
    EXPECT_TRUE(waitFor([&] {
        Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
        db.applyKey(EphemeralKeyProvider::developmentKey());
        Statement row(db, u"SELECT COUNT(*) FROM context WHERE topic IS NOT NULL"_qs);
        return row.step() && row.int64(0) > 0;
    })) << "the topic is kept";
    ASSERT_TRUE(engine.stop()) << engine.log();
    secret.closeWriteChannel();
    other.closeWriteChannel();

    // Stored (so the scan means something) and readable only through the key.
    Database db(home.filePath(u"data/Kestrune/kestrune.db"_qs));
    db.applyKey(EphemeralKeyProvider::developmentKey());
    Statement stored(db, u"SELECT group_concat(coalesce(label, '') || ' ' || coalesce(note, '') "
                         "|| ' ' || coalesce(prompt_line, '') || ' ' || coalesce(topic, ''), "
                         "' ') FROM context"_qs);
    ASSERT_TRUE(stored.step());
    const QString everything = stored.text(0).value_or(QString());
    const QStringList secrets{title, prompt, project, note};
    for (const QString& text : secrets)
        EXPECT_TRUE(everything.contains(text)) << text.toStdString() << " was not stored";

    // The database and its -wal/-shm, the key and settings folders, the runtime folder, the log
    // and every file written to the temporary folder meanwhile (the agent's own log aside).
    QStringList leaks = filesHolding(home.filePath(u"data"_qs), secrets) +
                        filesHolding(home.filePath(u"config"_qs), secrets);
    if (const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR"); !runtime.isEmpty())
        leaks += filesHolding(runtime, secrets);
    leaks += filesHolding(home.filePath(u"tmp"_qs), secrets);
    leaks += filesHolding(u"/tmp"_qs, secrets, false, started);
    for (const QString& text : secrets)
        if (QByteArray::fromStdString(engine.log()).contains(text.toUtf8()))
            leaks.append(u"the log: "_qs + text);
    EXPECT_EQ(leaks, QStringList()) << engine.log();
}

namespace {

// The engine's resident memory in KiB, from /proc.
qint64 residentKiB(qint64 pid) {
    QFile status(u"/proc/%1/status"_qs.arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return -1;
}

} // namespace

TEST(EngineEndToEndTest, HostileWordsAndFloodsLeaveTheEngineAnsweringInBoundedMemory) {
    ASSERT_EQ(qgetenv("TESSARINE_TEST_ENV"), "1") << "run through scripts/test-env.sh";
    QTemporaryDir home;
    Engine engine(home, kLoopsAtOnce);
    ASSERT_TRUE(engine.waitForLog("Tessarine is running")) << engine.log();
    QProcess window;
    QProcess other;
    const QString windowID = startWindow(window, u"HostileTarget"_qs, u"Target"_qs);
    const QString otherID = startWindow(other, u"HostileOther"_qs, u"Other"_qs);
    ASSERT_TRUE(engine.activate(windowID, u"HostileTarget"_qs)) << engine.log();
    ASSERT_TRUE(engine.activate(otherID, u"HostileOther"_qs)) << engine.log();
    const QProcessEnvironment environment = engine.environment();
    QByteArray said;
    const QString id = loopIDOf(environment, u"HostileTarget"_qs, said);
    ASSERT_FALSE(id.isEmpty()) << said.toStdString();

    // Huge, malformed and non-UTF-8 words from the command line: refused or kept within
    // limits, each with a clear status.
    // (One word of a command line holds at most 128 KiB: the kernel refuses longer ones.)
    EXPECT_EQ(runClient(environment, {u"open"_qs, QString(120000, u'a')}, &said), 1);
    EXPECT_EQ(runClient(environment, {u"snooze"_qs, id, u"99999999999999999999m"_qs}, &said), 2);
    EXPECT_EQ(runClient(environment, {u"note"_qs, id, QString(120000, u'n')}, &said), 1);
    EXPECT_TRUE(said.contains("at most 2000 characters")) << said.toStdString();
    EXPECT_EQ(runClient(environment, {u"note"_qs, id, u"call back"_qs}, &said), 0);
    QProcess raw;
    raw.setProcessEnvironment(environment);
    raw.start(u"bash"_qs, {u"-c"_qs, u"exec \"$0\" open $'\\xff\\xfe\\x80' && exit 9"_qs,
                           QStringLiteral(TESSARINE_EXECUTABLE)});
    ASSERT_TRUE(raw.waitForFinished(10000));
    EXPECT_EQ(raw.exitCode(), 1) << raw.readAllStandardError().toStdString();
    // The bus interface called directly with the wrong types and counts.
    for (const QStringList& call :
         {QStringList{u"Open"_qs, u"int32:7"_qs}, QStringList{u"Snooze"_qs, u"string:x"_qs},
          QStringList{u"SetNote"_qs, u"string:"_qs + id, u"string:"_qs, u"string:extra"_qs},
          QStringList{u"SetNote"_qs, u"string:"_qs + id, u"string:"_qs + QString(100000, u'n')}}) {
        QProcess send;
        send.setProcessEnvironment(environment);
        send.start(u"dbus-send"_qs,
                   QStringList{u"--session"_qs, u"--print-reply"_qs,
                               u"--dest=app.kestrune.Tessarine"_qs, u"/app/kestrune/Tessarine"_qs,
                               u"app.kestrune.Tessarine1."_qs + call.first()} +
                       call.mid(1));
        ASSERT_TRUE(send.waitForFinished(10000));
        EXPECT_NE(send.exitCode(), 0) << call.join(u' ').toStdString();
    }

    // A flood on the companion's port: the engine reads it all and stays within bounds.
    const QString socket =
        environment.value(u"XDG_RUNTIME_DIR"_qs) + u"/kestrune/app.kestrune.tabctx"_qs;
    const qint64 pid = engine.processId();
    const qint64 before = residentKiB(pid);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(socket).constData(),
                 sizeof address.sun_path - 1);
    const QByteArray junk = QByteArray(60000, '{');
    const QByteArray plausible =
        R"({"event":"tab_context","origin":"https://claude.ai","path":"/c/1","tabId":7,)"
        R"("title":")" +
        QByteArray(3000, 't') + R"("})";
    int sent = 0;
    for (int i = 0; i < 20000; ++i) {
        const QByteArray& message = i % 2 ? junk : plausible;
        if (::sendto(fd, message.constData(), message.size(), 0,
                     reinterpret_cast<sockaddr*>(&address), sizeof address) >= 0)
            ++sent;
        else if (errno == EAGAIN)
            QThread::usleep(200); // the engine's queue is full: it is reading
    }
    ::close(fd);
    EXPECT_GT(sent, 1000) << "the port took the flood";
    EXPECT_EQ(runClient(environment, {u"loops"_qs}, &said), 0) << "still answering";
    EXPECT_TRUE(said.contains("Target")) << said.toStdString();
    runClient(environment, {u"loops"_qs, u"--json"_qs}, &said);
    EXPECT_TRUE(said.contains("\"note\":\"call back\"")) << "the refused notes left it alone";
    const qint64 after = residentKiB(pid);
    EXPECT_LT(after, before + 64 * 1024) << "KiB before " << before << ", after " << after;
    EXPECT_TRUE(engine.stop()) << engine.log();
}
