#include "detectors/ComposeDetector.h"
#include "detectors/DetectorFixture.h"
#include "detectors/GenericDetector.h"

namespace {

const QString kMail = u"com.apple.mail"_qs;

class ComposeDetectorTest : public DetectorFixture {
protected:
    ComposeDetectorTest() {
        registry.registerDetector(
            std::make_unique<ComposeDetector>(ComposeDetector::resolvedBundleIDs(settings)));
    }
    void event(FocusEvent::Kind kind, double seconds, std::optional<QString> title,
               const QString& bundleID = kMail) {
        clock = at(seconds);
        registry.dispatch(FocusEvent{kind, bundleID, {}, std::move(title), clock}, std::nullopt);
    }
    QStringList composeLoops() {
        QStringList labels;
        for (const ContextRecord& loop : store->openContexts())
            labels.append(loop.label.value_or(QString()) + u' ' +
                          ContextStates::rawValue(loop.state));
        labels.sort();
        return labels;
    }
};

} // namespace

TEST(ComposeWindowTitles, RepliesNewMessagesAndDraftsAreComposeWindows) {
    for (const char* title :
         {"Re: budget", "RE : budget", "Fwd: slides", "AW: Termin", "antw: vraag", "New Message",
          "  Untitled\n", "Neue Nachricht", "My Draft notes", "Brouillon du rapport", "No Subject"})
        EXPECT_TRUE(ComposeDetector::isComposeWindow(QString::fromUtf8(title))) << title;
    for (const char* title :
         {"Inbox", "", "   ", "Reply all settings", "Untitled notes", "Refund request"})
        EXPECT_FALSE(ComposeDetector::isComposeWindow(QString::fromUtf8(title))) << title;
}

TEST_F(ComposeDetectorTest, AComposeWindowIsReportedOncePerTitle) {
    settings.setStringList(u"settings.composeBundleIDs"_qs, {u"org.gnome.Evolution"_qs});
    const QSet<QString> ids = ComposeDetector::resolvedBundleIDs(settings);
    EXPECT_TRUE(ids.contains(u"org.gnome.Evolution"_qs) && ids.contains(kMail) &&
                ids.contains(u"com.microsoft.Outlook"_qs));

    event(FocusEvent::Kind::FocusGained, 10, u"Re: budget"_qs);
    event(FocusEvent::Kind::FocusGained, 20, u"Re: budget"_qs);
    const ContextRecord loop = onlyLoop(kMail);
    EXPECT_EQ(signalsOf(loop.id), QStringList{u"compose pending compose:email @10"_qs})
        << "the same title twice in a row: one report";
    EXPECT_EQ(loop.state, ContextState::Waiting);

    // Away to the inbox and back: the draft is reported again.
    event(FocusEvent::Kind::WindowTitleChanged, 30, u"Inbox"_qs);
    event(FocusEvent::Kind::WindowTitleChanged, 40, u"Re: budget"_qs);
    EXPECT_EQ(signalsOf(loop.id).size(), 2);
    // Quitting forgets the title too; focus lost and launches change nothing.
    event(FocusEvent::Kind::AppTerminated, 50, std::nullopt);
    event(FocusEvent::Kind::FocusLost, 60, u"Re: budget"_qs);
    event(FocusEvent::Kind::AppLaunched, 61, u"Re: budget"_qs);
    event(FocusEvent::Kind::FocusGained, 70, u"Inbox"_qs);
    event(FocusEvent::Kind::FocusGained, 71, u"Notes"_qs, u"com.example.Notes"_qs);
    EXPECT_EQ(count(u"SELECT count(*) FROM detector_state"_qs), 2) << "not for other apps";
}

TEST(GenericDetector, EngagementNeedsTheWholeThreshold) {
    GenericDetector detector(30);
    const DetectorSignals none;
    ContextRecord loop;
    loop.id = u"L1"_qs;
    const auto send = [&](FocusEvent::Kind kind, double seconds,
                          const std::optional<ContextRecord>& context) {
        detector.observe(FocusEvent{kind,
                                    u"com.example.App"_qs,
                                    {},
                                    {},
                                    fromMillis(static_cast<qint64>(seconds * 1000))},
                         context, none);
    };
    EXPECT_TRUE(detector.handles(u"anything"_qs));
    send(FocusEvent::Kind::FocusGained, 0, loop);
    send(FocusEvent::Kind::FocusLost, 29.9, loop);
    EXPECT_FALSE(detector.isEngaged(loop.id));
    send(FocusEvent::Kind::FocusGained, 100, loop);
    send(FocusEvent::Kind::FocusLost, 130, std::nullopt); // without a loop: ignored
    send(FocusEvent::Kind::FocusLost, 130, loop);
    EXPECT_TRUE(detector.isEngaged(loop.id));
    send(FocusEvent::Kind::AppTerminated, 140, loop);
    EXPECT_FALSE(detector.isEngaged(loop.id));
    send(FocusEvent::Kind::FocusLost, 200, loop); // no start: nothing
    EXPECT_FALSE(detector.isEngaged(loop.id));
}
