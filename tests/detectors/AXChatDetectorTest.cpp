#include "detectors/AXChatDetector.h"
#include "detectors/DetectorFixture.h"

namespace {

const QString kClaude = u"com.anthropic.claudefordesktop"_qs;
const QString kOther = u"org.example.Editor"_qs;

// An observer that hands its events to the test.
struct FakeObserver final : Accessibility::Observer {
    explicit FakeObserver(std::function<void()> changed)
        : changed(std::move(changed)) {}
    bool addNotification(const AXElement&, const QString&) override { return true; }
    std::function<void()> changed;
};

class AXChatDetectorTest : public DetectorFixture {
protected:
    AXChatDetector::Controls controls;
    bool trusted = true;
    int reads = 0;
    FakeObserver* observer = nullptr;
    QStringList pressed;
    QList<std::pair<QString, std::optional<RemoteApproval::Pending>>> pendingChanges;
    AXChatDetector* detector = nullptr;

    void SetUp() override {
        AXChatDetector::Dependencies dependencies;
        dependencies.runningPID = [](const QString& id) -> std::optional<qint64> {
            return id == kClaude ? std::optional<qint64>(4242) : std::nullopt;
        };
        dependencies.trusted = [this] { return trusted; };
        dependencies.readControls =
            [this](qint64, std::function<void(const AXChatDetector::Controls&)> deliver) {
                ++reads;
                deliver(controls);
            };
        dependencies.observe = [this](qint64, std::function<void()> changed) {
            auto made = std::make_unique<FakeObserver>(std::move(changed));
            observer = made.get();
            return std::unique_ptr<Accessibility::Observer>(std::move(made));
        };
        dependencies.press = [this](qint64, const std::function<bool(const QString&)>& choose) {
            for (const QString& label : controls.labels) {
                if (choose(label)) {
                    pressed.append(label);
                    return true;
                }
            }
            return false;
        };
        dependencies.now = [this] { return clock; };
        settings.setStringList(u"settings.aiGeneratingLabels"_qs, {u"Cancel Reply"_qs});
        auto made = std::make_unique<AXChatDetector>(AXChatDetector::resolvedBundleIDs(settings),
                                                     AXChatDetector::resolvedPatterns(settings),
                                                     settings, std::move(dependencies));
        detector = made.get();
        detector->onPendingChange = [this](const QString& id,
                                           const std::optional<RemoteApproval::Pending>& pending) {
            pendingChanges.append({id, pending});
        };
        registry.registerDetector(std::move(made));
    }
    void event(FocusEvent::Kind kind, const QString& bundleID,
               const std::optional<ContextRecord>& context = std::nullopt) {
        registry.dispatch(FocusEvent{kind, bundleID, u"Claude"_qs, std::nullopt, clock}, context);
    }
    // The chat's controls change; the detector reads them once, after its debounce.
    void chatShows(const QStringList& labels) {
        controls.labels = labels;
        const int before = reads;
        observer->changed();
        observer->changed(); // a burst
        EXPECT_TRUE(waitFor([&] { return reads > before; }));
        runEventLoopFor(AXChatDetector::kDebounceMs + 100);
        EXPECT_EQ(reads, before + 1) << "one reading per burst";
    }
    std::optional<QString> loopOf(const QString& bundleID) {
        const std::optional<ContextRecord> loop = store->openContext(bundleID);
        return loop ? std::optional(loop->id) : std::nullopt;
    }
};

} // namespace

TEST_F(AXChatDetectorTest, AnAnswerStreamingWhileTheUserIsElsewhereBecomesReady) {
    controls.fields = {{u"Plan the release notes for 2.0"_qs, true, true}};
    event(FocusEvent::Kind::FocusGained, kClaude);
    const std::optional<QString> loop = loopOf(kClaude);
    ASSERT_TRUE(loop) << "claimed under the application's name";
    EXPECT_EQ(store->context(*loop)->label, u"Claude"_qs);
    ASSERT_TRUE(observer) << "armed";

    event(FocusEvent::Kind::FocusLost, kClaude);
    chatShows({u"Copy"_qs, u"CANCEL REPLY now"_qs}); // a user pattern, any case
    chatShows({u"Copy"_qs, u"Retry"_qs});
    EXPECT_EQ(signalsOf(*loop), (QStringList{u"ax_chat pending ai_chat_generating @0"_qs,
                                             u"ax_chat ready ai_chat_response_complete @0"_qs}));
    EXPECT_EQ(store->context(*loop)->state, ContextState::Ready);

    // The next focus reuses the remembered loop; a quit forgets it.
    event(FocusEvent::Kind::FocusGained, kClaude);
    EXPECT_EQ(loopOf(kClaude), loop);
    event(FocusEvent::Kind::AppTerminated, kClaude);
    ASSERT_FALSE(pendingChanges.isEmpty());
    EXPECT_EQ(pendingChanges.constLast().first, *loop);
    EXPECT_FALSE(pendingChanges.constLast().second) << "its prompt is gone with it";
}

TEST_F(AXChatDetectorTest, ApprovalPromptsAreReportedOnlyWhenOnAndAnsweredWithTheChatsButtons) {
    event(FocusEvent::Kind::FocusGained, kClaude);
    const QString loop = *loopOf(kClaude);
    event(FocusEvent::Kind::FocusLost, kClaude);
    chatShows({u"Allow once"_qs, u"Always allow"_qs, u"Deny"_qs});
    EXPECT_TRUE(pendingChanges.isEmpty()) << "remote approval is off by default";
    EXPECT_FALSE(detector->respond(RemoteApproval::Kind::Approve, kClaude));
    EXPECT_TRUE(pressed.isEmpty());

    settings.setBool(u"settings.remoteApprove"_qs, true);
    chatShows({u"Allow once"_qs, u"Always allow"_qs, u"Deny"_qs});
    ASSERT_EQ(pendingChanges.size(), 1);
    EXPECT_EQ(pendingChanges[0].first, loop);
    EXPECT_EQ(pendingChanges[0].second, (RemoteApproval::Pending{true, true, {}}));
    chatShows({u"Always allow"_qs, u"Deny"_qs});
    EXPECT_FALSE(pendingChanges.constLast().second) << "only an escalating approval";

    controls.labels = {u"Always allow"_qs, u"Allow once"_qs, u"Deny"_qs, u"Edit"_qs, u"Skip"_qs};
    EXPECT_TRUE(detector->respond(RemoteApproval::Kind::Approve, kClaude));
    EXPECT_TRUE(detector->respond(RemoteApproval::Kind::Deny, kClaude));
    EXPECT_TRUE(detector->respond(RemoteApproval::Option{1}, kClaude));
    EXPECT_EQ(pressed, (QStringList{u"Allow once"_qs, u"Deny"_qs, u"Skip"_qs}))
        << "never the escalating one; the second neutral option";
    trusted = false;
    EXPECT_FALSE(detector->respond(RemoteApproval::Kind::Approve, kClaude));
}

TEST_F(AXChatDetectorTest, GenerationsAlreadyRunningAreAdoptedAndNothingWithoutALoopOrTrust) {
    controls.labels = {u"Stop generating"_qs};
    registry.pauseAll();
    registry.resumeAll(); // start adopts what streams while the chat is not in front
    const std::optional<QString> adopted = loopOf(kClaude);
    ASSERT_TRUE(adopted);
    EXPECT_EQ(signalsOf(*adopted), QStringList{u"ax_chat pending ai_chat_generating @0"_qs});
    ASSERT_TRUE(observer) << "and followed";
    chatShows({});
    EXPECT_EQ(signalsOf(*adopted).size(), 2) << "then ready";

    trusted = false;
    const int before = reads;
    event(FocusEvent::Kind::FocusGained, kClaude);
    EXPECT_EQ(reads, before);
    EXPECT_EQ(signalsOf(*adopted).size(), 2) << "without the switch nothing is read";
    EXPECT_FALSE(detector->handles(kOther));
    settings.setStringList(u"settings.axChatBundleIDs"_qs, {kOther});
    EXPECT_TRUE(AXChatDetector::resolvedBundleIDs(settings).contains(kOther));
    EXPECT_EQ(AXChatDetector::chooseComposer({{u"a"_qs, false, true}, {u"b"_qs, true, false}}),
              u"b"_qs)
        << "an editable field before a merely focused one";
}
