#include "app/OnboardingFlow.h"

#include <gtest/gtest.h>

namespace {

using Step = OnboardingFlow::Step;

struct Walk {
    bool trusted = false;
    int requests = 0;
    int completions = 0;
    int stepChanges = 0;
    int grantChanges = 0;
    OnboardingFlow flow{[this] { return trusted; }, [this] { ++requests; },
                        [this] { ++completions; }};
    Walk() {
        QObject::connect(&flow, &OnboardingFlow::stepChanged, [this] { ++stepChanges; });
        QObject::connect(&flow, &OnboardingFlow::accessibilityGrantedChanged,
                         [this] { ++grantChanges; });
    }
};

} // namespace

TEST(OnboardingFlowTest, TheStepsAskOnceForThePermissionAndMoveOnWhenItArrives) {
    Walk walk;
    EXPECT_EQ(walk.flow.step(), Step::Welcome);
    walk.flow.primaryAction();
    EXPECT_EQ(walk.flow.step(), Step::Accessibility);
    walk.flow.primaryAction(); // "Grant Accessibility": asks, stays
    EXPECT_EQ(walk.requests, 1);
    EXPECT_EQ(walk.flow.step(), Step::Accessibility);
    walk.flow.recheckGrant();
    EXPECT_EQ(walk.grantChanges, 0) << "nothing changed, nobody told";

    // Granted elsewhere (our dialog, a settings panel): the re-check moves on by itself.
    walk.trusted = true;
    walk.flow.recheckGrant();
    EXPECT_EQ(walk.flow.step(), Step::Done);
    EXPECT_EQ(walk.grantChanges, 1);
    EXPECT_EQ(walk.stepChanges, 2);
    walk.flow.primaryAction(); // "Open Tessarine"
    walk.flow.skip();          // then the window is closed
    EXPECT_TRUE(walk.flow.isFinished());
    EXPECT_EQ(walk.completions, 1) << "completed exactly once";
}

TEST(OnboardingFlowTest, AGrantedPermissionNeedsNoPromptAndSkippingEndsFromAnyStep) {
    Walk granted;
    granted.trusted = true;
    granted.flow.primaryAction();
    EXPECT_TRUE(granted.flow.accessibilityGranted());
    granted.flow.primaryAction(); // "Accessibility is on"
    EXPECT_EQ(granted.flow.step(), Step::Done);
    EXPECT_EQ(granted.requests, 0);

    Walk skipped;
    skipped.flow.skip(); // "Skip setup", or the window closed on the first step
    skipped.flow.skip();
    EXPECT_EQ(skipped.completions, 1);
    EXPECT_EQ(skipped.flow.step(), Step::Welcome);

    EXPECT_TRUE(OnboardingFlow::doneText(true, u"Alt+Super+L"_qs, true).contains(u"tray"_qs));
    EXPECT_TRUE(OnboardingFlow::doneText(true, u"Ctrl+Alt+K"_qs, false).contains(u"Ctrl+Alt+K"_qs));
    EXPECT_FALSE(OnboardingFlow::doneText(true, u"Alt+Super+L"_qs, false).contains(u"tray"_qs))
        << "no tray promised where there is none";
    EXPECT_TRUE(
        OnboardingFlow::doneText(false, u"Alt+Super+L"_qs, true).contains(u"limited mode"_qs));
}
