// The Claude desktop session detector on real metadata files with the real inotify watcher.
#include "detectors/ClaudeDesktopSessionDetector.h"
#include "detectors/DetectorFixture.h"
#include "platform/linux/InotifyDirectoryWatcher.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QPointer>
#include <sys/stat.h>

namespace {

const QString kDesktop = ClaudeDesktopSessionDetector::bundleID;

class ClaudeDesktopOnDiskTest : public DetectorFixture {
protected:
    const QString relativeRoot = u".config/Claude/claude-code-sessions/acct/org"_qs;
    QString root = home.filePath(u".config/Claude/claude-code-sessions"_qs);
    InotifyDirectoryWatcher watcher;
    ClaudeDesktopSessionDetector* detector = nullptr;
    // Turn completions wait here until the test lets them settle.
    QList<QPair<QPointer<QObject>, std::function<void()>>> settling;
    QStringList controlLabels;

    ClaudeDesktopOnDiskTest() {
        clock = at(100000);
        shared->setObserver(observer);
        workspace.launch(RunningApplication{u"com.example.Editor"_qs, {}, 20, true});
        workspace.activate(20);
    }

    void startDetector() {
        ClaudeDesktopSessionDetector::Options options;
        options.now = [this] { return clock; };
        options.settle = [this](QObject* context, std::function<void()> work) {
            settling.append({context, std::move(work)});
        };
        options.controlLabels = [this] { return controlLabels; };
        options.pollInterval = std::chrono::milliseconds(20);
        auto made = std::make_unique<ClaudeDesktopSessionDetector>(root, watcher, options);
        detector = made.get();
        ASSERT_TRUE(registry.registerDetector(std::move(made)));
    }
    void settleAll() {
        for (auto& [context, work] : std::exchange(settling, {})) {
            if (context)
                work();
        }
    }
    // Writes a session's metadata file the way the desktop app does: whole, in place.
    QString writeMeta(const QString& name, const QJsonObject& meta,
                      std::optional<double> modifiedSecondsAgo = std::nullopt) {
        return writeFile(relativeRoot + u'/' + name, QJsonDocument(meta).toJson(),
                         modifiedSecondsAgo, QIODevice::WriteOnly | QIODevice::Truncate);
    }
    static QJsonObject session(const char* id, int turns, const char* title) {
        return {{u"sessionId"_qs, QString::fromLatin1(id)},
                {u"completedTurns"_qs, turns},
                {u"title"_qs, QString::fromLatin1(title)},
                {u"cwd"_qs, u"/home/me/shop"_qs}};
    }
    std::optional<ContextRecord> sessionLoop(const char* id) {
        return store->openContext(kDesktop, QString::fromLatin1(id));
    }
    bool waitForSignals(const QString& loopID, qsizetype count) {
        return waitUntil([&] { return signalsOf(loopID).size() >= count; });
    }
    int nudgedReady(const QString& loopID) {
        int count = 0;
        for (const auto& [id, state] : observer->transitions)
            count += id == loopID && state == ContextState::Ready;
        return count;
    }
};

} // namespace

TEST_F(ClaudeDesktopOnDiskTest, LaunchClaimsRecentLiveSessionsOnly) {
    writeMeta(u"local_a.json"_qs, session("sess-a", 3, "  Fix the login\n"), 600);
    QJsonObject archived = session("sess-archived", 2, "Old plan");
    archived[u"isArchived"_qs] = true;
    writeMeta(u"local_b.json"_qs, archived, 600);
    writeMeta(u"local_c.json"_qs, session("sess-old", 9, "Last week"), 7 * 3600);
    writeMeta(u"local_d.json"_qs,
              {{u"cliSessionId"_qs, u"cli-only"_qs}, {u"cwd"_qs, u"/home/me/api/"_qs}}, 60);
    writeFile(relativeRoot + u"/local_e.json"_qs, "[1, 2, 3]", 60);
    writeFile(relativeRoot + u"/local_f.json"_qs, "{\"sessionId\": \"x\xff\xfe", 60);
    writeMeta(u"notes.json"_qs, session("sess-notes", 1, "Not a session file"), 60);
    writeMeta(u".hidden/local_g.json"_qs, session("sess-hidden", 1, "Hidden"), 60);
    startDetector();

    const auto live = sessionLoop("sess-a");
    ASSERT_TRUE(live);
    EXPECT_EQ(live->label, u"Fix the login"_qs) << "title trimmed";
    EXPECT_TRUE(live->isSession);
    EXPECT_EQ(live->detectorKind, u"claude_desktop"_qs);
    EXPECT_EQ(stored(live->id), reason("backgrounded", "session_claimed"));
    const auto cli = sessionLoop("cli-only");
    ASSERT_TRUE(cli) << "keyed by cliSessionId";
    EXPECT_EQ(cli->label, u"api"_qs) << "named after the working folder";

    EXPECT_EQ(openLoops(), 2);
    EXPECT_TRUE(detector->hasSession(u"sess-archived"_qs)) << "tracked, never claimed";
    EXPECT_FALSE(detector->hasSession(u"sess-old"_qs)) << "seven hours quiet: pruned";
    EXPECT_EQ(detector->sessionCount(), 3);
    EXPECT_TRUE(settling.isEmpty()) << "nothing finished at launch";
}

TEST_F(ClaudeDesktopOnDiskTest, AGrowingTurnCountSurfacesAfterTheSettle) {
    writeMeta(u"local_a.json"_qs, session("sess-a", 3, "Fix the login"), 600);
    startDetector();
    const QString loopID = sessionLoop("sess-a")->id;

    clock = at(100010);
    writeMeta(u"local_a.json"_qs, session("sess-a", 4, "Fix the login"));
    ASSERT_TRUE(waitUntil([&] { return !settling.isEmpty(); }));
    EXPECT_TRUE(signalsOf(loopID).isEmpty()) << "nothing before the settle";
    clock = at(100012.5);
    settleAll();
    EXPECT_EQ(signalsOf(loopID),
              QStringList{u"claude_desktop ready claude_desktop_turn_complete @100012"_qs});
    EXPECT_EQ(stored(loopID), reason("ready", "detector_ready"));
    EXPECT_EQ(nudgedReady(loopID), 1) << "away from the desktop app: with a nudge";

    // The same count written again (the app rewrites the file often) finishes nothing.
    writeMeta(u"local_a.json"_qs, session("sess-a", 4, "Fix the login"));
    drain();
    EXPECT_TRUE(settling.isEmpty());

    // With the desktop app in front, the next turn is ready without a nudge.
    workspace.launch(RunningApplication{kDesktop, {}, 30, true});
    workspace.activate(30);
    shared->signalPending(loopID, u"claude_desktop"_qs, {}, clock); // working again
    writeMeta(u"local_a.json"_qs, session("sess-a", 5, "Fix the login"));
    ASSERT_TRUE(waitUntil([&] { return !settling.isEmpty(); }));
    settleAll();
    EXPECT_EQ(signalsOf(loopID).size(), 3);
    EXPECT_EQ(signalsOf(loopID).last(),
              u"claude_desktop ready claude_desktop_turn_complete @100012"_qs);
    EXPECT_EQ(nudgedReady(loopID), 1) << "quiet while the desktop app is frontmost";

    // A new session appearing with turns already done is claimed but not finished.
    writeMeta(u"local_n.json"_qs, session("sess-new", 5, "Write docs"));
    ASSERT_TRUE(waitUntil([&] { return sessionLoop("sess-new").has_value(); }));
    drain();
    EXPECT_TRUE(settling.isEmpty());
    EXPECT_TRUE(signalsOf(sessionLoop("sess-new")->id).isEmpty());
}

TEST_F(ClaudeDesktopOnDiskTest, ASettleOutlivingTheDetectorIsDropped) {
    writeMeta(u"local_a.json"_qs, session("sess-a", 1, "Fix the login"), 60);
    startDetector();
    writeMeta(u"local_a.json"_qs, session("sess-a", 2, "Fix the login"));
    ASSERT_TRUE(waitUntil([&] { return !settling.isEmpty(); }));
    {
        DetectorRegistry gone{DetectorSignals{}, DetectorEnvironment{}};
        std::swap(registry, gone); // the detector is destroyed with `gone`
    }
    settleAll(); // must not touch the destroyed detector
    EXPECT_TRUE(signalsOf(sessionLoop("sess-a")->id).isEmpty());
}

TEST_F(ClaudeDesktopOnDiskTest, ArchivedSessionsAreNeverClaimedFromTheirFiles) {
    startDetector();
    QJsonObject archived = session("sess-arch", 1, "Shelved");
    archived[u"isArchived"_qs] = true;
    writeMeta(u"local_x.json"_qs, archived);
    drain();
    archived[u"completedTurns"_qs] = 2;
    writeMeta(u"local_x.json"_qs, archived);
    drain();
    EXPECT_FALSE(sessionLoop("sess-arch"));
    EXPECT_TRUE(settling.isEmpty());
}

TEST_F(ClaudeDesktopOnDiskTest, TheAppsControlsTellWorkingFromDone) {
    writeMeta(u"local_a.json"_qs, session("sess-a", 3, "Fix the login"), 60);
    writeMeta(u"local_b.json"_qs, session("sess-b", 1, "Write docs"), 60);
    startDetector();
    const QString a = sessionLoop("sess-a")->id;
    const QString b = sessionLoop("sess-b")->id;
    EXPECT_TRUE(detector->isPolling()) << "the probe window after start";

    controlLabels = {u"Running Fix the login"_qs, u"Awaiting input Write docs"_qs, u"Running "_qs,
                     u"New session"_qs};
    ASSERT_TRUE(waitForSignals(a, 1));
    drain(200); // many polls
    EXPECT_EQ(signalsOf(a),
              QStringList{u"claude_desktop pending claude_desktop_running @100000"_qs})
        << "once, however many polls see it";
    EXPECT_TRUE(signalsOf(b).isEmpty()) << "awaiting input but never seen running";
    EXPECT_EQ(stored(a), reason("waiting", "detector_pending"));

    // Running keeps the poll alive past the probe window.
    clock = at(100060);
    drain(200);
    EXPECT_TRUE(detector->isPolling());

    controlLabels = {u"Awaiting input Fix the login  "_qs};
    ASSERT_TRUE(waitForSignals(a, 2));
    EXPECT_EQ(signalsOf(a).last(), u"claude_desktop ready claude_desktop_turn_complete @100060"_qs)
        << "at once, without the settle";
    EXPECT_TRUE(settling.isEmpty());
    EXPECT_TRUE(waitUntil([&] { return !detector->isPolling(); }))
        << "nothing running and the probe window closed";
}

TEST_F(ClaudeDesktopOnDiskTest, DeletingAFileForgetsIdleSessionsButNotRunningOnes) {
    writeMeta(u"local_a.json"_qs, session("sess-a", 3, "Fix the login"), 60);
    const QString idleFile = writeMeta(u"local_b.json"_qs, session("sess-b", 1, "Write docs"), 60);
    const QString runningFile = home.filePath(relativeRoot + u"/local_a.json"_qs);
    startDetector();
    controlLabels = {u"Running Fix the login"_qs};
    ASSERT_TRUE(waitForSignals(sessionLoop("sess-a")->id, 1));

    QFile::remove(idleFile);
    QFile::remove(runningFile);
    ASSERT_TRUE(waitUntil([&] { return !detector->hasSession(u"sess-b"_qs); }));
    drain();
    EXPECT_TRUE(detector->hasSession(u"sess-a"_qs)) << "still running in the app";
}

TEST_F(ClaudeDesktopOnDiskTest, HostileFoldersNeitherHangNorCrashTheScan) {
    const QString folder = home.filePath(relativeRoot);
    QDir().mkpath(folder);
    // A folder that links back to its parent, a pipe under a session file's name, an
    // oversized file, a link to nowhere.
    ASSERT_TRUE(QFile::link(root, folder + u"/loop"_qs));
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + u"/local_pipe.json"_qs).constData(), 0600), 0);
    writeFile(relativeRoot + u"/local_big.json"_qs,
              QByteArray(ClaudeDesktopSessionDetector::kMaxMetaBytes + 1, ' '), 60);
    ASSERT_TRUE(QFile::link(folder + u"/missing.json"_qs, folder + u"/local_dangling.json"_qs));
    const bool rootUser = ::geteuid() == 0;
    QDir().mkpath(folder + u"/locked"_qs);
    writeMeta(u"locked/local_l.json"_qs, session("sess-locked", 1, "Locked"), 60);
    ::chmod(QFile::encodeName(folder + u"/locked"_qs).constData(), 0);
    for (int i = 0; i < 10000; ++i)
        writeFile(relativeRoot + QStringLiteral("/many/local_%1.json").arg(i),
                  QByteArray(R"({"sessionId":"many-)") + QByteArray::number(i) +
                      R"(","completedTurns":1})",
                  8 * 3600);
    writeMeta(u"local_a.json"_qs, session("sess-a", 1, "Fix the login"), 60);

    startDetector();
    EXPECT_TRUE(sessionLoop("sess-a"));
    EXPECT_EQ(detector->sessionCount(), rootUser ? 2 : 1)
        << "the 10,000 old sessions are pruned; the locked one is readable only as root";

    // Changes still arrive (the pipe and the links are passed over).
    ::chmod(QFile::encodeName(folder + u"/locked"_qs).constData(), 0700);
    writeMeta(u"local_a.json"_qs, session("sess-a", 2, "Fix the login"));
    EXPECT_TRUE(waitUntil([&] { return !settling.isEmpty(); }));
}
