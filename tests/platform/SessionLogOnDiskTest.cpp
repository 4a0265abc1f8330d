// The session-log detector with the real inotify watcher on real files.
#include "core/StateMachineFixture.h"
#include "detectors/DetectorRegistry.h"
#include "detectors/DetectorSignalBinding.h"
#include "detectors/SessionLogDetector.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryUserDefaults.h"
#include "platform/linux/InotifyDirectoryWatcher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace {

class SessionLogOnDiskTest : public StateMachineFixture {
protected:
    QTemporaryDir home;
    InotifyDirectoryWatcher watcher;
    MemoryUserDefaults settings;
    FakeWorkspace workspace;
    std::shared_ptr<StateMachine> shared = std::make_shared<StateMachine>(
        *store, StateMachineConfiguration{}, &timer, [this] { return clock; });
    DetectorRegistry registry{[this](const QString& kind) {
                                  return DetectorSignalBinding::signalsFor(kind, shared, *store,
                                                                           settings);
                              },
                              DetectorSignalBinding::environment(*store, workspace)};

    void append(const QString& path, const QByteArray& line) {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Append));
        file.write(line + '\n');
    }
    std::optional<ContextRecord> waitForState(const QString& bundleID, ContextState state) {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 5000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            const auto loop = store->openContext(bundleID);
            if (loop && loop->state == state)
                return loop;
        }
        return std::nullopt;
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
