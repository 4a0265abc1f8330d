#include "Wait.h"
#include "app/ModelHarness.h"
#include "app/SummaryService.h"
#include "model/TopicSnippet.h"
#include "platform/fake/FakeLanguageModel.h"

namespace {

// Hands the test the signals the application gives its detectors.
class SignalsProbe final : public Detector {
public:
    explicit SignalsProbe(DetectorSignalsPtr* out)
        : m_out(out) {}
    QString kind() const override { return u"claude_code"_qs; }
    bool handles(const QString&) const override { return false; }
    void observe(const FocusEvent&, const std::optional<ContextRecord>&,
                 const DetectorSignals&) override {}
    void start(DetectorSignalsPtr signals, const DetectorEnvironment&) override {
        *m_out = std::move(signals);
    }

private:
    DetectorSignalsPtr* m_out;
};

class TopicSummariesTest : public ::testing::Test, public ModelHarness {
protected:
    DetectorSignalsPtr signals;

    TopicSummariesTest() {
        makeDetectors = [this] {
            std::vector<std::unique_ptr<Detector>> detectors;
            detectors.push_back(std::make_unique<SignalsProbe>(&signals));
            return detectors;
        };
        settings.setInteger(u"settings.engagementSeconds"_qs, 0);
    }
    QString loopOf(AppModel& model) {
        launch(10, "com.anthropic.claudefordesktop", "Claude");
        workspace.activate(10);
        return model.store()->openContext(u"com.anthropic.claudefordesktop"_qs)->id;
    }
    std::optional<QString> topic(AppModel& model, const QString& id) {
        return model.store()->context(id)->topic;
    }
};

const QString kConversation = u"User:  Why does the nightly   sync time out?\nAssistant: …"_qs;

} // namespace

TEST(SummaryServiceTest, ModelAnswersBecomeOneShortLine) {
    const std::pair<QString, std::optional<QString>> cases[] = {
        {u"\u201CRefactoring The Sync Engine.\u201D"_qs, u"Refactoring The Sync Engine"_qs},
        {u"  \"Fix The Flaky Test\"\n"_qs, u"Fix The Flaky Test"_qs},
        {u"<think>\nThe user asks about builds.\n</think>\n\nDebug The Build Pipeline"_qs,
         u"Debug The Build Pipeline"_qs},
        {u"<think>still thinking when the answer ended"_qs, std::nullopt},
        {u"'...'"_qs, std::nullopt},
        {u"Title Line\nSecond Line"_qs, u"Title Line Second Line"_qs},
        {QString(100, u'W'), QString(64, u'W')},
    };
    for (const auto& [answer, expected] : cases)
        EXPECT_EQ(SummaryService::cleanedAnswer(answer), expected) << answer.toStdString();
}

TEST(SummaryServiceTest, WithoutAModelTheTopicIsTheFirstLineAndAnEmptyTextHasNone) {
    const SummaryService::Topic topic = SummaryService::topicLine(kConversation, nullptr);
    EXPECT_EQ(topic.text, TopicSnippet::firstLine(kConversation, 64));
    EXPECT_EQ(topic.text, u"Why does the nightly sync time out?"_qs);
    EXPECT_FALSE(topic.fromModel);
    EXPECT_EQ(SummaryService::topicLine(u" \n\t "_qs, nullptr).text, std::nullopt);

    FakeLanguageModel model;
    model.setAnswer({std::nullopt, u"no answer within 20 s"_qs});
    const SummaryService::Topic failed = SummaryService::topicLine(kConversation, &model);
    EXPECT_EQ(failed.text, u"Why does the nightly sync time out?"_qs);
    EXPECT_EQ(failed.whyNotFromModel, u"no answer within 20 s"_qs);
    model.setAnswer({u"<think>hm</think>"_qs, {}});
    EXPECT_EQ(SummaryService::topicLine(kConversation, &model).text,
              u"Why does the nightly sync time out?"_qs)
        << "an answer without words";
}

TEST(SummaryServiceTest, TheModelReadsTheLastSixThousandCharacters) {
    FakeLanguageModel model;
    model.setAnswer({u"Long Talk"_qs, {}});
    // Each smiley is one character in two UTF-16 units: the cut counts characters.
    QString tail;
    for (int i = 0; i < 6000; ++i)
        tail += u"\U0001F642"_qs;
    const QString text = u"\n  First question\n"_qs + QString(4000, u'x') + tail + u"\n\n"_qs;
    const SummaryService::Topic topic = SummaryService::topicLine(text, &model);
    EXPECT_EQ(topic.text, u"Long Talk"_qs);
    EXPECT_TRUE(topic.fromModel);
    ASSERT_EQ(model.prompts().size(), 1);
    EXPECT_EQ(model.prompts().first(), u"Conversation:\n"_qs + tail);
}

TEST_F(TopicSummariesTest, APromptGetsItsLineAtOnceAndTheModelsTopicLater) {
    settings.setBool(u"settings.smartSummaries"_qs, true);
    fakeLanguageModel.setAnswer({u"\u201CNightly Sync Timeouts.\u201D"_qs, {}});
    languageModel = &fakeLanguageModel;
    auto model = makeModel();
    ASSERT_TRUE(signals);
    EXPECT_TRUE(waitFor([&] { return fakeLanguageModel.looks() == 1; })) << "looked for at launch";
    const QString id = loopOf(*model);

    signals->summarize(id, kConversation);
    EXPECT_EQ(model->store()->context(id)->promptLine, u"Why does the nightly sync time out?"_qs);
    EXPECT_TRUE(waitFor([&] { return topic(*model, id).has_value(); }));
    EXPECT_EQ(topic(*model, id), u"Nightly Sync Timeouts"_qs);
    EXPECT_EQ(fakeLanguageModel.prompts(),
              QStringList{SummaryService::prompt(kConversation.trimmed())});
    EXPECT_EQ(model->topicSummarizer()->availability()->model, u"fake-model"_qs);

    // A model that fails leaves the first line; switched off, nothing is asked or kept.
    fakeLanguageModel.setAnswer({std::nullopt, u"the server answered HTTP 500"_qs});
    signals->summarize(id, u"assistant: ok\nuser: Now add an index"_qs);
    EXPECT_TRUE(waitFor([&] { return topic(*model, id) == u"ok"_qs; }));
    settings.setBool(u"settings.smartSummaries"_qs, false);
    signals->summarize(id, u"Something else"_qs);
    runEventLoopFor(100);
    EXPECT_EQ(fakeLanguageModel.prompts().size(), 2);
    EXPECT_EQ(topic(*model, id), u"ok"_qs);
}

TEST_F(TopicSummariesTest, ALoopAskedAgainWhileWaitingKeepsOnlyItsNewestText) {
    settings.setBool(u"settings.smartSummaries"_qs, true);
    fakeLanguageModel.setAnswer({u"Some Topic"_qs, {}});
    fakeLanguageModel.hold();
    languageModel = &fakeLanguageModel;
    auto model = makeModel();
    const QString id = loopOf(*model);
    launch(20, "com.openai.chat", "ChatGPT");
    workspace.activate(20);
    const QString other = model->store()->openContext(u"com.openai.chat"_qs)->id;

    signals->summarize(other, u"first"_qs);
    ASSERT_TRUE(waitFor([&] { return fakeLanguageModel.prompts().size() == 1; }));
    signals->summarize(id, u"second"_qs);
    signals->summarize(id, u"third"_qs);
    fakeLanguageModel.release();
    EXPECT_TRUE(waitFor([&] { return topic(*model, id).has_value(); }));
    EXPECT_EQ(fakeLanguageModel.prompts(), (QStringList{SummaryService::prompt(u"first"_qs),
                                                        SummaryService::prompt(u"third"_qs)}));
    EXPECT_EQ(topic(*model, other), u"Some Topic"_qs);

    // Closing while the model is still working does not wait for it.
    fakeLanguageModel.hold();
    signals->summarize(id, u"fourth"_qs);
    ASSERT_TRUE(waitFor([&] { return fakeLanguageModel.prompts().size() == 3; }));
    model.reset();
}

TEST_F(TopicSummariesTest, TooManyWaitingLoopsGetTheirFirstLineAtOnce) {
    settings.setBool(u"settings.smartSummaries"_qs, true);
    fakeLanguageModel.setAnswer({u"Model Topic"_qs, {}});
    fakeLanguageModel.hold();
    languageModel = &fakeLanguageModel;
    auto model = makeModel();
    QStringList ids;
    for (int i = 0; i < int(TopicSummarizer::kMaxWaiting) + 2; ++i) {
        const QString bundle = u"com.example.Chat%1"_qs.arg(i);
        launch(100 + i, qPrintable(bundle), "Chat");
        workspace.activate(100 + i);
        ids.append(model->store()->openContext(bundle)->id);
    }
    signals->summarize(ids[0], u"busy"_qs);
    ASSERT_TRUE(waitFor([&] { return fakeLanguageModel.prompts().size() == 1; }));
    for (int i = 1; i < ids.size(); ++i)
        signals->summarize(ids[i], u"Question %1"_qs.arg(i));
    EXPECT_EQ(topic(*model, ids[1]), u"Question 1"_qs) << "the oldest waiting one";
    EXPECT_EQ(topic(*model, ids[2]), std::nullopt);
    fakeLanguageModel.release();
    EXPECT_TRUE(waitFor([&] { return topic(*model, ids.last()).has_value(); }));
    EXPECT_EQ(topic(*model, ids[2]), u"Model Topic"_qs);
    EXPECT_EQ(topic(*model, ids[1]), u"Question 1"_qs);
}
