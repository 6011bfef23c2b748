// Whole runs against servers that misbehave and folders that refuse the files: every failing
// entry ends "ERROR", the run goes on with the next one, and what completes is exactly what the
// server sent.
#include "Machine.h"
#include "resolve/Sites.h"
#include "support/QtPrint.h"
#include "support/RawPeer.h"
#include "support/TinyDisk.h"
#include "support/http/ScriptServer.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>

#include <sys/mount.h>
#include <unistd.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

Reply Sized(const QByteArray& body) {
    return Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(body.size())});
}

class Faults : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Machine m{dir.path()};
    ScriptServer server;

    void SetUp() override {
        m.s.needs.limits = {.connect = 1s, .headers = 1s, .lowSpeedTime = 300ms};
    }
    QString Saved(const QString& name) const { return m.Saved(name); }
    void Click() { m.Click(); }
    QString ServeVideo(const QString& name, const Reply& head, const Reply& get) {
        return test::ServeVideo(server, name, head, get);
    }
    QString ServeGood(const QString& name, const QByteArray& body) {
        return ServeVideo(name, Sized(body), Reply::Ok(body));
    }
};

} // namespace

TEST_F(Faults, AStalledVideoAndASilentPageServerEndErrorAndTheRunGoesOn) {
    const QByteArray body = QByteArray(20000, 's') + "tail";
    Reply stall = Reply::Ok(body);
    stall.cutAt = 6000;
    stall.after = Reply::After::Hang;
    Reply silent;
    silent.silent = true;
    const QString stalled = ServeVideo("stalled", Sized(body), stall);
    server.onPath("GET", "/putfile.com/silent", silent);
    const QString good = ServeGood("good", body);
    m.Add(stalled);
    m.Add(server.url("/putfile.com/silent"));
    m.Add(good);

    QElapsedTimer clock;
    clock.start();
    Click();
    EXPECT_LT(clock.elapsed(), 5000); // two stall times and the rest, not the default minutes

    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR", "Complete"}));
    EXPECT_FALSE(QFileInfo::exists(Saved("stalled.flv"))); // nor its partial file
    EXPECT_EQ(QDir(m.settings.sDownloadDir).entryList(QDir::Files), QStringList({"good.flv"}));
    EXPECT_EQ(ReadAll(Saved("good.flv")), body);
    EXPECT_FALSE(m.run.bDownloading());
}

TEST_F(Faults, AVideoLargerThanTheDiskEndsErrorAndASmallOneAfterItCompletes) {
    TinyDisk disk(dir.filePath("tiny"));
    if (!disk.mounted)
        GTEST_SKIP() << disk.why.toStdString();
    m.settings.sDownloadDir = QDir(disk.path).filePath("Videos");
    const QByteArray big = QByteArray(200000, 'B');
    const QByteArray small = QByteArray(4000, 'l');
    m.Add(ServeGood("small1", small));
    m.Add(ServeGood("big", big));
    m.Add(ServeGood("small2", small));
    Click();

    EXPECT_EQ(Statuses(m.list), QStringList({"Complete", "ERROR", "Complete"}));
    EXPECT_EQ(ReadAll(Saved("small1.flv")), small);
    EXPECT_EQ(ReadAll(Saved("small2.flv")), small);
    EXPECT_FALSE(QFileInfo::exists(Saved("big.flv"))); // the part that fitted is not kept
}

TEST_F(Faults, AReadOnlyFolderOrOneThatCantBeCreatedEndsEachEntryError) {
    const QByteArray body(3000, 'r');
    m.Add(ServeGood("r1", body));
    m.Add(ServeGood("r2", body));

    // A plain file where a parent folder should be: the folder can't be created.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m.settings.sDownloadDir = dir.filePath("blocker/Videos");
    Click();
    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
    EXPECT_EQ(QFileInfo(dir.filePath("blocker")).size(), 0);

    TinyDisk disk(dir.filePath("ro"));
    if (!disk.mounted)
        GTEST_SKIP() << disk.why.toStdString();
    ASSERT_TRUE(QDir().mkdir(QDir(disk.path).filePath("Videos")));
    if (!disk.MakeReadOnly())
        GTEST_SKIP() << "the small file system can't be made read-only";
    for (const char* folder : {"Videos", "NotYetThere"}) {
        SCOPED_TRACE(folder);
        m.SetState(0, EntryState::Waiting);
        m.SetState(1, EntryState::Waiting);
        m.settings.sDownloadDir = QDir(disk.path).filePath(folder);
        Click();
        EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
        EXPECT_FALSE(QFileInfo::exists(Saved("r1.flv")));
    }
    EXPECT_FALSE(m.run.bDownloading());
}

namespace {

// What the soak's servers do with one entry.
enum class Fault {
    None,
    VideoStall,    // half the body, then silence
    VideoClose,    // half the body, then the connection closes
    VideoNoReply,  // the connection closes before a byte of the answer
    HeadGarbage,   // the header request gets no HTTP back: no file known, though GET works
    Video404,      // an error page instead of the video
    VideoGarbage,  // a header block that is no HTTP
    VideoLonger,   // more bytes than Content-Length announces
    VideoShorter,  // fewer bytes than announced, then close
    VideoRedirect, // 302 to another path that has the video
    PageStall,     // the page server never answers
    Page404,       // the page is an error page without the video's address
    PageGarbage,   // the page's header block is no HTTP
};

bool Completes(Fault f) {
    return f == Fault::None || f == Fault::VideoLonger || f == Fault::VideoRedirect;
}

struct SoakEntry {
    QString page;
    int32_t site = 0;
    Fault fault = Fault::None;
    bool reachable = false; // the page names a video on the loopback server
    QByteArray expected;    // what a complete file must hold
};

// A page of the given site naming `video`, built from the markers its extractor reads; empty
// when the site's video address can't point at the loopback server.
QByteArray SitePage(int32_t site, const QString& pageUrl, const QString& video) {
    const QByteArray v = video.toLatin1();
    switch (site) {
    case 1:
        return "<a href=\"" + v + "\">iPod</a><span class=\"ipoddownloadlink\"></span>";
    case 3:
        return "<input Value=\"[url=" + pageUrl.toLatin1() + "][IMG]" + v + "[/IMG]\">";
    case 5:
        return "<embed src=\"" + v + "\" w=1>";
    case 6:
        return "<embed src='" + v + "' w=1>";
    case 8:
        return "{*url* : *" + v + "*, *w* : 1}";
    case 10:
        return "<input readonly=\"readonly\" type=\"text\" class=\"permalink_input\" value=\"" + v +
               "\">";
    case 11:
        return "so.addVariable(\"url\", \"" + QUrl::toPercentEncoding(video) + "\");";
    case 12:
        return PutFilePage(video);
    case 13:
        return "<param value='storageId=st&amp;userName=us&amp;videoId=" +
               v.mid(v.lastIndexOf('/') + 1) + "&amp;srvURL=" + v.left(v.indexOf("/z/") + 2) + "'>";
    default:
        return {};
    }
}

// The video's path on the loopback server for entry i of a site, chosen so the site's
// extractor turns SitePage's address back into it.
QByteArray VideoPath(int32_t site, int i) {
    const QByteArray n = "e" + QByteArray::number(i);
    switch (site) {
    case 3:
        return "/image/" + n + "_1.jpg"; // the page names the thumbnail; the movie is beside it
    case 13:
        return "/z/st/us/" + n;
    default:
        return "/vid/" + n + ".flv";
    }
}

QByteArray FetchedPath(int32_t site, int i) {
    return site == 3 ? "/movie/e" + QByteArray::number(i) + ".flv" : VideoPath(site, i);
}

bool PortOpen(quint16 port) {
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    return probe.waitForConnected(500);
}

// Every file and folder below `root`, with size and modification time, leaving out the
// given subfolders.
QStringList Listing(const QString& root, const QStringList& skip) {
    QStringList out;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString rel = QDir(root).relativeFilePath(path);
        if (std::any_of(skip.begin(), skip.end(),
                        [&](const QString& s) { return rel == s || rel.startsWith(s + '/'); }))
            continue;
        const QFileInfo info(path);
        // A folder's time changes with what is added below it; only files count.
        out << (info.isDir() ? rel + '/'
                             : rel + QStringLiteral(" %1 %2")
                                         .arg(info.size())
                                         .arg(info.lastModified().toMSecsSinceEpoch()));
    }
    out.sort();
    return out;
}

} // namespace

TEST(Soak, ThreeHundredEntriesOfEverySiteAgainstMisbehavingServers) {
    QTemporaryDir base;
    ASSERT_TRUE(QDir(base.path()).mkdir("run"));
    QFile bystander(base.filePath("bystander.flv"));
    ASSERT_TRUE(bystander.open(QIODevice::WriteOnly));
    bystander.write("untouched");
    bystander.close();
    const QString folder = base.filePath("run");
    Machine m{folder};
    m.s.needs.limits = {.connect = 1s, .headers = 1s, .lowSpeedTime = 300ms};
    ScriptServer server;
    const quint16 port = server.port();
    const QString host = QStringLiteral("http://127.0.0.1:%1").arg(port);

    // The YouTube player host answers with a redirect; the video address it leads to is on
    // port 80 of the loopback address, where no test server listens.
    RawPeer player;
    player.onRequest = [&player] {
        const QByteArray target = player.target();
        player.answer = "HTTP/1.1 303 See Other\r\nLocation: http://www.youtube.com/swf/l.swf?"
                        "video_id=" +
                        target.mid(target.lastIndexOf('/') + 1) + "&t=T0k\r\n\r\n";
    };
    m.s.needs.redirectPort = player.server.serverPort();
    m.s.needs.redirectWait = 1s;
    const bool port80Busy = PortOpen(80);

    std::mt19937 rng(20070407);
    auto pick = [&rng](int n) { return int(std::uniform_int_distribution<int>(0, n - 1)(rng)); };
    auto bytes = [&rng](qsizetype n) {
        QByteArray out(n, Qt::Uninitialized);
        for (char& c : out)
            c = char(rng() & 0xFF);
        return out;
    };
    const int kEntries = 300;
    std::vector<SoakEntry> entries;
    std::map<Fault, int> seen;
    for (int i = 0; i < kEntries; ++i) {
        SoakEntry e;
        const SiteEntry& site = kSites[std::size_t(i) % kSites.size()];
        e.site = site.code;
        const QByteArray pagePath = "/" + QByteArray(site.domain) + "/p" + QByteArray::number(i);
        e.page = host + QString::fromLatin1(pagePath);
        // Rare stalls keep the run short; the other faults are common.
        const int roll = pick(100);
        static constexpr Fault kCommon[] = {
            Fault::None,         Fault::None,        Fault::VideoClose,   Fault::Video404,
            Fault::VideoGarbage, Fault::VideoLonger, Fault::VideoShorter, Fault::VideoRedirect,
            Fault::Page404,      Fault::PageGarbage, Fault::None,         Fault::VideoNoReply,
            Fault::HeadGarbage,
        };
        e.fault = roll < 2   ? Fault::VideoStall
                  : roll < 4 ? Fault::PageStall
                             : kCommon[pick(int(std::size(kCommon)))];

        const QByteArray body = bytes(1 + pick(30000));
        const QString video = host + QString::fromLatin1(VideoPath(e.site, i));
        QByteArray page = SitePage(e.site, e.page, video);
        if (e.site == 2 && !port80Busy)
            page = "<input value=\"&lt;embed src=&quot;http://127.0.0.1/v/y" +
                   QByteArray::number(i) + "&amp;rel=1&quot;&gt;\">";
        e.reachable = !page.isEmpty() && e.site != 2;
        if (page.isEmpty())
            page = "<html>no video named here</html>";

        Reply pageReply = Reply::Ok(page);
        if (e.fault == Fault::PageStall) {
            pageReply.silent = true;
        } else if (e.fault == Fault::Page404) {
            pageReply = Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 9"});
            pageReply.body = "not found";
        } else if (e.fault == Fault::PageGarbage) {
            pageReply.head = "\x01\x7f garbage \r\n\r\n";
        }
        server.onPath("GET", pagePath, pageReply);

        const QByteArray path = FetchedPath(e.site, i);
        const QByteArray announced = "Content-Length: " + QByteArray::number(body.size());
        Reply head = Sized(body);
        Reply get = Reply::Ok(body);
        e.expected = body;
        switch (e.fault) {
        case Fault::VideoStall:
            get.cutAt = body.size() / 2;
            get.after = Reply::After::Hang;
            break;
        case Fault::VideoClose:
            get.cutAt = body.size() / 2;
            break;
        case Fault::VideoNoReply:
            get = Reply{};
            break;
        case Fault::HeadGarbage:
            head.head = "\x03\x04 not a status line\r\n\r\n";
            break;
        case Fault::Video404:
            get = Reply::Head({"HTTP/1.1 404 Not Found", announced});
            get.body = body;
            break;
        case Fault::VideoGarbage:
            get.head = "HTTX/1.1 ##\x02\r\n" + announced + "\r\n\r\n";
            break;
        case Fault::VideoLonger:
            get.body = body + bytes(1 + pick(5000));
            break;
        case Fault::VideoShorter:
            get.cutAt = body.size() - 1 - pick(int(std::min<qsizetype>(body.size(), 1000)));
            break;
        case Fault::VideoRedirect: {
            const QByteArray moved =
                "/moved/e" + QByteArray::number(i) + path.mid(path.lastIndexOf('/'));
            get = Reply::Head({"HTTP/1.1 302 Found", "Location: " + moved, "Content-Length: 0"});
            head = get;
            server.onPath("HEAD", moved, Sized(body));
            server.onPath("GET", moved, Reply::Ok(body));
            break;
        }
        default:
            break;
        }
        server.onPath("HEAD", path, head);
        server.onPath("GET", path, get);
        ++seen[e.fault];
        entries.push_back(e);
        m.Add(e.page);
    }
    ASSERT_EQ(m.list.Entries().size(), std::size_t(kEntries));
    EXPECT_EQ(seen.size(), std::size_t(Fault::PageGarbage) + 1); // every fault is tried
    const QStringList skip = {"run/Downloaded Videos", "run/cache"};
    const QStringList before = Listing(base.path(), skip);

    QElapsedTimer clock;
    clock.start();
    m.Click();
    const qint64 elapsed = clock.elapsed();
    std::printf("soak: %d entries in %lld ms\n", kEntries, static_cast<long long>(elapsed));

    EXPECT_FALSE(m.run.bDownloading());
    ASSERT_EQ(m.list.Entries().size(), std::size_t(kEntries));
    std::set<QString> completeFiles;
    for (int i = 0; i < kEntries; ++i) {
        const SoakEntry& e = entries[std::size_t(i)];
        const DownloadItem& item = m.Entry(int16_t(i));
        SCOPED_TRACE(QStringLiteral("entry %1 site %2 fault %3")
                         .arg(i)
                         .arg(e.site)
                         .arg(int(e.fault))
                         .toStdString());
        EXPECT_TRUE(item.Status == "Complete" || item.Status == "ERROR" ||
                    item.Status == "Cancelled")
            << item.Status.toStdString();
        const bool shouldComplete = e.reachable && Completes(e.fault);
        EXPECT_EQ(item.Status == "Complete", shouldComplete) << item.Status.toStdString();
        if (item.Status == "Complete") {
            const QString file = QDir(m.settings.sDownloadDir).filePath(item.FileName);
            EXPECT_TRUE(completeFiles.insert(file).second)
                << "two entries share " << file.toStdString();
            EXPECT_TRUE(ReadAll(file) == e.expected) << file.toStdString();
        }
    }
    EXPECT_EQ(Listing(base.path(), skip), before);
    for (const QFileInfo& info :
         QDir(folder).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        EXPECT_EQ(info.fileName(), "Downloaded Videos"); // pages are read in memory
    EXPECT_EQ(QDir(folder).entryList({"*.flv"}, QDir::Files), QStringList());
    // Each file in the download folder is named by an entry: none landed beside or below it.
    std::set<QString> named;
    for (const DownloadItem& item : m.list.Entries())
        named.insert(item.FileName);
    for (const QString& name :
         QDir(m.settings.sDownloadDir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        EXPECT_TRUE(named.count(name)) << name.toStdString();
    if (!port80Busy) {
        EXPECT_GT(player.connections, 0); // the YouTube entries went through the redirect
    }
    EXPECT_LT(elapsed, 60000);
}
