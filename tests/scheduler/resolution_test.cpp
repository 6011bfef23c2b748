// One entry resolved end to end: the page fetched from a loopback server, the address cut
// out, the file asked about, the entry's texts set; and the status texts the transfer events
// write on the way.
#include "Machine.h"
#include "list/modMain.h"
#include "support/QtPrint.h"
#include "support/RawPeer.h"
#include "support/http/ScriptServer.h"
#include "transfer/HeadRequest.h"
#include "transfer/TransferJob.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

const QList<QByteArray> kNoLength = {"HTTP/1.1 200 OK", "Content-Type: text/html"};

class Resolution : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptServer server;
    Machine m{dir.path()};
};

// The values a header request for `url` gives, asked on the session of `m`.
HeaderValues AskAbout(Machine& m, const QString& url) {
    TransferJob::Request request;
    request.kind = TransferJob::Kind::Head;
    request.url = url;
    request.limits = m.s.needs.limits;
    TransferJob job(m.s.session, 0, request);
    TransferResult answer;
    bool done = false;
    QObject::connect(&job, &TransferJob::finished, [&](quint64, const TransferResult& r) {
        answer = r;
        done = true;
    });
    job.start();
    RunUntil([&] { return done; });
    return ReadHeadAnswer(answer);
}

} // namespace

TEST_F(Resolution, AnUnsupportedAddressTouchesNoNetwork) {
    const int16_t i = m.Add(server.url("/example.org/watch?v=1"));
    EXPECT_EQ(m.GetDownloadLink(m.Entry(i).Video_URL), "-1");
    EXPECT_EQ(m.Resolve(i), "-1");
    EXPECT_EQ(m.Entry(i).Status, "ERROR");
    EXPECT_EQ(m.Entry(i).FileName, "Un supported link");
    EXPECT_EQ(m.Entry(i).Video_URL, server.url("/example.org/watch?v=1"));
    EXPECT_TRUE(server.requests().empty());
}

TEST_F(Resolution, AFetchThatDoesNotCompleteGivesMinus2AndKeepsTheEntrysTexts) {
    // Nobody listens: the fetch ends in an error.
    const QString unreachable =
        QStringLiteral("http://127.0.0.1:%1/youtube.com/watch?v=1").arg(ScriptServer::ClosedPort());
    EXPECT_EQ(m.GetDownloadLink(unreachable), "-2");

    // A stop while the page comes ends the resolution at once, though the page has begun to
    // arrive, and writes nothing: the run says how the entry ended.
    server.onHead(Reply::Head(kNoLength));
    Reply held = Reply::Ok("<embed src='http://127.0.0.1/p.swf'>" + QByteArray(10000, ' '));
    held.cutAt = 4096;
    held.after = Reply::After::Hang;
    server.onGet(held);
    const int16_t i = m.Add(server.url("/thatvideosite.com/v/1"));
    EntryResolver resolver(m.Key(i), m.list, m.s.needs, m.s.naming);
    QString link;
    QObject::connect(&resolver, &EntryResolver::Resolved,
                     [&](quint64, const QString& l) { link = l; });
    m.OnFirst(
        [](const DownloadItem& e) { return e.State == EntryState::Preparing && e.Progress != 0; },
        [&] { resolver.Stop(); });
    resolver.ResolveEntry();
    ASSERT_TRUE(RunUntil([&] { return !link.isEmpty(); }, 5s));
    EXPECT_EQ(link, "-1");
    EXPECT_EQ(m.Entry(i).FileName, "Waiting (Auto Detect)");
    EXPECT_EQ(m.Entry(i).Video_URL, server.url("/thatvideosite.com/v/1"));
}

TEST_F(Resolution, APageWithoutMarkersGives0AndTheEntryLosesItsPageAddress) {
    server.onHead(Reply::Head(kNoLength));
    server.onGet(Reply::Ok("<html><body>This video has been removed.</body></html>"));
    const int16_t i = m.Add(server.url("/angryalien.com/0604/x.asp"));
    EXPECT_EQ(m.GetDownloadLink(m.Entry(i).Video_URL), "0");
    EXPECT_EQ(m.Resolve(i), "-1");
    EXPECT_EQ(m.Entry(i).Status, "ERROR");
    EXPECT_EQ(m.Entry(i).FileName, "Process failed.");
    EXPECT_EQ(m.Entry(i).Video_URL, "Video may be inappropriate and can not be downloaded");
}

TEST_F(Resolution, SuccessGivesTheLinkNameAndSizeAndKeepsATypedName) {
    const QString video = server.url("/media/clip_01.flv");
    server.onHead(Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 1536000"}));
    server.onGet(Reply::Ok("<script>var a='x.wmv';</script><a href=\"" + video.toLatin1() +
                           "\">download</a>"));
    const int16_t auto_ = m.Add(server.url("/putfile.com/v/clip"));
    const int16_t typed = m.Add(server.url("/putfile.com/v/clip2"));
    m.list.SetFileName(m.Key(typed), QStringLiteral("my clip.flv"));

    // The statuses the entry goes through, as the list's observers hear them.
    QStringList seen;
    m.list.AddObserver([&](const ListChange& c) {
        if (c.key == m.Key(auto_) && (seen.isEmpty() || seen.back() != m.Entry(auto_).Status))
            seen << m.Entry(auto_).Status;
    });
    EXPECT_EQ(m.Resolve(auto_), video);
    EXPECT_EQ(m.Entry(auto_).FileName, "clip_01.flv");
    EXPECT_EQ(m.Entry(auto_).FileSize, "1.5 MB");
    EXPECT_EQ(m.Entry(auto_).Status, "Start Downloading...");
    ASSERT_FALSE(seen.isEmpty());
    EXPECT_TRUE(seen.first().startsWith("Preparing")) << seen.first().toStdString();
    EXPECT_EQ(server.requests("HEAD").back().raw.left(25), "HEAD /media/clip_01.flv H");

    EXPECT_EQ(m.Resolve(typed), video);
    EXPECT_EQ(m.Entry(typed).FileName, "my clip.flv");
    EXPECT_EQ(m.Entry(typed).FileSize, "1.5 MB");
}

// Each entry reads its own page: two resolved at once never see each other's.
TEST_F(Resolution, EntriesResolvedAtOnceEachReadTheirOwnPage) {
    server.onHead(Reply::Head(kNoLength));
    Reply one = Reply::Ok("<embed src='http://127.0.0.1/tvs/one.swf'>" + QByteArray(50000, ' '));
    one.piece = 1000;
    server.onPath("GET", "/thatvideosite.com/v/1", one);
    server.onPath("GET", "/thatvideosite.com/v/2",
                  Reply::Ok("<embed src='http://127.0.0.1/tvs/two.swf'>"));
    const int16_t a = m.Add(server.url("/thatvideosite.com/v/1"));
    const int16_t b = m.Add(server.url("/thatvideosite.com/v/2"));
    EntryResolver first(m.Key(a), m.list, m.s.needs, m.s.naming);
    EntryResolver second(m.Key(b), m.list, m.s.needs, m.s.naming);
    QStringList links(2);
    QObject::connect(&first, &EntryResolver::Resolved,
                     [&](quint64, const QString& l) { links[0] = l; });
    QObject::connect(&second, &EntryResolver::Resolved,
                     [&](quint64, const QString& l) { links[1] = l; });
    first.ResolveEntry();
    second.ResolveEntry();
    ASSERT_TRUE(RunUntil([&] { return !links[0].isEmpty() && !links[1].isEmpty(); }));
    EXPECT_EQ(links, QStringList({"http://127.0.0.1/tvs/one.swf", "http://127.0.0.1/tvs/two.swf"}));
}

// A page's progress is measured against the page's own length, whatever the header request
// before it announced (the first fetch's own one, or the last video's).
TEST(PageFetchProgress, PercentagesOrPreparingThenStartDownloadingWithARefillPerEvent) {
    const QList<QByteArray> videoSized = {"HTTP/1.1 200 OK", "Content-Length: 1000000"};
    const struct {
        QList<QByteArray> head;
        qsizetype pageSize;
        bool pageLength;      // the page's answer gives its length
        QStringList statuses; // seen by each progress event, in order
    } cases[] = {
        // No length: the values are byte counts; 100 or less still reads as a percentage.
        {kNoLength, 80, false, {"Preparing (80%)"}},
        {videoSized, 3000, false, {"Preparing..."}},
        {kNoLength, 4096, true, {"Preparing (50%)", "Preparing (100%)"}},
        {videoSized, 4096, true, {"Preparing (50%)", "Preparing (100%)"}},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        ScriptServer server;
        Machine m{dir.path()};
        server.onHead(Reply::Head(c.head));
        Reply page = Reply::Ok(QByteArray(c.pageSize, 'p'));
        if (!c.pageLength) // the page ends where the connection does
            page.head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        server.onGet(page);
        const int16_t i = m.Add(server.url("/blip.tv/file/1"));
        m.Run(i);
        // Each new status, and how often the grid was bound by then.
        QStringList seen;
        QList<int> binds;
        m.list.AddObserver([&](const ListChange& ch) {
            if (ch.key != m.Key(i) || m.Entry(i).State != EntryState::Preparing ||
                (!seen.isEmpty() && seen.back() == m.Entry(i).Status))
                return;
            seen << m.Entry(i).Status;
            binds << m.grid.binds;
        });
        EXPECT_EQ(m.GetDownloadLink(m.Entry(i).Video_URL, m.Key(i)), "0");
        EXPECT_EQ(seen, c.statuses);
        // Each status was shown by a refill of its own.
        EXPECT_EQ(m.grid.bound->cellText(0, DownloadTableModel::ColStatus), c.statuses.last());
        for (int k = 1; k < binds.size(); ++k)
            EXPECT_GT(binds[k], binds[k - 1]);
        EXPECT_EQ(m.Entry(i).Status, "Start Downloading...");
    }
}

// Each running entry's progress goes into the entry and its own row, found by its identity
// (several run at a time), without a refill.
TEST(VideoProgress, PercentOrAmountSoFarInTheEntryAndItsOwnCellWithoutARefill) {
    QTemporaryDir dir;
    Machine m{dir.path()};
    const int16_t i = m.Add(QStringLiteral("http://www.youtube.com/watch?v=1"));
    const int16_t other = m.Add(QStringLiteral("http://www.youtube.com/watch?v=2"));
    const struct {
        qint64 expected; // the announced length; -1 for none
        qint64 bytes;
        const char* status;
    } cases[] = {
        {-1, 1536, "1.5 KBso far.."},
        {-1, 1536000, "1.5 MBso far.."},
        {3355443, 1912603, "57"},
        {3355443, 1912603, "57"},
        {3355443, 8388608, "250"}, // more than announced
        {1024, 92, "9"},
    };
    for (const auto& c : cases) {
        m.list.SetFileSize(m.Key(i), "?", c.expected, true);
        m.s.events.BeginVideo(m.Key(i), c.expected, true);
        m.s.events.BeginVideo(m.Key(other), 100, true);
        DownloadTableModel* shown = m.grid.bound;
        const int binds = m.grid.binds;
        m.s.events.VideoProgress(m.Key(i), c.bytes); // the handler must not fill
        m.s.events.VideoProgress(m.Key(other), 25);
        EXPECT_EQ(m.Entry(i).Status, c.status);
        EXPECT_EQ(shown->cellText(0, DownloadTableModel::ColStatus), QString::fromLatin1(c.status));
        EXPECT_EQ(m.grid.binds, binds);
        EXPECT_EQ(shown->cellText(1, DownloadTableModel::ColStatus), "25");
        m.s.events.EndVideo(m.Key(other));
    }
    // A server that reported neither a length nor the file: the counts show as numbers.
    m.s.events.BeginVideo(m.Key(i), -1, false);
    m.s.events.VideoProgress(m.Key(i), 3000);
    EXPECT_EQ(m.Entry(i).Status, "3000");
    // A transfer nobody announced shows nothing.
    m.s.events.EndVideo(m.Key(i));
    m.s.events.VideoProgress(m.Key(i), 5);
    EXPECT_EQ(m.Entry(i).Status, "3000");
}

TEST(LocalFileNaming, NameFromTheServerOrTheAddressWithTheSitesSuffixAndLengthRules) {
    const QString long150 = QString(146, 'n') + ".wmv";
    constexpr qint64 kNone = -1;
    const struct {
        QList<QByteArray> head;
        QString path;
        int site;
        QString name, size;
        qint64 bytes; // the length expected
    } cases[] = {
        {{"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=clip.avi",
          "Content-Length: 2048"},
         "/watch.php?id=7",
         8,
         "clip.avi",
         "2 KB",
         2048},
        {{"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=clip.avi"},
         "/x/movie.flv",
         8,
         "movie.flv",
         "0",
         kNone},
        {{"HTTP/1.1 200 OK", "Content-Length: 1536000"},
         "/x/abc.flv",
         11,
         "abc.flv.flv",
         "1.5 MB",
         1536000},
        {{"HTTP/1.1 404 Not Found"},
         "/get_video?video_id=abcdefghij&t=0123456789",
         2,
         "get_videovideo_id=abcdefghijt=0.flv",
         "-1 Bytes",
         kNone},
        {{"HTTP/1.1 200 OK"}, "/v/" + long150, 8, QString(96, 'n') + ".wmv", "0", kNone},
        {{"HTTP/1.1 200 OK", "Content-Disposition: inline; filename=\"my <clip>.mp4\""},
         "/v.php?x=1",
         12,
         "my clip.mp4",
         "0",
         kNone},
        // A query after the name hides the type: the address's tail is cleaned instead.
        {{"HTTP/1.1 200 OK"}, "/v/a.flv?start=0", 8, "a.flvstart=0", "0", kNone},
        // Nothing usable: never a name for the folder itself or its parent.
        {{"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=.."},
         "/p.php",
         8,
         "Enter File Name",
         "0",
         kNone},
        {{"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=..."},
         "/p.php",
         12,
         "Enter File Name",
         "0",
         kNone},
        {{"HTTP/1.1 200 OK"}, "/a/..", 5, "Enter File Name", "0", kNone},
        {{"HTTP/1.1 200 OK"}, "/a/?&", 13, "Enter File Name.flv", "0", kNone},
        // The served name as servers send it: the quoted value alone, the extended one
        // first, UTF-8 read as UTF-8, and no control character of either set left.
        {{"HTTP/1.1 200 OK", "Content-Disposition: attachment; filename=\"a.flv\"; size=9"},
         "/dl.php?id=1",
         8,
         "a.flv",
         "0",
         kNone},
        {{"HTTP/1.1 200 OK",
          "Content-Disposition: attachment; filename=x.avi; "
          "filename*=UTF-8''%C3%A9t%C3%A9%C2%85.avi",
          "Content-Length: 4294967297"},
         "/dl.php?id=2",
         8,
         u"\u00E9t\u00E9.avi"_s,
         "4 GB",
         4294967297},
        // A length that is no length is none, whatever its size.
        {{"HTTP/1.1 200 OK",
          "Content-Disposition: inline; filename=caf\xC3\xA9\xC2\x9B"
          "31m.mp4",
          "Content-Length: 1e30"},
         "/dl.php?id=3",
         12,
         u"caf\u00E931m.mp4"_s,
         "0",
         kNone},
    };
    QTemporaryDir dir;
    ScriptServer server;
    Machine m{dir.path()};
    for (const auto& c : cases)
        server.onHead(Reply::Head(c.head));
    for (const auto& c : cases) {
        const QString url = server.url(c.path);
        const LocalFileInfo info = m.s.naming.MakeLocalFileName(url, c.site, AskAbout(m, url));
        EXPECT_EQ(info.FileName, c.name) << c.path.toStdString();
        EXPECT_EQ(info.SizeText, c.size) << c.path.toStdString();
        EXPECT_EQ(info.ExpectedBytes, c.bytes) << c.path.toStdString();
    }
}

TEST(YoutubeResolution, PageRedirectAndNamingEndToEnd) {
    QTemporaryDir dir;
    ScriptServer server;
    RawPeer player;
    player.answer = "HTTP/1.1 303 See Other\r\nLocation: http://www.youtube.com/swf/l.swf?"
                    "video_id=AbC123&t=T0k3n\r\n\r\n";
    Machine m{dir.path()};
    m.s.needs.redirectPort = player.server.serverPort();
    server.onHead(Reply::Head(kNoLength));
    server.onGet(Reply::Ok("<input name=\"embed_code\" value=\"&lt;object&gt;&lt;embed "
                           "src=&quot;http://127.0.0.1/v/AbC123&amp;rel=1&quot; "
                           "type=&quot;application/x-shockwave-flash&quot;&gt;\">"));
    const int16_t i = m.Add(server.url("/youtube.com/watch?v=AbC123"));
    EXPECT_EQ(m.Resolve(i), "http://127.0.0.1/get_video?video_id=AbC123&t=T0k3n");
    EXPECT_EQ(player.target(), "/v/AbC123");
    EXPECT_EQ(m.Entry(i).FileName, "get_videovideo_id=AbC123t=T0k3n.flv");
}

TEST(VideoProgress, TheSpeedNoteGivesTheRateAndWhatIsLeftInTime) {
    const struct {
        double bytesPerSecond;
        qint64 left; // -1: the length is unknown
        const char* note;
    } cases[] = {
        {1572864, 36700160, "1.5 MB/s, 24 s left"},
        {1024, 1024 * 125, "1 KB/s, 2 min 5 s left"},
        {100, 100 * 3725, "100 Bytes/s, 1 h 2 min left"},
        {2048, -1, "2 KB/s"},
        {0, 5000, "0 Bytes/s"}, // nothing comes: no time can be told
    };
    for (const auto& c : cases)
        EXPECT_EQ(TransferEvents::SpeedNote(c.bytesPerSecond, c.left), c.note) << c.note;
}
