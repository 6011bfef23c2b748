#include "resolve/modGlobal.h"

#include <gtest/gtest.h>

TEST(SplitUrl, StripsOnlyHttpAndSplitsAtTheFirstSlashElseKeepsThePath) {
    const struct {
        const char *in, *host, *path;
    } cases[] = {
        {"http://www.youtube.com/p.swf?id=a/b", "www.youtube.com", "/p.swf?id=a/b"},
        {"HtTP://WWW.YouTube.com:8080/W", "WWW.YouTube.com:8080", "/W"},
        {"www.youtube.com/watch?v=1", "www.youtube.com", "/watch?v=1"},
        {"https://www.youtube.com/v", "https:", "//www.youtube.com/v"},
        {"http:/h/x", "http:", "/h/x"},
        // Without a "/" the caller's path stays as it was.
        {"http://www.youtube.com", "www.youtube.com", "<kept>"},
        {"http://", "", "<kept>"},
        {"HTTP:", "HTTP:", "<kept>"},
    };
    for (const auto& c : cases) {
        QString host = QString::fromLatin1(c.in), path = QStringLiteral("<kept>");
        orvello::SplitUrl(host, path);
        EXPECT_EQ(host, QString::fromLatin1(c.host)) << c.in;
        EXPECT_EQ(path, QString::fromLatin1(c.path)) << c.in;
    }
}
