#include "resolve/Sites.h"

#include <iterator>
#include <span>

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

// The table collected from the units: every site in its place of the order of testing with its
// code, the redirect and its naming rule, and the generic resolver's unit last, recognising no
// address and found by its code all the same.
TEST(SiteUnits, EachUnitInItsPlaceWithItsCodeAndRules) {
    using namespace orvello;
    const struct {
        const char* domain;
        int code;
        bool redirect, flvSuffix;
        qsizetype nameLimit;
    } rows[] = {
        {"google.com", 1, false, false, 0},       {"youtube.com", 2, true, true, 35},
        {"bolt.com", 3, false, false, 0},         {"myspace.com", 4, false, false, 0},
        {"angryalien.com", 5, false, false, 0},   {"thatvideosite.com", 6, false, false, 0},
        {"ifilm.com", 8, false, false, 0},        {"break.com", 9, false, false, 0},
        {"blip.tv", 10, false, false, 0},         {"dailymotion.com", 11, false, true, 0},
        {"putfile.com", 12, false, false, 0},     {"zippyvideos.com", 13, false, true, 0},
        {nullptr, kSiteGeneric, false, false, 0},
    };
    const std::span<const SiteEntry> units = SiteUnits();
    ASSERT_EQ(units.size(), std::size(rows));
    ASSERT_EQ(kSites.size(), std::size(rows) - 1);
    for (std::size_t i = 0; i < units.size(); ++i) {
        const SiteEntry& unit = units[i];
        SCOPED_TRACE(rows[i].code);
        EXPECT_STREQ(unit.domain, rows[i].domain);
        EXPECT_EQ(unit.code, rows[i].code);
        EXPECT_EQ(unit.extract != nullptr, rows[i].domain != nullptr);
        EXPECT_EQ(unit.redirect, rows[i].redirect);
        EXPECT_EQ(unit.naming.flvSuffix, rows[i].flvSuffix);
        EXPECT_EQ(unit.naming.nameLimit, rows[i].nameLimit);
        if (i > 0) {
            EXPECT_LT(units[i - 1].order, unit.order); // each in a place of its own
        }
        if (i < kSites.size()) {
            EXPECT_EQ(kSites[i].code, unit.code);
        }
        const SiteEntry* found = FindSite(rows[i].code);
        ASSERT_NE(found, nullptr);
        EXPECT_EQ(found->code, rows[i].code);
    }
    for (int code : {-1, 0, 7, 14})
        EXPECT_EQ(FindSite(code), nullptr) << code;
}
