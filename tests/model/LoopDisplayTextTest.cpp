#include "model/LoopDisplayText.h"

#include <gtest/gtest.h>

TEST(AISiteMarkTest, SitesByAddressOrTitleAndNativeApplications) {
    EXPECT_EQ(AISiteMark::detect(u"https://platform.OPENAI.com/chat"_qs)->name, u"ChatGPT"_qs);
    EXPECT_EQ(AISiteMark::detect(u"https://www.perplexity.ai/search/x"_qs)->letter, u"P"_qs);
    EXPECT_EQ(AISiteMark::detect(u"Claude"_qs)->name, u"Claude"_qs);
    EXPECT_EQ(AISiteMark::detect(u"grok.com"_qs)->letter, u"X"_qs);
    EXPECT_EQ(AISiteMark::detect(u"https://example.com/"_qs), std::nullopt);
    EXPECT_EQ(AISiteMark::detect(u""_qs), std::nullopt);
    EXPECT_EQ(AISiteMark::detect(std::nullopt), std::nullopt);
    // The table's order decides: "claude" before "openai".
    EXPECT_EQ(AISiteMark::detect(u"openai vs claude"_qs)->name, u"Claude"_qs);
    EXPECT_EQ(AISiteMark::detectForBundleID(u"com.todesktop.230313mzl4w4u92"_qs)->name,
              u"Cursor"_qs);
    EXPECT_EQ(AISiteMark::detectForBundleID(u"org.gnome.Terminal"_qs), std::nullopt);
}

TEST(LoopDisplayTest, SessionBadgesAndCleanTitles) {
    EXPECT_EQ(LoopDisplay::sessionKindBadge(u"claude_code"_qs), u"Claude Code"_qs);
    EXPECT_EQ(LoopDisplay::sessionKindBadge(u"claude_desktop"_qs), u"Claude session"_qs);
    EXPECT_EQ(LoopDisplay::sessionKindBadge(u"browser"_qs), std::nullopt);
    EXPECT_EQ(LoopDisplay::sessionKindBadge(std::nullopt), std::nullopt);

    EXPECT_EQ(LoopDisplay::cleanTitle(u"(3) Inbox - Gmail - Google Chrome"_qs), u"Inbox - Gmail"_qs)
        << "the counter and the browser go, the site stays";
    EXPECT_EQ(LoopDisplay::cleanTitle(u"ChatGPT — Mozilla Firefox"_qs), u"ChatGPT"_qs);
    EXPECT_EQ(
        LoopDisplay::cleanTitle(u"notes.md - Visual Studio Code"_qs, u"Visual Studio Code"_qs),
        u"notes.md"_qs);
    EXPECT_EQ(LoopDisplay::cleanTitle(u"  make   build  "_qs), u"make build"_qs);
    EXPECT_EQ(LoopDisplay::cleanTitle(u"me@box: ~/project - 80×24"_qs),
              u"me@box: ~/project - 80×24"_qs)
        << "only a known application's name goes";
    EXPECT_EQ(LoopDisplay::cleanTitle(u"Google Chrome"_qs), u"Google Chrome"_qs)
        << "a title that is only the name keeps it";
    EXPECT_EQ(LoopDisplay::cleanTitle(u"[12] "_qs), std::nullopt);
    EXPECT_EQ(LoopDisplay::cleanTitle(std::nullopt), std::nullopt);
}
