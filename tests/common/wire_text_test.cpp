// The bytes an address is sent as: which characters become one byte and which UTF-8, what is
// percent-encoded, and where the authority ends.
#include "common/WireText.h"

#include <gtest/gtest.h>

using orvello::WireHost;
using orvello::WireTarget;
using orvello::WireUrl;

namespace {

QString Text(const char16_t* text) {
    return QString::fromUtf16(text);
}

} // namespace

TEST(WireUrl, EncodesWhatAnAddressCantCarryAfterTheAuthorityOnly) {
    const struct {
        QString url;
        QByteArray wire;
    } cases[] = {
        {Text(u"http://h:8080/a/b.flv?x=1&y=%2F;z=[~]!$'()*+,@:#top"),
         "http://h:8080/a/b.flv?x=1&y=%2F;z=[~]!$'()*+,@:#top"},
        {Text(u"http://h/a b\t\u007F\"<>\\^`{|}"),
         "http://h/a%20b%09%7F%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {Text(u"http://h/100% of %zz"), "http://h/100%%20of%20%zz"},
        // Single bytes as read from a page, then UTF-8 for what lies above them.
        {Text(u"http://h/caf\u00E9\u20AC\U0001F600"), "http://h/caf%E9%E2%82%AC%F0%9F%98%80"},
        {Text(u"http://h/") + QChar(0xD800) + Text(u"x") + QChar(0xDC00),
         "http://h/%EF%BF%BDx%EF%BF%BD"},
        {Text(u"http://h/a") + QChar(0) + Text(u"b"), "http://h/a%00b"},
        // The authority: no percent-encoding, UTF-8 above U+007F.
        {Text(u"HTTP://us er:p\u00E4ss@h\u00E9.example:81/\u00E9"),
         "HTTP://us er:p\xC3\xA4ss@h\xC3\xA9.example:81/%E9"},
        {Text(u"http://h?q=a b"), "http://h?q=a%20b"},
        {Text(u"http://h#a b<"), "http://h#a%20b%3C"},
        {Text(u"http://[::1]:80"), "http://[::1]:80"},
        // No scheme: the authority runs to the first '/', '?' or '#'.
        {Text(u"h\u00E9:81/p q"), "h\xC3\xA9:81/p%20q"},
        {Text(u"h\u00E9?a=\u00E9"), "h\xC3\xA9?a=%E9"},
        {Text(u"h#\u00E9 "), "h#%E9%20"},
        {Text(u"h/p?u=http://x y"), "h/p?u=http://x%20y"},
        {Text(u"a b://h \u00E9/c"), "a b://h%20%E9/c"}, // not a scheme name
        {QString(), ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WireUrl(c.url), c.wire) << c.url.toStdString();
}

TEST(WireUrl, TargetsAndHostsFollowTheSameRules) {
    EXPECT_EQ(WireTarget(Text(u"/a b\u00E9\u20AC?q=\"x\"")), "/a%20b%E9%E2%82%AC?q=%22x%22");
    EXPECT_EQ(WireTarget(Text(u"/p?x=%41")), "/p?x=%41");
    EXPECT_EQ(WireHost(Text(u"h\u00E9.example:81")), "h\xC3\xA9.example:81");
    EXPECT_EQ(WireHost(Text(u"127.0.0.1")), "127.0.0.1");
}
