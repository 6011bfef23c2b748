// Whole runs against servers that try to take over the download folder, hold the run, or fill
// memory, and against a user who holds a question open: each row is one server behaviour and
// the state of the download folder and the files around it afterwards. A download never
// replaces, writes into or leaves behind a file it did not finish, never writes outside the
// folder, and a slow or endless server ends "ERROR" while the run goes on.
#include "Machine.h"
#include "list/ListEditing.h"
#include "support/nginx/NginxServer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <map>
#include <memory>

#include <sys/resource.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kBody = QByteArray(30000, 'v') + "end";
const QByteArray kMine = "# the user's own file\n";

Reply Sized(qsizetype size, const QByteArray& extra = {}) {
    QList<QByteArray> lines{"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(size)};
    if (!extra.isEmpty())
        lines << extra;
    return Reply::Head(lines);
}

// Everything one row needs, fresh: a folder, a scripted server, the download machinery with
// the real rename, and a folder outside the download folder that nothing may touch.
struct Stage {
    QTemporaryDir dir;
    ScriptServer server;
    Machine m{dir.path()};
    ListEditing editing{m.list};
    std::unique_ptr<NginxServer> nginx;
    int pages = 0;

    Stage() {
        m.s.needs.limits = {.connect = 2s, .headers = 2s, .lowSpeedTime = 2s};
        QDir().mkpath(folder());
        QDir().mkpath(outside());
        Write(QDir(outside()).filePath("keep"), kMine);
    }
    QString folder() const { return m.settings.sDownloadDir; }
    QString outside() const { return dir.filePath("outside"); }
    QString In(const QString& name) const { return QDir(folder()).filePath(name); }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    // A ThatVideoSite page naming `video` (an address, or a path on the scripted server).
    QString Page(const QString& video, const QByteArray& filler = {}) {
        const QString address = video.startsWith("http") ? video : server.url(video);
        const QByteArray path = "/thatvideosite.com/" + QByteArray::number(++pages);
        server.onPath("GET", path, Reply::Ok("<embed src='" + address.toLatin1() + "'>" + filler));
        return server.url(QString::fromLatin1(path));
    }
    // Adds an entry whose video at `path` answers the header request and the download so;
    // `filler` follows the video's address on its page.
    void Add(const QByteArray& path, const Reply& head, const Reply& get,
             const QByteArray& filler = {}) {
        server.onPath("HEAD", path, head);
        server.onPath("GET", path, get);
        m.Add(Page(QString::fromLatin1(path), filler));
    }
    void AddGood(const QByteArray& path) { Add(path, Sized(kBody.size()), Reply::Ok(kBody)); }
    // Runs `act` as the first video comes in.
    void DuringVideo(std::function<void()> act) {
        m.OnFirst(
            [](const DownloadItem& e) {
                return e.State == EntryState::Transferring ||
                       e.State == EntryState::TransferringUnsized;
            },
            std::move(act));
    }
};

// What a folder holds: each name with its bytes, or "-> <target>" for a link.
std::map<QString, QByteArray> Listing(const QString& folder) {
    std::map<QString, QByteArray> out;
    const QDir d(folder);
    for (const QFileInfo& f :
         d.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)) {
        out[f.fileName()] = f.isSymLink() ? "-> " + QFileInfo(f.symLinkTarget()).fileName().toUtf8()
                                          : ReadAll(f.filePath());
    }
    return out;
}

struct Row {
    const char* what;
    std::function<void(Stage&)> arrange;
    QStringList statuses;
    std::map<QString, QByteArray> folder = {}; // the download folder afterwards
    QStringList names = {};                    // the entries' file names afterwards; empty: any
    std::function<void(Stage&)> check = {};    // anything else to look at
};

} // namespace

TEST(Hostile, ServersAndUsersNeverCostAFileOrHoldTheRun) {
    const QString typed = QString::fromUtf8("映").repeated(100) + ".flv";    // 304 bytes
    const QString typedFits = QString::fromUtf8("映").repeated(83) + ".flv"; // 253 bytes
    const Row rows[] = {
        {"a served name .bashrc, and an address ending in /.profile, beside the user's own",
         [](Stage& s) {
             for (const char* own : {".bashrc", ".profile"}) {
                 Stage::Write(s.In(own), kMine);
                 QFile::setPermissions(s.In(own), QFileDevice::ReadOwner);
             }
             s.Add("/get.php?id=1",
                   Sized(kBody.size(), "Content-Disposition: attachment; filename=.bashrc"),
                   Reply::Ok(kBody));
             s.AddGood("/x/.profile");
         },
         {"Complete", "Complete"},
         {{".bashrc", kMine}, {".profile", kMine}, {"bashrc", kBody}, {"profile", kBody}},
         {"bashrc", "profile"}},

        {"two videos of one name, and two names that clean to nothing",
         [](Stage& s) {
             s.AddGood("/a/clip.flv");
             s.AddGood("/b/clip.flv");
             s.Add("/dl.php?n=1", Sized(kBody.size(), "Content-Disposition: inline; filename=.."),
                   Reply::Ok(kBody));
             s.Add("/dl.php?n=2", Sized(kBody.size(), "Content-Disposition: inline; filename=. ."),
                   Reply::Ok(kBody));
         },
         {"Complete", "Complete", "Complete", "Complete"},
         {{"clip.flv", kBody},
          {"clip (2).flv", kBody},
          {"Enter File Name", kBody},
          {"Enter File Name (2)", kBody}},
         {"clip.flv", "clip (2).flv", "Enter File Name", "Enter File Name (2)"}},

        {"a file created at the final name while the video comes in",
         [](Stage& s) {
             Reply pieces = Reply::Ok(kBody);
             pieces.piece = 4096;
             s.Add("/late.flv", Sized(kBody.size()), pieces);
             s.DuringVideo([&s] { Stage::Write(s.In("late.flv"), kMine); });
         },
         {"Complete"},
         {{"late.flv", kMine}, {"late (2).flv", kBody}},
         {"late (2).flv"}},

        {"links planted at the partial and the final name during the header request",
         [](Stage& s) {
             s.server.onRequest = [&s](const ScriptServer::Request& r) {
                 if (r.method() != "HEAD" || r.target() != "/link.flv")
                     return;
                 QFile::link(QDir(s.outside()).filePath("keep"), s.In("link.flv.part"));
                 QFile::link(QDir(s.outside()).filePath("absent"), s.In("link.flv"));
             };
             s.AddGood("/link.flv");
         },
         {"Complete"},
         {{"link.flv.part", "-> keep"}, {"link.flv", "-> absent"}, {"link (2).flv", kBody}},
         {"link (2).flv"}},

        {"control characters in a served name, and a typed name of 304 bytes",
         [&typed](Stage& s) {
             s.Add("/ctl.php",
                   Sized(kBody.size(), "Content-Disposition: attachment; filename=a\x1b[2Jb\x07"
                                       "c\x7f.avi"),
                   Reply::Ok(kBody));
             s.AddGood("/typed.flv");
             s.m.list.FillDownloadList();
             DownloadTableModel* rows = s.m.list.BoundRecordset();
             rows->setData(rows->index(1, DownloadTableModel::ColFileName), typed);
         },
         {"Complete", "Complete"},
         {{"a[2Jbc.avi", kBody}, {typedFits, kBody}},
         {"a[2Jbc.avi", typedFits}},

        {"a 9 MiB page, whose video would be found if it were read",
         [](Stage& s) {
             s.Add("/unseen.flv", Sized(kBody.size()), Reply::Ok(kBody), QByteArray(9 << 20, 'p'));
             s.AddGood("/after.flv");
         },
         {"ERROR", "Complete"},
         {{"after.flv", kBody}}},

        {"a server that sends a byte every 200 ms",
         [](Stage& s) {
             s.m.s.needs.limits = {.headers = 30s, .lowSpeedTime = 1s};
             Reply trickle = Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 100000"});
             trickle.drip = "a";
             trickle.dripEvery = 200;
             s.Add("/trickle.flv", Sized(100000), trickle);
             s.AddGood("/next.flv");
         },
         {"ERROR", "Complete"},
         {{"next.flv", kBody}}},

        {"header lines without end",
         [](Stage& s) {
             s.m.s.needs.limits = {.headers = 1s, .lowSpeedTime = 30s};
             Reply endless;
             endless.head = "HTTP/1.1 200 OK\r\n";
             endless.drip = "X-Filler: 1\r\n";
             endless.dripEvery = 20;
             s.Add("/headers.flv", Sized(kBody.size()), endless);
             s.AddGood("/next.flv");
         },
         {"ERROR", "Complete"},
         {{"next.flv", kBody}}},

        {"chunk trailers without end, faster than the low-speed limit",
         [](Stage& s) {
             s.m.s.needs.limits = {.headers = 30s, .lowSpeedTime = 1s};
             Reply endless = Reply::Head({"HTTP/1.1 200 OK", "Transfer-Encoding: chunked"});
             endless.body = "5\r\nhello\r\n0\r\n";
             endless.drip = "X-Trailer: 1234567890\r\n";
             endless.dripEvery = 5;
             s.Add("/trailers.flv", Sized(5), endless);
             s.AddGood("/next.flv");
         },
         {"ERROR", "Complete"},
         {{"next.flv", kBody}}},

        {"a stop confirmed in mid-transfer",
         [](Stage& s) {
             Reply pieces = Reply::Ok(kBody);
             pieces.piece = 2048;
             s.Add("/stopped.flv", Sized(kBody.size()), pieces);
             s.AddGood("/waits.flv");
             s.m.prompter.answers = {MsgAnswer::Yes};
             s.DuringVideo([&s] { s.m.Click(); });
         },
         {"Cancelled", "Waiting"},
         {}},

        {"a write that fails in mid-transfer (the file-size limit)",
         [](Stage& s) {
             const QByteArray big(600 << 10, 'w');
             s.Add("/big.flv", Sized(big.size()), Reply::Ok(big));
             s.AddGood("/small.flv");
             std::signal(SIGXFSZ, SIG_IGN);
             rlimit limit{};
             getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = 256 << 10;
             setrlimit(RLIMIT_FSIZE, &limit);
         },
         {"ERROR", "Complete"},
         {{"small.flv", kBody}},
         {},
         [](Stage&) {
             rlimit limit{};
             getrlimit(RLIMIT_FSIZE, &limit);
             limit.rlim_cur = limit.rlim_max;
             setrlimit(RLIMIT_FSIZE, &limit);
         }},

        {"the stop question held open past nginx's send time-out, answered No",
         [](Stage& s) {
             s.nginx = std::make_unique<NginxServer>();
             s.nginx->addServerConfig("send_timeout 1s;");
             ASSERT_TRUE(s.nginx->start()) << s.nginx->errorString().toStdString();
             s.nginx->createFile("big.flv", 48 << 20, 7);
             s.m.Add(s.Page(s.nginx->url("/big.flv")));
             s.m.prompter.answers = {MsgAnswer::No};
             s.m.prompter.onShow = [](const MsgRequest&) {
                 QEventLoop box; // as a message box runs one, with its window open
                 QTimer::singleShot(2500, &box, &QEventLoop::quit);
                 box.exec();
             };
             s.DuringVideo([&s] { s.m.Click(); });
         },
         {"Complete"},
         {},
         {"big.flv"},
         [](Stage& s) {
             EXPECT_EQ(s.m.prompter.shown.size(), 1u);
             QString problem;
             EXPECT_TRUE(pattern::fileMatches(s.In("big.flv"), 48 << 20, 7, &problem))
                 << problem.toStdString();
             EXPECT_EQ(QDir(s.folder()).entryList(QDir::Files | QDir::Hidden),
                       QStringList({"big.flv"}));
         }},
    };

    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Stage s;
        row.arrange(s);
        const auto outsideBefore = Listing(s.outside());
        QElapsedTimer clock;
        clock.start();
        s.m.Click();
        EXPECT_LT(clock.elapsed(), 20000); // no server holds the run

        if (row.check)
            row.check(s);
        EXPECT_EQ(Statuses(s.m.list), row.statuses);
        if (!row.folder.empty() || !row.check) {
            EXPECT_EQ(Listing(s.folder()), row.folder);
        }
        EXPECT_EQ(Listing(s.outside()), outsideBefore); // nothing written outside the folder
        if (!row.names.isEmpty()) {
            QStringList names;
            for (const DownloadItem& item : s.m.list.Entries())
                names << item.FileName;
            EXPECT_EQ(names, row.names);
        }
        // The grid shows the names the entries hold.
        if (const DownloadTableModel* shown = s.m.list.BoundRecordset()) {
            for (int i = 0; i < shown->rowCount(); ++i)
                EXPECT_EQ(shown->cellText(i, DownloadTableModel::ColFileName),
                          s.m.Entry(int16_t(i)).FileName);
        }
        EXPECT_FALSE(s.m.run.bDownloading());
    }
}
