// Pages no site knows, searched for their video: one row per page against a loopback server,
// each run as the start command runs it, with the file, the status, the reason and the
// Referer the server saw checked.
#include "Machine.h"
#include "resolve/generic/GenericAnswer.h"
#include "resolve/hls/HlsPlaylist.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace orvello;
using namespace orvello::test;

namespace {

Reply Media(const QByteArray& bytes, const QByteArray& type = "video/mp4") {
    return Reply::Ok(bytes, "Content-Type: " + type + "\r\n");
}

Reply MediaHead(const QByteArray& bytes) {
    return Reply::Head({"HTTP/1.1 200 OK", "Content-Type: video/mp4",
                        "Content-Length: " + QByteArray::number(bytes.size())});
}

Reply Page(const QByteArray& html) {
    return Reply::Ok(html, "Content-Type: text/html; charset=utf-8\r\n");
}

// Serves the file at `path`, to the header request and the download.
void ServeFile(ScriptServer& s, const QByteArray& path, const QByteArray& bytes) {
    s.onPath("HEAD", path, MediaHead(bytes));
    s.onPath("GET", path, Media(bytes));
}

struct Row {
    const char* what;
    bool anySite;
    // Scripts the server and gives the address to add.
    std::function<QString(ScriptServer&, const QByteArray& video)> arrange;
    // The row menu's "Look for a video on this page" chosen: 0 never, 1 before the run, 2
    // after a first run has said the link is not supported.
    int searchFromMenu;
    QString added;  // the status once added
    QString status; // after the run
    QString reason;
    QString file;           // the name of the downloaded file; empty for none
    QByteArray refererPath; // the page sent as Referer for the file; empty for none
    QByteArray mediaPath;   // where the file is asked for
};

} // namespace

TEST(GenericPages, AnAddressNoSiteKnowsIsSearchedForItsVideo) {
    const QByteArray video = QByteArray(200000, 'm') + "end";
    const Row rows[] = {
        {"a page with a <video> and its <source>", true,
         [](ScriptServer& s, const QByteArray& v) {
             s.onPath("GET", "/watch/1",
                      Page("<html><head><title>Harbour at dawn</title></head><body><video "
                           "controls><source src=\"/media/clip.mp4\" "
                           "type=\"video/mp4\"></video></body></html>"));
             ServeFile(s, "/media/clip.mp4", v);
             return s.url("/watch/1");
         },
         0, "Waiting", "Complete", "", "Harbour at dawn.mp4", "/watch/1", "/media/clip.mp4"},
        {"a page that sends the reader on with a meta refresh", true,
         [](ScriptServer& s, const QByteArray& v) {
             s.onPath("GET", "/old",
                      Page("<html><head><meta http-equiv=\"refresh\" content=\"0; "
                           "url=/new\"></head></html>"));
             s.onPath("GET", "/new", Page("<html><video src=\"/v/a.mp4\"></video></html>"));
             ServeFile(s, "/v/a.mp4", v);
             return s.url("/old");
         },
         0, "Waiting", "Complete", "", "a.mp4", "/new", "/v/a.mp4"},
        {"an address that answers with a video/mp4 file", true,
         [](ScriptServer& s, const QByteArray& v) {
             ServeFile(s, "/files/movie.mp4", v);
             return s.url("/files/movie.mp4");
         },
         0, "Waiting", "Complete", "", "movie.mp4", "", "/files/movie.mp4"},
        {"an address that answers with a live HLS playlist", true,
         [](ScriptServer& s, const QByteArray&) {
             s.onPath("GET", "/live/index.m3u8",
                      Media("#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXTINF:4,\na.ts\n",
                            "application/vnd.apple.mpegurl"));
             return s.url("/live/index.m3u8");
         },
         0, "Waiting", "ERROR", HlsProblemText(HlsProblem::Live), "", "", ""},
        {"a page whose HLS stream has its audio apart in every variant", true,
         [](ScriptServer& s, const QByteArray&) {
             s.onPath("GET", "/show",
                      Page("<html><video><source src=\"/hls/master.m3u8\" "
                           "type=\"application/x-mpegURL\"></video></html>"));
             s.onPath("GET", "/hls/master.m3u8",
                      Media("#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI="
                            "\"en.m3u8\"\n#EXT-X-STREAM-INF:BANDWIDTH=9,AUDIO=\"a\"\nhd.m3u8\n",
                            "application/vnd.apple.mpegurl"));
             return s.url("/show");
         },
         0, "Waiting", "ERROR", HlsProblemText(HlsProblem::SeparateAudio), "", "", ""},
        {"a page whose only video is a DASH manifest", true,
         [](ScriptServer& s, const QByteArray&) {
             s.onPath("GET", "/dash",
                      Page("<html><video><source src=\"/d/stream.mpd\" "
                           "type=\"application/dash+xml\"></video></html>"));
             return s.url("/dash");
         },
         0, "Waiting", "ERROR", kReasonDashManifest, "", "", ""},
        {"a page without a video", true,
         [](ScriptServer& s, const QByteArray&) {
             s.onPath("GET", "/about", Page("<html><title>About</title><p>Hello</p></html>"));
             return s.url("/about");
         },
         0, "Waiting", "ERROR", kReasonNoVideo, "", "", ""},
        {"the setting off", false,
         [](ScriptServer& s, const QByteArray& v) {
             ServeFile(s, "/files/movie.mp4", v);
             return s.url("/files/movie.mp4");
         },
         0, "Link is not supported", "ERROR", kSiteNotSupportedReason, "", "", ""},
        {"the setting off, and the row menu's search chosen", false,
         [](ScriptServer& s, const QByteArray& v) {
             s.onPath("GET", "/watch/2", Page("<html><video src=\"/m/b.webm\"></video></html>"));
             ServeFile(s, "/m/b.webm", v);
             return s.url("/watch/2");
         },
         1, "Link is not supported", "Complete", "", "b.webm", "/watch/2", "/m/b.webm"},
        {"the setting off, and the row menu's search chosen after a run", false,
         [](ScriptServer& s, const QByteArray& v) {
             s.onPath("GET", "/watch/3", Page("<html><video src=\"/m/c.mp4\"></video></html>"));
             ServeFile(s, "/m/c.mp4", v);
             return s.url("/watch/3");
         },
         2, "Link is not supported", "Complete", "", "c.mp4", "/watch/3", "/m/c.mp4"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        ScriptServer server;
        Machine m{dir.path()};
        m.list.SetAnySite(row.anySite);
        const QString page = row.arrange(server, video);
        m.Add(page);
        EXPECT_EQ(m.Entry(0).Status, row.added);
        if (row.searchFromMenu == 2) {
            m.Click();
            EXPECT_EQ(m.Entry(0).Status, "ERROR");
        }
        if (row.searchFromMenu) {
            EXPECT_TRUE(m.list.SearchPages({m.Key(0)}));
            EXPECT_EQ(m.Entry(0).Status, "Waiting");
            EXPECT_EQ(m.Entry(0).SiteCode, kSiteGeneric);
        }
        m.Click();

        const DownloadItem& entry = m.Entry(0);
        EXPECT_EQ(entry.Status, row.status);
        EXPECT_EQ(entry.Reason, row.reason);
        EXPECT_EQ(entry.PageAddress, page);
        if (!row.file.isEmpty())
            EXPECT_EQ(ReadAll(m.Saved(row.file)), video);
        else
            EXPECT_TRUE(QDir(m.settings.sDownloadDir).isEmpty());
        if (row.mediaPath.isEmpty())
            continue;
        const QByteArray referer =
            row.refererPath.isEmpty() ? QByteArray()
                                      : server.url(QString::fromLatin1(row.refererPath)).toLatin1();
        for (const QByteArray& method : {QByteArray("HEAD"), QByteArray("GET")}) {
            bool asked = false;
            for (const ScriptServer::Request& r : server.requests(method)) {
                if (r.target() != row.mediaPath)
                    continue;
                asked = true;
                EXPECT_EQ(QString::fromLatin1(r.header("Referer")), QString::fromLatin1(referer))
                    << method.constData();
            }
            EXPECT_TRUE(asked) << method.constData();
        }
    }
}
