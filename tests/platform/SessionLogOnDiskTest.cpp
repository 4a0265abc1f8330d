// The session-log detector with the real inotify watcher on real files.
#include "detectors/DetectorFixture.h"
#include "detectors/SessionLogDetector.h"
#include "platform/linux/InotifyDirectoryWatcher.h"

#include <sys/stat.h>

namespace {

class SessionLogOnDiskTest : public DetectorFixture {
protected:
    InotifyDirectoryWatcher watcher;

    void append(const QString& path, const QByteArray& line) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write(line + '\n');
    }
    std::optional<ContextRecord> waitForState(const QString& bundleID, ContextState state) {
        std::optional<ContextRecord> found;
        waitUntil([&] {
            found = store->openContext(bundleID);
            return found && found->state == state;
        });
        return found && found->state == state ? found : std::nullopt;
    }
};

} // namespace

TEST_F(SessionLogOnDiskTest, ARootCreatedAfterStartIsFollowedFromTheFirstPrompt) {
    const QString root = home.filePath(u".claude/projects"_qs);
    registry.registerDetector(std::make_unique<SessionLogDetector>(
        SessionLogDetector::claudeCode(u"com.anthropic.claudefordesktop"_qs, root), watcher,
        [this] { return clock; }));

    const QString log = root + u"/-home-me-shop/6f1c.jsonl"_qs;
    append(
        log,
        R"({"type":"user","cwd":"/home/me/shop","message":{"role":"user","content":"Add a cart"}})");
    const auto working = waitForState(u"com.anthropic.claudefordesktop"_qs, ContextState::Waiting);
    ASSERT_TRUE(working) << "adopted by the launch scan once the root appeared";
    EXPECT_EQ(working->label, u"shop"_qs);

    append(log, R"({"type":"assistant","message":{"stop_reason":"end_turn","content":[]}})");
    ASSERT_TRUE(waitForState(u"com.anthropic.claudefordesktop"_qs, ContextState::Ready));

    append(log, R"({"type":"user","message":{"role":"user","content":"And a checkout"}})");
    ASSERT_TRUE(waitForState(u"com.anthropic.claudefordesktop"_qs, ContextState::Waiting));
    EXPECT_EQ(openLoops(), 1) << "one loop per session file";
}

TEST_F(SessionLogOnDiskTest, HostileTreesNeitherHangNorStopTheWatch) {
    const QString root = home.filePath(u".codex/sessions"_qs);
    const QString day = root + u"/2026/12/06"_qs;
    QDir().mkpath(day);
    ASSERT_TRUE(QFile::link(root, day + u"/loop"_qs)); // a folder linking to its ancestor
    QDir().mkpath(day + u"/locked"_qs);
    ::chmod(QFile::encodeName(day + u"/locked"_qs).constData(), 0);
    const QByteArray started =
        R"({"timestamp":"2026-12-06T10:00:00Z","type":"event_msg","payload":{"type":"task_started"}})";
    for (int i = 0; i < 10000; ++i) {
        const QString path = day + QStringLiteral("/old/rollout-%1.jsonl").arg(i);
        writeFile(path.mid(home.path().size() + 1), started + '\n', 8 * 3600);
    }
    registry.registerDetector(std::make_unique<SessionLogDetector>(
        SessionLogDetector::codex(u"com.openai.codex"_qs, root), watcher,
        [this] { return clock; }));
    EXPECT_EQ(openLoops(), 0) << "10,000 logs, all too old to adopt";

    // A pipe named like a log must not block the reader; a line after it still arrives.
    ASSERT_EQ(::mkfifo(QFile::encodeName(day + u"/rollout-pipe.jsonl"_qs).constData(), 0600), 0);
    append(day + u"/rollout-live.jsonl"_qs, started);
    EXPECT_TRUE(waitForState(u"com.openai.codex"_qs, ContextState::Waiting));
    ::chmod(QFile::encodeName(day + u"/locked"_qs).constData(), 0700);
}
