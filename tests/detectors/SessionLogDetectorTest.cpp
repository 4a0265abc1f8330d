#include "detectors/SessionLogDetector.h"
#include "LogCapture.h"
#include "detectors/DetectorFixture.h"
#include "model/StateReason.h"
#include "platform/fake/FakeDirectoryWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {

QByteArray claudeUser(const char* text) {
    return QByteArray(
               R"({"type":"user","sessionId":"s1","cwd":"/home/me/shop","message":{"role":"user","content":")") +
           text + "\"}}\n";
}
const QByteArray kClaudeEnd =
    R"({"type":"assistant","cwd":"/home/me/shop","message":{"role":"assistant","stop_reason":"end_turn","content":[{"type":"text","text":"Done."}]}})"
    "\n";
const QByteArray kClaudeToolUse =
    R"({"type":"assistant","message":{"stop_reason":"tool_use","content":[{"type":"tool_use","id":"t1","name":"Bash"}]}})"
    "\n";
const QByteArray kClaudeToolResult =
    R"({"type":"user","message":{"role":"user","content":[{"type":"tool_result","tool_use_id":"t1","content":"ok"}]}})"
    "\n";
const QByteArray kClaudeMeta =
    R"({"type":"user","isMeta":true,"message":{"role":"user","content":"<command-name>/clear</command-name>"}})"
    "\n";
const QByteArray kCodexStarted =
    R"({"timestamp":"2026-12-06T10:00:00Z","type":"event_msg","payload":{"type":"task_started"}})"
    "\n";
const QByteArray kCodexComplete =
    R"({"timestamp":"2026-12-06T10:01:00Z","type":"event_msg","payload":{"type":"task_complete","last_agent_message":"ok"}})"
    "\n";

class SessionLogDetectorTest : public DetectorFixture {
protected:
    QString root = home.filePath(u".claude/projects"_qs);
    FakeDirectoryWatcher watcher;
    SessionLogDetector* detector = nullptr;

    SessionLogDetectorTest() {
        settings.setBool(u"settings.smartSummaries"_qs, true);
        clock = at(100000);
    }
    void startDetector(SessionLogDetector::Config config) {
        auto made = std::make_unique<SessionLogDetector>(std::move(config), watcher,
                                                         [this] { return clock; });
        detector = made.get();
        ASSERT_TRUE(registry.registerDetector(std::move(made)));
    }
    void startClaude() {
        startDetector(SessionLogDetector::claudeCode(u"com.anthropic.claudefordesktop"_qs, root));
    }
    QString writeLog(const QString& relative, const QByteArray& contents,
                     std::optional<double> modifiedSecondsAgo = std::nullopt) {
        return writeFile(relative, contents, modifiedSecondsAgo);
    }
    std::optional<ContextRecord> sessionLoop(const QString& key) {
        return store->openContext(u"com.anthropic.claudefordesktop"_qs, key);
    }
};

} // namespace

TEST_F(SessionLogDetectorTest, ARecentlyActiveLogIsAdoptedAtLaunch) {
    const QString key =
        writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs,
                 claudeUser("Fix the checkout bug") + kClaudeToolUse + kClaudeEnd, 600);
    writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs, claudeUser("Old work"), 7 * 3600);
    startClaude();
    const auto loop = sessionLoop(key);
    ASSERT_TRUE(loop);
    EXPECT_TRUE(loop->isSession);
    EXPECT_EQ(loop->detectorKind, u"claude_code"_qs);
    EXPECT_EQ(loop->label, u"shop"_qs);
    EXPECT_EQ(loop->state, ContextState::Ready);
    EXPECT_EQ(loop->promptLine, u"Fix the checkout bug"_qs);
    EXPECT_EQ(signalsOf(loop->id),
              (QStringList{u"claude_code pending claude_code_working @99400"_qs,
                           u"claude_code ready claude_code_turn_complete @99400"_qs}))
        << "stamped with the file's modification time";
    EXPECT_EQ(openLoops(), 1) << "the 7-hour-old log is not adopted";
}

TEST_F(SessionLogDetectorTest, ALineHalfWrittenAtLaunchIsFinishedByTheNextWrite) {
    const QByteArray end = kClaudeEnd;
    const QString key = writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs,
                                 claudeUser("Fix the checkout bug") + end.left(30), 60);
    startClaude();
    const auto loop = sessionLoop(key);
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->state, ContextState::Waiting) << "the unfinished line is no turn end yet";
    clock = at(100010);
    writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, end.mid(30));
    watcher.announce(root, {key});
    EXPECT_EQ(signalsOf(loop->id).last(),
              u"claude_code ready claude_code_turn_complete @100010"_qs);
}

TEST_F(SessionLogDetectorTest, ALongLatestTurnIsReadAfterLaunchAndLinesWrittenMeanwhileFollow) {
    // The latest prompt lies further back than the launch reads on the main thread.
    QByteArray contents = claudeUser("Old turn") + kClaudeEnd + claudeUser("Long refactor");
    const QByteArray toolUse =
        R"({"type":"assistant","cwd":"/home/me/shop","message":{"stop_reason":"tool_use","content":")" +
        QByteArray(2000, 'w') + "\"}}\n";
    while (contents.size() < 2 * SessionLogDetector::kLaunchTailBytes)
        contents += toolUse;
    const QString key = writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, contents, 60);
    startClaude();
    EXPECT_FALSE(sessionLoop(key)) << "not adopted before its reading is done";
    EXPECT_EQ(detector->logsBeingRead(), 1);
    // The turn ends while it is being read: that comes after the adoption, never before.
    clock = at(100020);
    writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, kClaudeEnd);
    watcher.announce(root, {key});
    ASSERT_TRUE(waitUntil([&] { return detector->logsBeingRead() == 0; }));
    const auto loop = sessionLoop(key);
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->promptLine, u"Long refactor"_qs);
    EXPECT_EQ(signalsOf(loop->id),
              (QStringList{u"claude_code pending claude_code_working @99940"_qs,
                           u"claude_code ready claude_code_turn_complete @100020"_qs}));
}

TEST_F(SessionLogDetectorTest, AppendedLinesDriveTheSessionTurnByTurn) {
    const QString old =
        writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs, claudeUser("Old"), 7 * 3600);
    startClaude();
    EXPECT_EQ(watcher.watchCount(root), 1);
    writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs,
             kClaudeMeta + kClaudeToolResult + claudeUser("Add tests"));
    watcher.announce(root, {old});
    const auto loop = sessionLoop(old);
    ASSERT_TRUE(loop);
    EXPECT_EQ(signalsOf(loop->id),
              QStringList{u"claude_code pending claude_code_working @100000"_qs})
        << "meta and tool-result lines are no prompts";
    EXPECT_EQ(loop->promptLine, u"Add tests"_qs);

    // A line that arrives in two pieces counts once, when it is complete.
    clock = at(100050);
    const QByteArray end = kClaudeEnd;
    writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs, end.left(40));
    watcher.announce(root, {old});
    EXPECT_EQ(signalsOf(loop->id).size(), 1);
    writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs, end.mid(40));
    watcher.announce(root, {old});
    EXPECT_EQ(signalsOf(loop->id).size(), 2);
    EXPECT_EQ(store->context(loop->id)->state, ContextState::Ready);

    // Newer versions end a turn with a timing line instead (stop_reason may be null).
    writeLog(u".claude/projects/-home-me-old/b.jsonl"_qs,
             claudeUser("Again") +
                 R"({"type":"assistant","message":{"stop_reason":null,"content":[]}})"
                 "\n"
                 R"({"type":"system","subtype":"turn_duration","durationMs":5120})"
                 "\n");
    watcher.announce(root, {old});
    EXPECT_EQ(signalsOf(loop->id).size(), 4);
    EXPECT_TRUE(signalsOf(loop->id).last().startsWith(u"claude_code ready"_qs));

    // Subagent transcripts are not sessions of their own.
    const QString sub = writeLog(u".claude/projects/-home-me-old/b/subagents/agent-1.jsonl"_qs,
                                 claudeUser("sub task"));
    watcher.announce(root, {sub});
    EXPECT_EQ(openLoops(), 1);
}

TEST_F(SessionLogDetectorTest, CodexTurnsClaimOnStartAndFinishOnCompletion) {
    qputenv("CODEX_HOME", home.filePath(u"codex-home"_qs).toUtf8());
    const QString sessions = SessionLogDetector::defaultSessionsDir();
    qunsetenv("CODEX_HOME");
    EXPECT_EQ(sessions, home.filePath(u"codex-home/sessions"_qs));
    QDir().mkpath(sessions);
    startDetector(SessionLogDetector::codex(u"com.openai.codex"_qs, sessions));

    const QString rollout = writeLog(
        u"codex-home/sessions/2026/12/06/rollout-2026-12-06T10-00-00-abc.jsonl"_qs, kCodexComplete);
    watcher.announce(sessions, {rollout});
    EXPECT_EQ(openLoops(), 0) << "a turn that ends in a file never seen before claims nothing";

    writeLog(u"codex-home/sessions/2026/12/06/rollout-2026-12-06T10-00-00-abc.jsonl"_qs,
             R"({"type":"turn_context","payload":{"cwd":"/home/me/api"}})"
             "\n" +
                 kCodexStarted);
    watcher.announce(sessions, {rollout});
    const auto loop = store->openContext(u"com.openai.codex"_qs, rollout);
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->label, u"api"_qs);
    EXPECT_EQ(signalsOf(loop->id), QStringList{u"codex pending codex_turn_started @100000"_qs});
    writeLog(u"codex-home/sessions/2026/12/06/rollout-2026-12-06T10-00-00-abc.jsonl"_qs,
             R"({"type":"event_msg","msg":{"type":"task_complete"}})"
             "\n");
    watcher.announce(sessions, {rollout});
    EXPECT_EQ(signalsOf(loop->id).last(), u"codex ready codex_task_complete @100000"_qs);

    // The user stops a turn: it ends without a nudge.
    shared->setObserver(observer);
    writeLog(u"codex-home/sessions/2026/12/06/rollout-2026-12-06T10-00-00-abc.jsonl"_qs,
             kCodexStarted +
                 R"({"type":"event_msg","payload":{"type":"turn_aborted","reason":"interrupted"}})"
                 "\n");
    watcher.announce(sessions, {rollout});
    EXPECT_EQ(signalsOf(loop->id).last(), u"codex ready codex_turn_aborted @100000"_qs);
    EXPECT_EQ(store->context(loop->id)->state, ContextState::Ready);
    EXPECT_FALSE(observer->transitions.contains(qMakePair(loop->id, ContextState::Ready)))
        << "nobody is told";

    const QString notRollout = writeLog(u"codex-home/sessions/history.jsonl"_qs, kCodexStarted);
    watcher.announce(sessions, {notRollout});
    EXPECT_EQ(openLoops(), 1);
}

TEST_F(SessionLogDetectorTest, ASessionWhoseLoopIsGoneClaimsANewOneAtItsNextTurn) {
    QDir().mkpath(root);
    startClaude();
    const QString key =
        writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, claudeUser("First"), 1);
    watcher.announce(root, {key});
    const auto first = sessionLoop(key);
    ASSERT_TRUE(first);
    store->dismissContext(first->id, u"user_dismissed"_qs, clock);

    writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, kClaudeEnd);
    watcher.announce(root, {key});
    EXPECT_EQ(openLoops(), 0) << "the end of the dismissed turn does not bring it back";
    writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, claudeUser("Second"));
    watcher.announce(root, {key});
    const auto second = sessionLoop(key);
    ASSERT_TRUE(second) << "the session is followed again";
    EXPECT_NE(second->id, first->id);
    EXPECT_EQ(second->state, ContextState::Waiting);
    writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, kClaudeEnd);
    watcher.announce(root, {key});
    EXPECT_EQ(store->context(second->id)->state, ContextState::Ready);
    EXPECT_EQ(store->context(first->id)->dismissedAt.has_value(), true) << "the old one stays gone";
}

TEST_F(SessionLogDetectorTest, AMissingRootIsAwaitedThroughItsNearestAncestor) {
    startClaude();
    EXPECT_TRUE(detector->isWatchingAncestor());
    EXPECT_EQ(watcher.watchCount(home.path()), 1);
    EXPECT_EQ(SessionLogDetector::nearestExistingAncestor(root), home.path());
    EXPECT_EQ(SessionLogDetector::nearestExistingAncestor(home.filePath(u"a/b/c/d"_qs)),
              home.path())
        << "several missing folders deep";

    {
        // $HOME is busy (the session's own log may be written there): changes that bring
        // the root no nearer neither re-arm nor log.
        LogCapture log;
        for (int i = 0; i < 3; ++i) {
            writeFile(u".xsession-errors"_qs, "a line\n");
            watcher.announce(home.path(), {home.filePath(u".xsession-errors"_qs)});
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(watcher.watchesMade(home.path()), 1);
        EXPECT_EQ(log.count(u"app.kestrune.detector"_qs), 0)
            << log.lines().join(u'\n').toStdString();
    }
    QDir(home.path()).mkpath(u".claude"_qs);
    watcher.announce(home.path(), {home.filePath(u".claude"_qs)});
    QCoreApplication::processEvents();
    EXPECT_EQ(watcher.watchCount(home.filePath(u".claude"_qs)), 1) << "one step nearer";

    const QString key =
        writeLog(u".claude/projects/-home-me-shop/a.jsonl"_qs, claudeUser("First prompt"), 5);
    watcher.announce(home.filePath(u".claude"_qs), {home.filePath(u".claude/projects"_qs)});
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_FALSE(detector->isWatchingAncestor());
    EXPECT_EQ(watcher.watchCount(home.path()), 0);
    EXPECT_EQ(watcher.watchCount(root), 1);
    const auto loop = sessionLoop(key);
    ASSERT_TRUE(loop) << "the launch scan ran when the root appeared";
    EXPECT_EQ(loop->state, ContextState::Waiting);

    registry.pauseAll();
    EXPECT_EQ(watcher.watchCount(root), 0);
    registry.resumeAll();
    EXPECT_EQ(watcher.watchCount(root), 1);
    EXPECT_EQ(openLoops(), 1) << "known files are not adopted twice";
}

TEST_F(SessionLogDetectorTest, BadInputIsSkippedWithoutBoundlessMemory) {
    const QString log = writeLog(u".claude/projects/-home-me-x/bad.jsonl"_qs, "", 7 * 3600);
    startClaude();
    // Not JSON, invalid UTF-8, a JSON array, then a 20 MB line that arrives in pieces.
    writeLog(u".claude/projects/-home-me-x/bad.jsonl"_qs,
             "not json\n\xff\xfe{\"type\":\"user\"}\n[1,2]\n");
    watcher.announce(root, {log});
    const QByteArray chunk(8 * 1024 * 1024, 'z');
    for (int i = 0; i < 3; ++i) {
        writeLog(u".claude/projects/-home-me-x/bad.jsonl"_qs, chunk);
        watcher.announce(root, {log});
    }
    // The overlong line ends; the next line is read normally.
    writeLog(u".claude/projects/-home-me-x/bad.jsonl"_qs,
             "tail of the long line\n" + claudeUser("Real prompt"));
    watcher.announce(root, {log});
    const auto loop = sessionLoop(log);
    ASSERT_TRUE(loop);
    EXPECT_EQ(loop->promptLine, u"Real prompt"_qs);
    EXPECT_EQ(signalsOf(loop->id).size(), 1);

    // A file that shrinks is read on from its old offset; one that vanishes is skipped.
    QFile::resize(log, 10);
    writeLog(u".claude/projects/-home-me-x/bad.jsonl"_qs, claudeUser("Short"));
    watcher.announce(root, {log});
    QFile::remove(log);
    watcher.announce(root, {log});
    EXPECT_EQ(signalsOf(loop->id).size(), 1);
}
