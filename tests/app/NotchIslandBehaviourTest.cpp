#include "Wait.h"
#include "app/ModelHarness.h"
#include "app/NotchIsland.h"
#include "app/SampleLoops.h"

namespace {

// A panel on one 1280×800 screen under a 30 px panel, recording what it was asked.
class RecordingPanel final : public IslandPanel {
public:
    void place(const QRectF& placed, bool wasAnimated, bool withShadow) override {
        frame = placed;
        animated = wasAnimated;
        shadow = withShadow;
        shown = true;
    }
    void hide() override { shown = false; }
    bool isShown() const override { return shown; }
    std::optional<NotchGeometry::Metrics> screen(bool) override {
        return NotchGeometry::Metrics{QRectF(0, 0, 1280, 800), 0, std::nullopt, 30};
    }
    QRectF frame;
    bool animated = false;
    bool shadow = false;
    bool shown = false;
};

class NotchIslandBehaviourTest : public ::testing::Test, public ModelHarness {
protected:
    RecordingPanel panel;
    std::unique_ptr<AppModel> model;

    // Retention purges by the real clock: the loops must be recent.
    NotchIslandBehaviourTest() {
        clock = std::chrono::system_clock::now();
        model = makeModel();
    }

    QString add(ContextState state) {
        SampleLoops::Loop loop;
        loop.bundleID = u"org.example.Build"_qs;
        loop.name = u"Build"_qs;
        loop.title = u"make"_qs;
        loop.state = state;
        loop.at = clock;
        loop.note = u"release"_qs;
        const auto id = SampleLoops::add(*model->store(), loop);
        // The live list delivers every write in order; its note is the last.
        EXPECT_TRUE(waitFor([&] {
            const GroupedLoops& shown = model->loops();
            return std::any_of(shown.backgrounded.begin(), shown.backgrounded.end(),
                               [&](const ContextRecord& record) {
                                   return record.id == id && record.note.has_value();
                               });
        }));
        return id.value_or(QString());
    }
};

} // namespace

TEST_F(NotchIslandBehaviourTest, ShownOnlyWithSomethingReadyOrWorkingOnTheNotchSurface) {
    settings.setString(NotchIsland::kPeekedBuildKey, u"1"_qs);
    NotchIsland island(*model, settings, panel, u"1"_qs, [this] { return clock; });
    island.update(false);
    EXPECT_FALSE(panel.shown) << "nothing to show";

    launch(10, "org.example.Build", "make"); // running: resuming keeps its loop
    add(ContextState::Waiting);
    EXPECT_TRUE(panel.shown);
    EXPECT_EQ(panel.frame.top(), 36) << "6 under the panel";
    EXPECT_EQ(panel.frame.height(), 28);
    EXPECT_EQ(panel.frame.center().x(), 640);
    EXPECT_TRUE(island.isTicking()) << "the clock runs while something works";

    settings.setString(u"settings.primarySurface"_qs, u"menubar"_qs);
    EXPECT_FALSE(panel.shown) << "hidden at once on the menu-bar surface";
    settings.setString(u"settings.primarySurface"_qs, u"notch"_qs);
    EXPECT_TRUE(panel.shown);
    model->togglePause();
    EXPECT_FALSE(panel.shown) << "hidden while paused";
    EXPECT_FALSE(island.isTicking());
    model->togglePause();
    EXPECT_TRUE(panel.shown);

    // Expanded: the board's size, with a shadow; leaving collapses it after a moment.
    island.expand();
    EXPECT_TRUE(island.isExpanded());
    EXPECT_EQ(panel.frame.size(), QSizeF(384, 96 + 47));
    EXPECT_TRUE(panel.shadow);
    EXPECT_TRUE(panel.animated);
    island.hoverChanged(false);
    island.hoverChanged(true); // back before the delay: stays open
    runEventLoopFor(NotchIsland::kCollapseDelayMs + 100);
    EXPECT_TRUE(island.isExpanded());
    island.hoverChanged(false);
    EXPECT_TRUE(waitFor([&] { return !island.isExpanded(); }));
    EXPECT_FALSE(panel.shadow);
}

TEST_F(NotchIslandBehaviourTest, ABuildPeeksOnceAtLaunch) {
    {
        NotchIsland island(*model, settings, panel, u"0.1.0+abc"_qs, [this] { return clock; });
        island.scheduleLaunchPeek();
        EXPECT_TRUE(island.isPeeking());
        EXPECT_TRUE(island.isExpanded());
        EXPECT_TRUE(panel.shown) << "shown even with nothing open, while peeking";
        EXPECT_EQ(settings.stringValue(NotchIsland::kPeekedBuildKey), u"0.1.0+abc"_qs);
        EXPECT_TRUE(waitFor([&] { return !island.isPeeking(); }, NotchIsland::kPeekMs + 2000));
        EXPECT_FALSE(panel.shown);
        EXPECT_FALSE(island.isTicking()) << "nothing works: no clock";
    }
    NotchIsland again(*model, settings, panel, u"0.1.0+abc"_qs, [this] { return clock; });
    again.scheduleLaunchPeek();
    EXPECT_FALSE(again.isPeeking()) << "the same build peeks once";
}
