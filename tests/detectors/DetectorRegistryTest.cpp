#include "detectors/DetectorRegistry.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace {

// A detector whose behaviour the test scripts, recording what the registry does to it.
class ScriptedDetector final : public Detector {
public:
    ScriptedDetector(QString kind, QStringList& journal, QSet<QString> apps = {})
        : m_kind(std::move(kind))
        , m_journal(journal)
        , m_apps(std::move(apps)) {}
    QString kind() const override { return m_kind; }
    bool handles(const QString& bundleID) const override {
        return m_apps.isEmpty() || m_apps.contains(bundleID);
    }
    void observe(const FocusEvent& event, const std::optional<ContextRecord>& context,
                 const DetectorSignals&) override {
        m_journal.append(m_kind + u" observe "_qs + event.bundleID +
                         (context ? u" with loop"_qs : u""_qs));
        if (failObserve)
            throw DetectorError("observe broke");
    }
    void start(DetectorSignalsPtr signals, const DetectorEnvironment&) override {
        m_journal.append(m_kind + u" start"_qs);
        startedWith.append(signals);
        if (failStartAfter >= 0 && startedWith.size() > failStartAfter)
            throw DetectorError("start broke");
    }
    void stop() override { m_journal.append(m_kind + u" stop"_qs); }

    bool failObserve = false;
    qsizetype failStartAfter = -1; // fails once this many starts happened
    QList<DetectorSignalsPtr> startedWith;

private:
    QString m_kind;
    QStringList& m_journal;
    QSet<QString> m_apps;
};

FocusEvent gained(const char* bundleID) {
    return FocusEvent{FocusEvent::Kind::FocusGained, QString::fromLatin1(bundleID), {}, {}, {}};
}

class DetectorRegistryTest : public ::testing::Test {
protected:
    QStringList journal;
    QStringList madeFor;
    DetectorRegistry registry{[this](const QString& kind) {
                                  madeFor.append(kind);
                                  return DetectorSignals{};
                              },
                              DetectorEnvironment{}};

    ScriptedDetector* add(const char* kind, QSet<QString> apps = {},
                          qsizetype failStartAfter = -1) {
        auto detector =
            std::make_unique<ScriptedDetector>(QString::fromLatin1(kind), journal, std::move(apps));
        detector->failStartAfter = failStartAfter;
        ScriptedDetector* raw = detector.get();
        const bool kept = registry.registerDetector(std::move(detector)) != nullptr;
        return kept ? raw : nullptr;
    }
};

} // namespace

TEST_F(DetectorRegistryTest, ADetectorThatFailsToStartIsDisabledAndNeverCalledAgain) {
    add("browser", {u"com.google.Chrome"_qs});
    EXPECT_EQ(add("terminal", {}, 0), nullptr);
    EXPECT_EQ(registry.count(), 1);
    EXPECT_EQ(registry.disabled(), QSet<QString>{u"terminal"_qs});
    EXPECT_EQ(madeFor, (QStringList{u"browser"_qs, u"terminal"_qs}));
    journal.clear();
    registry.dispatch(gained("com.apple.Terminal"), std::nullopt);
    registry.pauseAll();
    registry.resumeAll();
    EXPECT_EQ(journal, (QStringList{u"browser stop"_qs, u"browser start"_qs}));
}

TEST_F(DetectorRegistryTest, EventsGoOnlyToDetectorsThatHandleTheApplication) {
    add("browser", {u"com.google.Chrome"_qs});
    add("watch");
    add("codex", {u"nothing.handled"_qs});
    journal.clear();
    ContextRecord loop;
    loop.id = u"L"_qs;
    registry.dispatch(gained("com.google.Chrome"), loop);
    registry.dispatch(gained("org.example.Other"), std::nullopt);
    EXPECT_EQ(journal, (QStringList{u"browser observe com.google.Chrome with loop"_qs,
                                    u"watch observe com.google.Chrome with loop"_qs,
                                    u"watch observe org.example.Other"_qs}));
}

TEST_F(DetectorRegistryTest, AFailingObserverIsDisabledWhileLaterOnesStillGetTheEvent) {
    ScriptedDetector* first = add("ax_chat");
    add("watch");
    first->failObserve = true;
    journal.clear();
    registry.dispatch(gained("com.openai.chat"), std::nullopt);
    registry.dispatch(gained("com.openai.chat"), std::nullopt);
    EXPECT_EQ(journal, (QStringList{u"ax_chat observe com.openai.chat"_qs,
                                    u"watch observe com.openai.chat"_qs,
                                    u"watch observe com.openai.chat"_qs}));
    EXPECT_TRUE(registry.disabled().contains(u"ax_chat"_qs));
    journal.clear();
    registry.pauseAll();
    registry.resumeAll();
    EXPECT_EQ(journal, (QStringList{u"ax_chat stop"_qs, u"watch stop"_qs, u"watch start"_qs}))
        << "stopped like everyone, never restarted";
}

TEST_F(DetectorRegistryTest, PauseAndResumeKeepOrderAndTheSameSignals) {
    ScriptedDetector* browser = add("browser");
    ScriptedDetector* watch = add("watch");
    ScriptedDetector* flaky = add("downloads", {}, 1); // starts once, fails on resume
    journal.clear();
    registry.pauseAll();
    registry.resumeAll();
    EXPECT_EQ(journal,
              (QStringList{u"browser stop"_qs, u"watch stop"_qs, u"downloads stop"_qs,
                           u"browser start"_qs, u"watch start"_qs, u"downloads start"_qs}));
    ASSERT_EQ(browser->startedWith.size(), 2);
    EXPECT_EQ(browser->startedWith[0], browser->startedWith[1]) << "the same signals object";
    EXPECT_NE(browser->startedWith[0], watch->startedWith[0]) << "each kind its own";
    EXPECT_TRUE(registry.disabled().contains(u"downloads"_qs));
    journal.clear();
    registry.resumeAll();
    EXPECT_EQ(journal, (QStringList{u"browser start"_qs, u"watch start"_qs}));
    Q_UNUSED(flaky);
}

TEST(DetectorRegistrySharedTest, OneSignalsValueCanServeEveryKind) {
    QStringList pendings;
    DetectorSignals shared;
    shared.pending = [&](const QString& id, const DetectorSignals::Detail&, TimePoint) {
        pendings.append(id);
    };
    DetectorRegistry registry(shared, DetectorEnvironment{});
    QStringList journal;
    auto detector = std::make_unique<ScriptedDetector>(u"watch"_qs, journal);
    ScriptedDetector* raw = detector.get();
    registry.registerDetector(std::move(detector));
    raw->startedWith.first()->pending(u"L1"_qs, std::nullopt, {});
    EXPECT_EQ(pendings, QStringList{u"L1"_qs});
}
