#include "model/ContextState.h"
#include "model/FocusEvent.h"
#include "model/StateMachineConfiguration.h"
#include "model/StateReason.h"
#include "model/Time.h"

#include <QStringList>

#include <gtest/gtest.h>

TEST(VocabularyTest, StatesParseOnlyFromTheirExactStoredText) {
    const QStringList expected = {u"active"_qs, u"backgrounded"_qs, u"waiting"_qs, u"ready"_qs,
                                  u"stale"_qs};
    QStringList raws;
    for (ContextState state : ContextStates::allCases) {
        raws.append(ContextStates::rawValue(state));
        EXPECT_EQ(ContextStates::fromRawValue(ContextStates::rawValue(state)), state);
    }
    EXPECT_EQ(raws, expected);
    EXPECT_EQ(ContextStates::fromRawValue(u"Active"_qs), std::nullopt);
    EXPECT_EQ(ContextStates::fromRawValue(u"dismissed"_qs), std::nullopt);
    EXPECT_EQ(ContextStates::fromRawValue(u""_qs), std::nullopt);
}

TEST(VocabularyTest, FocusEventKindsRoundTripAndRejectUnknownText) {
    const std::pair<FocusEvent::Kind, const char*> cases[] = {
        {FocusEvent::Kind::FocusGained, "focus_gained"},
        {FocusEvent::Kind::FocusLost, "focus_lost"},
        {FocusEvent::Kind::AppLaunched, "app_launched"},
        {FocusEvent::Kind::AppTerminated, "app_terminated"},
        {FocusEvent::Kind::WindowTitleChanged, "window_title_changed"}};
    for (const auto& [kind, raw] : cases) {
        EXPECT_EQ(FocusEvent::rawValue(kind), QLatin1String(raw));
        EXPECT_EQ(FocusEvent::kindFromRawValue(QLatin1String(raw)), kind);
    }
    EXPECT_EQ(FocusEvent::kindFromRawValue(u"focusGained"_qs), std::nullopt);
}

TEST(VocabularyTest, StaleReasonsCarryTheThresholdInWholeSeconds) {
    EXPECT_EQ(StateReason::staleAfter(1200), u"stale_after_1200s"_qs);
    EXPECT_EQ(StateReason::workingStaleAfter(2700), u"working_stale_after_2700s"_qs);
    EXPECT_EQ(StateReason::staleAfter(90.9), u"stale_after_90s"_qs);
    EXPECT_EQ(StateReason::staleAfter(0), u"stale_after_0s"_qs);
}

TEST(VocabularyTest, ConfigurationComesFromSettingsWithDefaults) {
    const auto defaults = StateMachineConfiguration::fromSettings(std::nullopt, std::nullopt);
    EXPECT_EQ(defaults.staleAfter, 1200);
    EXPECT_EQ(defaults.workingStaleAfter, 2700);
    EXPECT_EQ(defaults.engagementThreshold, 120);
    const auto custom = StateMachineConfiguration::fromSettings(5, 0);
    EXPECT_EQ(custom.staleAfter, 300);
    EXPECT_EQ(custom.workingStaleAfter, 2700);
    EXPECT_EQ(custom.engagementThreshold, 0);
}

TEST(VocabularyTest, StoredTimesTruncateTowardZero) {
    using namespace std::chrono;
    EXPECT_EQ(toMillis(TimePoint(microseconds(1'234'999))), 1234);
    EXPECT_EQ(toMillis(TimePoint(microseconds(-1'234'999))), -1234);
    EXPECT_EQ(toMillis(fromMillis(1'700'000'000'123)), 1'700'000'000'123);
}
