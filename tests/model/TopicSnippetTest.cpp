#include "model/TopicSnippet.h"

#include <gtest/gtest.h>

TEST(TopicSnippetTest, TheFirstSpokenLineWithSingleBlanks) {
    EXPECT_EQ(
        TopicSnippet::firstLine(u"\n  \nuser:   How   do I\trename a branch?\nassistant: x"_qs, 64),
        u"How do I rename a branch?"_qs);
    EXPECT_EQ(TopicSnippet::firstLine(u"HUMAN : hello"_qs, 64), u"hello"_qs);
    EXPECT_EQ(TopicSnippet::firstLine(u"User:\n\nAssistant:   \n"_qs, 64), std::nullopt);
    EXPECT_EQ(TopicSnippet::firstLine(std::nullopt, 64), std::nullopt);
    EXPECT_EQ(TopicSnippet::firstLine(u"Users: keep this prefix"_qs, 64),
              u"Users: keep this prefix"_qs);
}

TEST(TopicSnippetTest, LongLinesAreCutOnAWordBoundaryWithAnEllipsis) {
    // Words of 9 letters and a space: the last space within 64 characters is at index 59.
    const QString words = u"abcdefghi "_qs.repeated(10).trimmed();
    const auto cut = TopicSnippet::firstLine(words, 64);
    EXPECT_EQ(cut, words.left(59) + u"…"_qs);

    const QString solid(100, u'x');
    EXPECT_EQ(TopicSnippet::firstLine(solid, 64), QString(64, u'x') + u"…"_qs);

    // A space too early (before half the limit) does not count as a boundary.
    const QString early = u"ab "_qs + QString(97, u'y');
    EXPECT_EQ(TopicSnippet::firstLine(early, 64), early.left(64) + u"…"_qs);

    const QString emoji = u"👩‍💻"_qs.repeated(70);
    EXPECT_EQ(TopicSnippet::firstLine(emoji, 64), u"👩‍💻"_qs.repeated(64) + u"…"_qs);
    EXPECT_EQ(TopicSnippet::firstLine(words.left(64), 64), words.left(64).trimmed());
}
