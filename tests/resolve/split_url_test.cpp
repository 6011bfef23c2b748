#include "resolve/modGlobal.h"

#include <gtest/gtest.h>

using orvello::SplitUrl;

namespace {

struct Split {
    QString host;
    QString path;
};

Split SplitOf(const QString& address, const QString& pathBefore = QStringLiteral("<before>")) {
    Split s{address, pathBefore};
    SplitUrl(s.host, s.path);
    return s;
}

} // namespace

TEST(SplitUrl, HttpSchemeRemovedInAnyCaseAndSplitAtFirstSlash) {
    auto s = SplitOf("http://www.youtube.com/player.swf?video_id=a/b&t=c");
    EXPECT_EQ(s.host, "www.youtube.com");
    EXPECT_EQ(s.path, "/player.swf?video_id=a/b&t=c");

    s = SplitOf("HTTP://WWW.YouTube.com/Watch");
    EXPECT_EQ(s.host, "WWW.YouTube.com"); // only the scheme is looked at, nothing is lowered
    EXPECT_EQ(s.path, "/Watch");

    s = SplitOf("hTtP://h/");
    EXPECT_EQ(s.host, "h");
    EXPECT_EQ(s.path, "/");

    // An explicit port stays in the host text.
    s = SplitOf("http://www.youtube.com:8080/v");
    EXPECT_EQ(s.host, "www.youtube.com:8080");
    EXPECT_EQ(s.path, "/v");
}

TEST(SplitUrl, OtherSchemesAndNoSchemeAreSplitAsPlainText) {
    auto s = SplitOf("www.youtube.com/watch?v=1");
    EXPECT_EQ(s.host, "www.youtube.com");
    EXPECT_EQ(s.path, "/watch?v=1");

    s = SplitOf("https://www.youtube.com/v/1");
    EXPECT_EQ(s.host, "https:");
    EXPECT_EQ(s.path, "//www.youtube.com/v/1");

    // "http:/" is not the scheme: nothing is removed.
    s = SplitOf("http:/h/x");
    EXPECT_EQ(s.host, "http:");
    EXPECT_EQ(s.path, "/h/x");
}

TEST(SplitUrl, WithoutSlashThePathKeepsTheCallersValue) {
    auto s = SplitOf("http://www.youtube.com", "/from/before?q=1");
    EXPECT_EQ(s.host, "www.youtube.com");
    EXPECT_EQ(s.path, "/from/before?q=1");

    s = SplitOf("http://", "/kept");
    EXPECT_EQ(s.host, "");
    EXPECT_EQ(s.path, "/kept");

    s = SplitOf("", "/kept");
    EXPECT_EQ(s.host, "");
    EXPECT_EQ(s.path, "/kept");

    s = SplitOf("HTTP:", "/kept"); // shorter than the scheme
    EXPECT_EQ(s.host, "HTTP:");
    EXPECT_EQ(s.path, "/kept");
}
