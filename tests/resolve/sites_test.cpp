#include "resolve/Sites.h"

#include <gtest/gtest.h>

using orvello::IdentifySite;

TEST(IdentifySite, EachSiteGivesItsCodeAndSevenIsNeverUsed) {
    const struct {
        const char* url;
        int code;
    } cases[] = {
        {"http://video.google.com/videoplay?docid=123", 1},
        {"http://www.youtube.com/watch?v=abc", 2},
        {"http://www.bolt.com/video/1", 3},
        {"http://vids.myspace.com/index.cfm?fuseaction=vids.individual&videoid=42", 4},
        {"http://www.angryalien.com/0604/x.asp", 5},
        {"http://www.thatvideosite.com/view/1", 6},
        {"http://www.ifilm.com/video/2704405", 8},
        {"http://www.break.com/index/x.html", 9},
        {"http://blip.tv/file/1", 10},
        {"http://www.dailymotion.com/video/x1", 11},
        {"http://media.putfile.com/clip", 12},
        {"http://www.zippyvideos.com/1/x", 13},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IdentifySite(QString::fromLatin1(c.url)), c.code) << c.url;
}

TEST(IdentifySite, SubstringAnywhereCaseIgnoredFirstTestWins) {
    EXPECT_EQ(IdentifySite("HTTP://WWW.YOUTUBE.COM/WATCH?V=ABC"), 2);
    EXPECT_EQ(IdentifySite("http://www.YouTube.Com/watch"), 2);
    // The Google domain in a referrer parameter of an unknown site still counts.
    EXPECT_EQ(IdentifySite("http://example.org/page?ref=google.com"), 1);
    EXPECT_EQ(IdentifySite("http://youtube.com/watch?from=www.google.com"), 1);
    // A longer host name that merely ends in the Break domain.
    EXPECT_EQ(IdentifySite("http://www.jailbreak.com/x"), 9);
    // Text before the scheme or no scheme at all does not matter.
    EXPECT_EQ(IdentifySite("see youtube.com"), 2);
}

TEST(IdentifySite, UnsupportedTextsGiveMinusOne) {
    EXPECT_EQ(IdentifySite(""), -1);
    EXPECT_EQ(IdentifySite("http://www.example.com/watch?v=1"), -1);
    EXPECT_EQ(IdentifySite("http://www.youtube%2Ecom/watch"), -1); // no decoding
    EXPECT_EQ(IdentifySite("youtube .com"), -1);
    EXPECT_EQ(IdentifySite("youtube.co"), -1); // the text ends before the test text does
    // Only ASCII letters fold: a Kelvin sign does not stand in for the k of break.com.
    EXPECT_EQ(IdentifySite(QString::fromUtf8("http://brea\u212A.com/")), -1);
    // Any characters, also NUL and lone surrogates, are just text.
    QString odd = QString::fromUtf16(u"\0\xD800youtube.com", 13);
    EXPECT_EQ(IdentifySite(odd), 2);
}
