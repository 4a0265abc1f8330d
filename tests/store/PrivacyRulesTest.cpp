#include "store/ContextStore.h"
#include "store/GlobMatcher.h"
#include "store/KeyProviders.h"
#include "store/StoreTestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace TestSupport;

TEST(GlobMatcherTest, WildcardsMatchTheWholeTextWithCaseFolding) {
    EXPECT_TRUE(GlobMatcher::matches(u"*bank*"_qs, u"My BANK statement"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"bank"_qs, u"My bank statement"_qs)) << "whole text only";
    EXPECT_TRUE(GlobMatcher::matches(u"https://*/login"_qs, u"https://a.example/b/c/login"_qs))
        << "* crosses slashes";
    EXPECT_TRUE(GlobMatcher::matches(u"*"_qs, u""_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"?"_qs, u""_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"a?c"_qs, u"abc"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"a?c"_qs, u"ac"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"*.env"_qs, u".env"_qs)) << "a leading dot is not special";
    EXPECT_TRUE(GlobMatcher::matches(u"*a*b*c*"_qs, u"xxaxxbxxbxxcxx"_qs)) << "backtracking";
    EXPECT_FALSE(GlobMatcher::matches(u"*a*b*c"_qs, u"xxaxxbxxbxxcxx"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u""_qs, u"x"_qs));
}

TEST(GlobMatcherTest, BracketExpressionsAndEscapes) {
    EXPECT_TRUE(GlobMatcher::matches(u"file[0-9].txt"_qs, u"FILE7.TXT"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"file[!0-9].txt"_qs, u"file7.txt"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"file[^0-9].txt"_qs, u"filex.txt"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"[]]"_qs, u"]"_qs)) << "']' first is a member";
    EXPECT_TRUE(GlobMatcher::matches(u"[a-c]"_qs, u"B"_qs)) << "ranges fold case";
    EXPECT_TRUE(GlobMatcher::matches(u"v[[:digit:]]"_qs, u"v3"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"v[[:digit:]]"_qs, u"vx"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"[abc"_qs, u"[abc"_qs)) << "an unclosed '[' is literal";
    EXPECT_TRUE(GlobMatcher::matches(u"\\*x"_qs, u"*x"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"\\*x"_qs, u"ax"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"*\\[InPrivate\\]*"_qs, u"Docs [InPrivate] - Edge"_qs));
    EXPECT_FALSE(GlobMatcher::matches(u"*\\[InPrivate\\]*"_qs, u"Docs - Edge"_qs));
}

TEST(GlobMatcherTest, NonAsciiTitlesMatchByCharacterAndFoldCase) {
    EXPECT_TRUE(GlobMatcher::matches(u"*ÜBERWEISUNG*"_qs, u"Neue überweisung – Bank"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"Банк*"_qs, u"БАНК онлайн"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"?"_qs, u"é"_qs));
    EXPECT_TRUE(GlobMatcher::matches(u"a?b"_qs, u"a😀b"_qs)) << "one code point beyond the BMP";
    EXPECT_TRUE(GlobMatcher::matches(u"[α-ω]x"_qs, u"Λx"_qs));
}

TEST(PrivacyRulesTest, OnlyNeverTrackRulesAreEnforcedAndBundleIDsCompareExactly) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("kestrune.db"));
    EphemeralKeyProvider key(testKey());
    ContextStore store(path, key);
    EXPECT_FALSE(store.privacyRules().excludesBundleID(u"com.acme.App"_qs)) << "empty table";
    EXPECT_FALSE(store.privacyRules().excludesWindowTitle(u"anything"_qs));
    EXPECT_FALSE(store.privacyRules().excludesURL(u"https://a.example/"_qs));
    {
        auto raw = openRaw(path, testKey());
        raw->execute(QStringLiteral(
            "INSERT INTO privacy_rule (id, scope, matcher, mode, is_default, created_at) VALUES "
            "('1', 'app', 'com.acme.App', 'never_track', 0, 1), "
            "('2', 'window_pattern', '*bank*', 'never_track', 0, 1), "
            "('3', 'url_pattern', 'https://*.health.example/*', 'never_track', 0, 1), "
            "('4', 'app', 'com.acme.Other', 'observe', 0, 1), "
            "('5', 'window_pattern', '*diary*', 'observe', 0, 1), "
            "('6', 'folder', '/home/*', 'never_track', 0, 1)"));
    }
    EXPECT_FALSE(store.privacyRules().excludesBundleID(u"com.acme.App"_qs)) << "not reloaded yet";
    store.reloadPrivacyRules();
    const PrivacyRules rules = store.privacyRules();
    EXPECT_TRUE(rules.excludesBundleID(u"com.acme.App"_qs));
    EXPECT_FALSE(rules.excludesBundleID(u"com.acme.app"_qs));
    EXPECT_FALSE(rules.excludesBundleID(u"com.acme.Other"_qs));
    EXPECT_EQ(rules.excludedBundleIDs.size(), 1);
    EXPECT_TRUE(rules.excludesWindowTitle(u"My BANK statement"_qs));
    EXPECT_FALSE(rules.excludesWindowTitle(u"Dear diary"_qs));
    EXPECT_TRUE(rules.excludesURL(u"https://portal.health.example/records/2024/x?y=1"_qs));
    EXPECT_FALSE(rules.excludesURL(u"http://portal.health.example/records"_qs));
    EXPECT_EQ(rules.neverTrackTitlePatterns, QStringList{u"*bank*"_qs});
    EXPECT_EQ(rules.neverTrackURLPatterns, QStringList{u"https://*.health.example/*"_qs});
}
