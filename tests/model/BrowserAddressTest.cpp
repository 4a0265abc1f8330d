#include "model/BrowserAddress.h"

#include <gtest/gtest.h>

TEST(BrowserAddressTest, AnAddressBarsTextBecomesAnAddressThatOpensTheSamePage) {
    using BrowserAddress::normalized;
    EXPECT_EQ(normalized(u"  example.com/docs/page?id=7#top "_qs),
              u"https://example.com/docs/page"_qs)
        << "no scheme: https; query and fragment left out";
    EXPECT_EQ(normalized(u"http://127.0.0.1:8765/chat"_qs), u"http://127.0.0.1:8765/chat"_qs)
        << "the scheme and the port it shows stay";
    EXPECT_EQ(normalized(u"localhost:3000"_qs), u"https://localhost:3000"_qs);
    EXPECT_FALSE(normalized(u"chrome://settings"_qs));
    EXPECT_FALSE(normalized(u"about:blank"_qs));
    EXPECT_FALSE(normalized(u"ftp://example.com/file"_qs));
    EXPECT_FALSE(normalized(u"https://"_qs));

    using BrowserAddress::looksLikeAddress;
    EXPECT_TRUE(looksLikeAddress(u"example.com"_qs));
    EXPECT_TRUE(looksLikeAddress(u"localhost:8080"_qs));
    EXPECT_FALSE(looksLikeAddress(u"search for this"_qs));
    EXPECT_FALSE(looksLikeAddress(u"ab"_qs));
}
