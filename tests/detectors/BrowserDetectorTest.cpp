#include "detectors/BrowserDetector.h"
#include "model/TitleKey.h"
#include "detectors/DetectorFixture.h"
#include "platform/fake/FakeMessagePort.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString kChrome = u"com.google.Chrome"_qs;
const QString kFirefox = u"org.mozilla.firefox"_qs;
const QString kHost = u"app.kestrune.host.4242"_qs;

class BrowserDetectorTest : public DetectorFixture {
protected:
    FakeMessagePort port;
    BrowserDetector* detector = nullptr;
    // Watchdogs armed by the detector: their fire actions, and how many were cancelled.
    QList<std::function<void()>> watchdogs;
    int cancelled = 0;

    BrowserDetectorTest() {
        settings.setBool(u"settings.smartSummaries"_qs, true);
        BrowserDetector::Options options;
        options.isURLReceiptsEnabled = BrowserDetector::urlReceiptsSetting(settings);
        options.makeWatchdog = [this](std::function<void()> fire) -> std::function<void()> {
            watchdogs.append(std::move(fire));
            return [this] { ++cancelled; };
        };
        options.now = [this] { return clock; };
        auto made = std::make_unique<BrowserDetector>(port, std::move(options));
        detector = made.get();
        registry.registerDetector(std::move(made));
    }
    QString browserLoop(const QString& bundleID, const char* title, ContextState state) {
        const auto id = store->createContext(bundleID, QString::fromUtf8(title),
                                             TitleKey::normalize(QString::fromUtf8(title)), false,
                                             std::nullopt, clock);
        if (state != ContextState::Active)
            store->transitionContext(*id, state, u"test"_qs, clock);
        return *id;
    }
    // A payload as the native host forwards it, through the receipt port.
    void deliver(const QJsonObject& payload) {
        port.send(u"app.kestrune.tabctx"_qs, QJsonDocument(payload).toJson());
    }
    void signal(const char* event, std::optional<QString> title, QJsonObject extra = {}) {
        extra.insert(u"kind"_qs, u"ai_signal"_qs);
        extra.insert(u"site"_qs, u"chatgpt"_qs);
        extra.insert(u"event"_qs, QString::fromLatin1(event));
        if (title)
            extra.insert(u"title"_qs, *title);
        deliver(extra);
    }
    qint64 documentRefs(const QString& id) {
        return count(u"SELECT count(*) FROM context c JOIN document_ref d ON "
                     "d.id = c.document_ref_id WHERE c.id = '"_qs +
                     id + u'\'');
    }
    qint64 openTabActions(const QString& id) {
        return count(u"SELECT count(*) FROM return_action WHERE label = 'Open tab' AND "
                     "context_id = '"_qs +
                     id + u'\'');
    }
};

} // namespace

TEST_F(BrowserDetectorTest, AGenerationStartsOnTheLoopOfItsTitleAndArmsOneWatchdog) {
    EXPECT_TRUE(detector->hasReceiptPort());
    const QString other = browserLoop(kChrome, "Inbox", ContextState::Backgrounded);
    const QString chat = browserLoop(kChrome, "ChatGPT - Plan a trip", ContextState::Backgrounded);
    signal("generation_started", u"ChatGPT - Plan a trip"_qs);
    EXPECT_EQ(signalsOf(chat), QStringList{u"browser pending generation_started:chatgpt @0"_qs});
    EXPECT_TRUE(signalsOf(other).isEmpty());
    EXPECT_TRUE(detector->hasWatchdog(chat));
    signal("generation_started", u"ChatGPT - Plan a trip"_qs);
    EXPECT_EQ(watchdogs.size(), 2);
    EXPECT_EQ(cancelled, 1) << "the second generation replaces the watchdog";

    // The completion cancels it; the late watchdog then does nothing.
    clock = at(60);
    signal("response_complete", u"ChatGPT - Plan a trip"_qs, {{u"prompt"_qs, u""_qs}});
    EXPECT_EQ(signalsOf(chat).last(), u"browser ready response_complete:chatgpt @60"_qs);
    EXPECT_EQ(cancelled, 2);
    EXPECT_FALSE(detector->hasWatchdog(chat));
    watchdogs.last()();
    EXPECT_EQ(signalsOf(chat).size(), 3);
    EXPECT_EQ(store->context(chat)->promptLine, std::nullopt) << "an empty prompt: no summary";
}

TEST_F(BrowserDetectorTest, AStuckGenerationIsResolvedByItsWatchdog) {
    const QString chat = browserLoop(kChrome, "Claude", ContextState::Backgrounded);
    deliver({{u"kind"_qs, u"ai_signal"_qs},
             {u"site"_qs, u"claude"_qs},
             {u"event"_qs, u"generation_started"_qs},
             {u"title"_qs, u"Claude"_qs}});
    clock = at(480);
    watchdogs.last()();
    EXPECT_EQ(signalsOf(chat).last(), u"browser ready response_complete:claude @480"_qs)
        << "the same signal a real completion gives";
    EXPECT_FALSE(detector->hasWatchdog(chat));
}

TEST_F(BrowserDetectorTest, GenerationsWithoutAMatchingTitle) {
    signal("generation_started", std::nullopt);
    EXPECT_EQ(count(u"SELECT count(*) FROM context"_qs), 0) << "no active browser loop";

    const QString active = browserLoop(kFirefox, "Docs", ContextState::Active);
    signal("generation_started", std::nullopt);
    EXPECT_EQ(signalsOf(active).size(), 1) << "untitled: the active browser loop";

    // A new title while Chrome is in front: a loop is claimed for Chrome and that title.
    workspace.launch(RunningApplication{kChrome, {}, 9, true});
    workspace.activate(9);
    signal("generation_started", u"Gemini - Poems"_qs);
    const auto claimed = store->openContext(kChrome);
    ASSERT_TRUE(claimed);
    EXPECT_EQ(claimed->label, u"Gemini - Poems"_qs);
    EXPECT_EQ(signalsOf(claimed->id).size(), 1);
}

TEST_F(BrowserDetectorTest, CompletionsFallBackToWaitingThenToAnyInactiveLoop) {
    const QString active = browserLoop(kChrome, "A", ContextState::Active);
    signal("response_complete", std::nullopt);
    EXPECT_TRUE(signalsOf(active).isEmpty()) << "only active loops: nothing";

    const QString backgrounded = browserLoop(kChrome, "B", ContextState::Backgrounded);
    const QString waiting = browserLoop(kFirefox, "C", ContextState::Waiting);
    signal("response_complete", std::nullopt, {{u"prompt"_qs, u"Summarise the report"_qs}});
    EXPECT_EQ(signalsOf(waiting).size(), 1);
    EXPECT_EQ(store->context(waiting)->promptLine, u"Summarise the report"_qs);
    signal("response_complete", std::nullopt);
    EXPECT_EQ(signalsOf(backgrounded).size(), 1) << "then the first loop that is not active";
}

TEST_F(BrowserDetectorTest, ReceiptsFollowTheSettingButRoutesAndIconsDoNot) {
    const QString chat = browserLoop(kChrome, "ChatGPT", ContextState::Backgrounded);
    const QJsonObject tab{{u"url"_qs, u"https://chatgpt.com/c/1"_qs},
                          {u"favicon"_qs, u"data:image/png;base64,AAAA"_qs},
                          {u"tabId"_qs, 7},
                          {u"hostPort"_qs, kHost}};
    signal("generation_started", u"ChatGPT"_qs, tab);
    EXPECT_EQ(documentRefs(chat), 0);
    EXPECT_EQ(openTabActions(chat), 0);
    EXPECT_EQ(store->context(chat)->favicon, u"data:image/png;base64,AAAA"_qs);
    deliver({{u"url"_qs, u"https://chatgpt.com/c/1"_qs}, {u"title"_qs, u"ChatGPT"_qs}});
    EXPECT_EQ(documentRefs(chat), 0) << "tab contexts are ignored entirely";
    const auto host = port.listen(kHost, [](const QByteArray&) {});
    ASSERT_TRUE(detector->focusTab(chat, std::nullopt)) << "the route was kept";
    EXPECT_EQ(QJsonDocument::fromJson(port.sent.last().second).object(),
              (QJsonObject{{u"action"_qs, u"focus_tab"_qs}, {u"tabId"_qs, 7}}));

    settings.setBool(u"settings.urlReceipts"_qs, true);
    signal("response_complete", u"ChatGPT"_qs, tab);
    EXPECT_EQ(documentRefs(chat), 1);
    EXPECT_EQ(openTabActions(chat), 1);
    // A payload without "kind" is a tab context: its address is redacted first.
    const QString docs = browserLoop(kFirefox, "Docs", ContextState::Active);
    deliver({{u"url"_qs, u"https://docs.example/a?token=secret#x"_qs},
             {u"title"_qs, u"Docs"_qs},
             {u"tabId"_qs, u"3"_qs},
             {u"hostPort"_qs, u"app.kestrune.host.5"_qs}});
    EXPECT_EQ(documentRefs(docs), 1);
    EXPECT_EQ(count(u"SELECT count(*) FROM document_ref WHERE locator LIKE '%secret%'"_qs), 0);
    EXPECT_EQ(detector->lastHostPort(), u"app.kestrune.host.5"_qs);
    EXPECT_FALSE(detector->focusTab(docs, std::nullopt))
        << "a tab id given as text is no id: no route, and no url to send";
}

TEST_F(BrowserDetectorTest, FocusTabAnswersTrueOnlyWhenATabCanBeBroughtBack) {
    int focused = 0;
    QJsonObject request;
    auto host = port.listen(kHost, [&](const QByteArray& payload) {
        ++focused;
        request = QJsonDocument::fromJson(payload).object();
    });
    // A host is known, but no tab of this loop: the host drops a request without a tab id.
    deliver({{u"hostPort"_qs, kHost}, {u"tabId"_qs, 7.5}});
    EXPECT_FALSE(detector->focusTab(u"L1"_qs, u"https://a.example/"_qs));
    EXPECT_EQ(focused, 0) << "nothing sent that nothing would act on";

    const QString chat = browserLoop(kChrome, "ChatGPT", ContextState::Active);
    signal("generation_started", u"ChatGPT"_qs,
           {{u"url"_qs, u"https://chatgpt.com/c/1"_qs}, {u"tabId"_qs, 7}, {u"hostPort"_qs, kHost}});
    EXPECT_TRUE(detector->focusTab(chat, u"https://chatgpt.com/c/1"_qs));
    EXPECT_EQ(request, (QJsonObject{{u"action"_qs, u"focus_tab"_qs},
                                    {u"tabId"_qs, 7},
                                    {u"url"_qs, u"https://chatgpt.com/c/1"_qs}}));
    host.reset();
    EXPECT_FALSE(detector->focusTab(chat, std::nullopt)) << "the host has ended";
    EXPECT_EQ(focused, 1);
}

TEST_F(BrowserDetectorTest, MalformedPayloadsAreIgnored) {
    const QString chat = browserLoop(kChrome, "ChatGPT", ContextState::Backgrounded);
    for (const QByteArray& payload :
         {QByteArray(), QByteArray("not json"), QByteArray("[1]"),
          QByteArray(R"({"kind":"ai_signal","site":"chatgpt","event":"typing","title":"ChatGPT"})"),
          QByteArray(R"({"kind":"ai_signal","event":"generation_started","title":"ChatGPT"})")})
        port.send(u"app.kestrune.tabctx"_qs, payload);
    EXPECT_TRUE(signalsOf(chat).isEmpty());
}

TEST(BrowserDetectorPort, ATakenReceiptPortLeavesTheDetectorRegisteredButDeaf) {
    FakeMessagePort port;
    port.refuseListening = true;
    BrowserDetector detector(port, {});
    detector.start(std::make_shared<DetectorSignals>(), DetectorEnvironment{});
    EXPECT_FALSE(detector.hasReceiptPort());
    BrowserDetector::Options quiet;
    quiet.createsReceiptPort = false;
    FakeMessagePort other;
    BrowserDetector silent(other, quiet);
    silent.start(std::make_shared<DetectorSignals>(), DetectorEnvironment{});
    EXPECT_FALSE(silent.hasReceiptPort());
}
