#include "model/TitleKey.h"

#include <gtest/gtest.h>

namespace {

std::optional<QString> key(const QString& title) {
    return TitleKey::normalize(title);
}

} // namespace

TEST(TitleKeyTest, TitlesWithoutContentHaveNoKey) {
    EXPECT_EQ(TitleKey::normalize(std::nullopt), std::nullopt);
    EXPECT_EQ(key(u""_qs), std::nullopt);
    EXPECT_EQ(key(u"   \t\n "_qs), std::nullopt);
    EXPECT_EQ(key(u"*"_qs), std::nullopt);
    EXPECT_EQ(key(u"● • ✳ ◐"_qs), std::nullopt);
}

TEST(TitleKeyTest, CountersMarksAndApplicationSuffixesAreRemoved) {
    EXPECT_EQ(key(u"(3) Inbox — Mail"_qs), u"inbox"_qs);
    EXPECT_EQ(key(u"[45%] Building — Xcode"_qs), u"building"_qs);
    EXPECT_EQ(key(u"● Claude"_qs), u"claude"_qs);
    EXPECT_EQ(key(u"Notes* – Editor"_qs), u"notes"_qs);
    EXPECT_EQ(key(u"(12]  Mixed brackets"_qs), u"mixed brackets"_qs);
    EXPECT_EQ(key(u"✳ Fix the parser • ◐ | Terminal"_qs), u"fix the parser"_qs);
    EXPECT_EQ(key(u"  \n(7) Draft \n"_qs), u"draft"_qs);
}

TEST(TitleKeyTest, SeparatorsApplyInOrderToTheShortenedText) {
    EXPECT_EQ(key(u"Plan - Q3 — Browser"_qs), u"plan"_qs);
    EXPECT_EQ(key(u"a — b — c"_qs), u"a"_qs);
    EXPECT_EQ(key(u"A|B"_qs), u"a|b"_qs) << "a separator needs its spaces";
    EXPECT_EQ(key(u"Build-log"_qs), u"build-log"_qs);
    EXPECT_EQ(key(u"Report | Q2 - draft"_qs), u"report"_qs);
    // The counter takes its trailing space along, so the dash no longer has a space before it.
    EXPECT_EQ(key(u"(3) — Mail"_qs), u"— mail"_qs);
}

TEST(TitleKeyTest, CountersCountOnlyAtTheStartAndOnlyDigits) {
    EXPECT_EQ(key(u"Release (beta)"_qs), u"release (beta)"_qs);
    EXPECT_EQ(key(u"Inbox (3)"_qs), u"inbox (3)"_qs);
    EXPECT_EQ(key(u"(x) Inbox"_qs), u"(x) inbox"_qs);
    EXPECT_EQ(key(u"(%) Inbox"_qs), u"(%) inbox"_qs);
}

TEST(TitleKeyTest, CaseIsFoldedForAnyScript) {
    EXPECT_EQ(key(u"ÜBERSICHT — Dateien"_qs), u"übersicht"_qs);
    EXPECT_EQ(key(u"ПЛАН"_qs), u"план"_qs);
    EXPECT_EQ(key(u"Inbox"_qs), key(u"(2) INBOX - Mail"_qs));
}
