// Downloads that stop before their end and continue: a server that breaks off, ignores
// ranges, changes its file or answers ranges wrongly, records that are damaged or not ours,
// and tries made again after failures that may pass. Each row is checked byte for byte against
// the file the server holds, and for what is left in the download folder.
#include "Machine.h"
#include "scheduler/PartialRecord.h"
#include "support/QtPrint.h"
#include "support/http/ScriptServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <optional>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

QByteArray Body(int version, qsizetype size) {
    QByteArray b(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        b[i] = char((i * 7 + version * 31 + i / 251) & 0xFF);
    return b;
}

// A video server that reads the request's Range and If-Range, and misbehaves as told.
struct VideoServer {
    QByteArray body = Body(1, 400000);
    QByteArray etag = "\"v1\"";
    bool honoursRange = true;
    bool honoursIfRange = true;     // a changed file gets 200; otherwise 206 of the new file
    qsizetype shift = 0;            // a 206 that starts this many bytes away from what was asked
    qint64 unsatisfiableTotal = -1; // >= 0: a range answered 416 with this total
    // The n-th GET (from 0) breaks off after this fraction of the file's bytes in all, or
    // answers this status first (no body).
    std::map<int, double> breakAt;
    std::map<int, QByteArray> statusAt;
    QByteArray retryAfter;
    qsizetype piece = 0; // the body goes out in pieces of this size
    // What the file's GETs asked and got.
    int gets = 0;
    QList<QByteArray> ranges;
    qint64 sent = 0;

    std::optional<Reply> Answer(const ScriptServer::Request& r) {
        if (r.method() == "HEAD")
            return Reply::Head({"HTTP/1.1 200 OK",
                                "Content-Length: " + QByteArray::number(body.size()),
                                "ETag: " + etag});
        const int n = gets++;
        const QByteArray range = r.header("Range");
        ranges << range;
        if (const auto s = statusAt.find(n); s != statusAt.end()) {
            QList<QByteArray> lines = {"HTTP/1.1 " + s->second, "Content-Length: 0"};
            if (!retryAfter.isEmpty())
                lines << "Retry-After: " + retryAfter;
            return Reply::Head(lines);
        }
        qint64 from = 0;
        if (range.startsWith("bytes=") && honoursRange)
            from = range.mid(6, range.indexOf('-') - 6).toLongLong();
        const QByteArray ifRange = r.header("If-Range");
        const bool changed = !ifRange.isNull() && ifRange != etag && honoursIfRange;
        Reply reply;
        if (from > 0 && unsatisfiableTotal >= 0) {
            reply = Reply::Head({"HTTP/1.1 416 Range Not Satisfiable",
                                 "Content-Range: bytes */" + QByteArray::number(unsatisfiableTotal),
                                 "Content-Length: 0"});
        } else if (from > 0 && !changed) {
            from += shift;
            reply = Reply::Head(
                {"HTTP/1.1 206 Partial Content",
                 "Content-Range: bytes " + QByteArray::number(from) + "-" +
                     QByteArray::number(body.size() - 1) + "/" + QByteArray::number(body.size()),
                 "Content-Length: " + QByteArray::number(body.size() - from), "ETag: " + etag});
            reply.body = body.mid(from);
        } else {
            from = 0;
            reply = Reply::Ok(body, "ETag: " + etag + "\r\n");
        }
        reply.piece = piece;
        if (const auto b = breakAt.find(n); b != breakAt.end())
            reply.cutAt = std::max<qsizetype>(qsizetype(b->second * double(body.size())) - from, 0);
        sent += reply.cutAt >= 0 ? reply.cutAt : reply.body.size();
        return reply;
    }
};

class Resume : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptServer server;
    VideoServer video;
    std::unique_ptr<Machine> m;

    void SetUp() override {
        server.respond = [this](const ScriptServer::Request& r) -> std::optional<Reply> {
            if (r.target() == "/clip.flv")
                return video.Answer(r);
            return std::nullopt;
        };
        server.onPath("GET", "/putfile.com/clip", Reply::Ok(PutFilePage(server.url("/clip.flv"))));
        NewMachine();
    }
    // A program of its own: a restart keeps only what is on disk.
    void NewMachine() {
        if (m)
            m->s.records.Settle(); // what the last program wrote is on disk before the next
        m = std::make_unique<Machine>(dir.path());
        m->s.needs.retry = {.tries = 5, .firstWait = 10ms, .longestWait = 3s};
        QDir().mkpath(m->settings.sDownloadDir);
    }
    // Each row starts from an empty download folder.
    void Empty() {
        m->s.records.Settle();
        QDir(m->settings.sDownloadDir).removeRecursively();
        QDir().mkpath(m->settings.sDownloadDir);
    }
    QString Page() const { return server.url("/putfile.com/clip"); }
    QString In(const QString& name) const { return QDir(m->settings.sDownloadDir).filePath(name); }
    QStringList Files() const {
        m->s.records.Settle();
        return QDir(m->settings.sDownloadDir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    // Adds the page and runs the list through.
    void Run() {
        if (m->list.Entries().empty())
            m->Add(Page());
        m->Click();
    }
    // Every status text the entry shows, once each time it changes.
    QStringList Watch() {
        auto seen = std::make_shared<QStringList>();
        m->list.AddObserver([this, seen](const ListChange&) {
            if (m->list.Entries().empty())
                return;
            const QString& status = m->list.Entries()[0].Status;
            if (seen->isEmpty() || seen->back() != status)
                *seen << status;
        });
        watched_ = seen;
        return {};
    }
    QStringList Seen() const { return watched_ ? *watched_ : QStringList(); }

private:
    std::shared_ptr<QStringList> watched_;
};

} // namespace

// One table of what servers do to a download that breaks off, each run until it ends.
TEST_F(Resume, BreaksAndMisbehavingServersNeverGiveAWrongFile) {
    struct Row {
        const char* what;
        std::function<void(VideoServer&)> arrange;
        // Between the first break and the next try (the file changes on the server).
        std::function<void(VideoServer&)> meanwhile;
        int gets;                 // the file's GETs in all
        QList<QByteArray> ranges; // what each asked
        double maxSentRatio;      // the file's bytes sent, at most this many times its size
    };
    const QByteArray v2 = "\"v2\"";
    const Row rows[] = {
        {"broken off at 30 % and at 60 %",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}, {1, 0.6}};
         },
         {},
         3,
         {{}, "bytes=120000-", "bytes=240000-"},
         1.05},
        {"the server ignores ranges: the whole file again, from the first byte",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
             v.honoursRange = false;
         },
         {},
         2,
         {{}, "bytes=120000-"},
         1.35},
        {"the file changed and If-Range is honoured: the new file, whole",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
         },
         [v2](VideoServer& v) {
             v.body = Body(2, 400000);
             v.etag = v2;
         },
         2,
         {{}, "bytes=120000-"},
         1.35},
        {"the file changed, If-Range ignored, the new ETag sent: fetched whole again",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
             v.honoursIfRange = false;
         },
         [v2](VideoServer& v) {
             v.body = Body(2, 400000);
             v.etag = v2;
         },
         3,
         {{}, "bytes=120000-", {}},
         2.0},
        {"a 206 that starts earlier than asked: fetched whole again",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
             v.shift = -100;
         },
         {},
         3,
         {{}, "bytes=120000-", {}},
         2.05},
        {"a 206 that starts later than asked: fetched whole again",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
             v.shift = 100;
         },
         {},
         3,
         {{}, "bytes=120000-", {}},
         2.0},
        {"416 with another total: fetched whole again",
         [](VideoServer& v) {
             v.breakAt = {{0, 0.3}};
             v.unsatisfiableTotal = 999;
         },
         {},
         3,
         {{}, "bytes=120000-", {}},
         2.0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        video = VideoServer{};
        NewMachine();
        Empty();
        row.arrange(video);
        if (row.meanwhile) {
            m->OnFirst([](const DownloadItem& e) { return e.State == EntryState::Retrying; },
                       [&] { row.meanwhile(video); });
        }
        Run();
        ASSERT_EQ(m->Entry(0).Status, "Complete") << m->Entry(0).Reason.toStdString();
        EXPECT_TRUE(ReadAll(In("clip.flv")) == video.body);
        EXPECT_EQ(Files(), QStringList({"clip.flv"}));
        EXPECT_EQ(video.gets, row.gets);
        EXPECT_EQ(video.ranges, row.ranges);
        EXPECT_LE(double(video.sent), row.maxSentRatio * double(video.body.size()));
    }
}

// A download stopped, or cut off by the program's end, continues in the next program from
// what its partial file holds: the same file, and only the rest is sent.
TEST_F(Resume, AStoppedDownloadContinuesInTheNextProgram) {
    video.body = Body(1, 3 << 20);
    video.piece = 64 << 10;
    m->Add(Page());
    m->OnFirst(
        [](const DownloadItem& e) {
            return e.State == EntryState::Transferring && e.Progress >= 30;
        },
        [&] {
            QTimer::singleShot(0, [&] {
                m->prompter.answers = {MsgAnswer::Yes};
                m->Click(); // the stop question, answered Yes
            });
        });
    m->Click();
    ASSERT_EQ(m->Entry(0).Status, "Cancelled");
    QStringList left = Files();
    ASSERT_EQ(left, QStringList({"clip.flv.part", "clip.flv.part.json"}));
    const qint64 kept = QFileInfo(In("clip.flv.part")).size();

    // The next program: the list comes back with the entry, the folder holds its file.
    NewMachine();
    m->Add(Page());
    const qint64 sentBefore = video.sent;
    Run();
    ASSERT_EQ(m->Entry(0).Status, "Complete") << m->Entry(0).Reason.toStdString();
    EXPECT_TRUE(ReadAll(In("clip.flv")) == video.body);
    EXPECT_EQ(Files(), QStringList({"clip.flv"}));
    ASSERT_EQ(video.ranges.size(), 2);
    EXPECT_TRUE(video.ranges[1].startsWith("bytes=")) << video.ranges[1].toStdString();
    EXPECT_LE(video.sent - sentBefore, video.body.size() - kept + (1 << 20));
}

// Partial files and records a run finds beside it: continued only when the record is sound,
// names this page and the very file; left alone when the file is not shown to be ours.
TEST_F(Resume, OnlyARecordThatIsOursIsContinued) {
    struct Row {
        const char* what;
        // The record written beside a partial file of the file's first 100,000 bytes; empty
        // for none. %INODE% and %DEVICE% stand for the partial file's own.
        QByteArray record;
        bool continued;     // the run asked for the rest
        QStringList folder; // what is left
    };
    const QByteArray good = R"({"version":1,"page":"%PAGE%","media":"x","part":"clip.flv.part",)"
                            R"("name":"clip.flv","etag":"\"v1\"","lastModified":"","total":400000,)"
                            R"("bytes":100000,"inode":"%INODE%","device":"%DEVICE%"})";
    QByteArray otherPage = good;
    otherPage.replace("%PAGE%", "http://elsewhere/putfile.com/other");
    QByteArray otherFile = good;
    otherFile.replace("%INODE%", "1");
    QByteArray otherTotal = good;
    otherTotal.replace("400000", "500000");
    const Row rows[] = {
        {"a sound record of ours", good, true, {"clip.flv"}},
        {"no record: the partial file is not shown to be ours",
         "",
         false,
         {"clip.flv", "clip.flv.part"}},
        {"a damaged record",
         good.left(60),
         false,
         {"clip.flv", "clip.flv.part", "clip.flv.part.json"}},
        {"a record of another page",
         otherPage,
         false,
         {"clip.flv", "clip.flv.part", "clip.flv.part.json"}},
        {"a record of another file in the partial file's place",
         otherFile,
         false,
         {"clip.flv", "clip.flv.part", "clip.flv.part.json"}},
        {"a record of ours, of a file of another length: replaced",
         otherTotal,
         false,
         {"clip.flv"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        video = VideoServer{};
        NewMachine();
        Empty();
        {
            QFile part(In("clip.flv.part"));
            ASSERT_TRUE(part.open(QIODevice::WriteOnly));
            part.write(video.body.left(100000));
        }
        if (!row.record.isEmpty()) {
            struct stat st {};
            ASSERT_EQ(::stat(QFile::encodeName(In("clip.flv.part")).constData(), &st), 0);
            QByteArray record = row.record;
            record.replace("%PAGE%", Page().toUtf8());
            record.replace("%INODE%", QByteArray::number(qulonglong(st.st_ino)));
            record.replace("%DEVICE%", QByteArray::number(qulonglong(st.st_dev)));
            QFile file(In("clip.flv.part.json"));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(record);
        }
        Run();
        ASSERT_EQ(m->Entry(0).Status, "Complete") << m->Entry(0).Reason.toStdString();
        EXPECT_TRUE(ReadAll(In("clip.flv")) == video.body);
        EXPECT_EQ(video.ranges.value(0).startsWith("bytes=100000-"), row.continued);
        EXPECT_EQ(Files(), row.folder);
        if (!row.continued && row.folder.contains("clip.flv.part")) {
            EXPECT_TRUE(ReadAll(In("clip.flv.part")) == video.body.left(100000)); // untouched
        }
    }
}

// A failure that may pass is tried again after a wait, up to five times, each try continuing;
// one that can't pass ends "ERROR" at once; a stop during a wait stops at once.
TEST_F(Resume, FailuresThatMayPassAreTriedAgain) {
    struct Row {
        const char* what;
        std::function<void(VideoServer&)> arrange;
        const char* end;
        int gets;
        QStringList waits; // the "Retrying" texts shown, in order
        bool stopDuringWait = false;
    };
    const Row rows[] = {
        {"503 twice, then the file",
         [](VideoServer& v) {
             v.statusAt = {{0, "503 Service Unavailable"}, {1, "503 x"}};
         },
         "Complete",
         3,
         {"Retrying in 1 s (1 of 5)", "Retrying in 1 s (2 of 5)"}},
        {"broken off six times: five tries again, then ERROR with the partial file kept",
         [](VideoServer& v) {
             for (int i = 0; i < 6; ++i)
                 v.breakAt[i] = 0.1 * (i + 1);
         },
         "ERROR",
         6,
         {"Retrying in 1 s (1 of 5)", "Retrying in 1 s (2 of 5)", "Retrying in 1 s (3 of 5)",
          "Retrying in 1 s (4 of 5)", "Retrying in 1 s (5 of 5)"}},
        {"404 is no failure that passes",
         [](VideoServer& v) {
             v.statusAt = {{0, "404 Not Found"}};
         },
         "ERROR",
         1,
         {}},
        {"a stop during the wait",
         [](VideoServer& v) {
             v.statusAt = {{0, "500 Internal"}};
         },
         "Cancelled",
         1,
         {"Retrying in 5 s (1 of 5)"},
         true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        video = VideoServer{};
        NewMachine();
        Empty();
        row.arrange(video);
        m->Add(Page());
        Watch();
        if (row.stopDuringWait) {
            m->s.needs.retry.firstWait = m->s.needs.retry.longestWait = 5s;
            m->OnFirst([](const DownloadItem& e) { return e.State == EntryState::Retrying; },
                       [&] {
                           QTimer::singleShot(0, [&] {
                               m->prompter.answers = {MsgAnswer::Yes};
                               m->Click();
                           });
                       });
        }
        QElapsedTimer clock;
        clock.start();
        Run();
        EXPECT_LT(clock.elapsed(), 4000); // the waits are short here, and a stop stops at once
        EXPECT_EQ(m->Entry(0).Status, row.end) << m->Entry(0).Reason.toStdString();
        EXPECT_EQ(video.gets, row.gets);
        QStringList waits;
        for (const QString& s : Seen())
            if (s.startsWith("Retrying"))
                waits << s;
        EXPECT_EQ(waits, row.waits);
    }
}

// A file that is whole on disk already ends "Complete" on the server's 416 that says so.
TEST_F(Resume, AWholeFileOnDiskIsCompleteOnA416OfItsLength) {
    video.unsatisfiableTotal = video.body.size();
    m->Add(Page());
    m->Click(); // the first try, stopped at its end: the whole file is in the partial file
    m->s.records.Settle(); // its record's removal is done before the files are laid out
    struct stat st {};
    {
        QFile part(In("clip.flv.part"));
        ASSERT_TRUE(part.open(QIODevice::WriteOnly));
        part.write(video.body);
    }
    ASSERT_EQ(::stat(QFile::encodeName(In("clip.flv.part")).constData(), &st), 0);
    PartialRecord record;
    record.page = Page();
    record.media = server.url("/clip.flv");
    record.part = "clip.flv.part";
    record.name = "clip.flv";
    record.etag = video.etag;
    record.total = record.bytes = video.body.size();
    record.inode = std::uint64_t(st.st_ino);
    record.device = std::uint64_t(st.st_dev);
    QFile file(In("clip.flv.part.json"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(record.Encode());
    file.close();
    QFile::remove(In("clip.flv"));
    NewMachine();
    video.gets = 0;
    video.ranges.clear();
    Run();
    EXPECT_EQ(m->Entry(0).Status, "Complete") << m->Entry(0).Reason.toStdString();
    EXPECT_TRUE(ReadAll(In("clip.flv")) == video.body);
    EXPECT_EQ(video.ranges, QList<QByteArray>({"bytes=400000-"}));
    EXPECT_EQ(Files(), QStringList({"clip.flv"}));
}

// A server's Retry-After is waited for, up to the policy's longest wait.
TEST_F(Resume, RetryAfterIsHonoured) {
    video.statusAt = {{0, "429 Too Many Requests"}};
    video.retryAfter = "1";
    m->Add(Page());
    QElapsedTimer clock;
    clock.start();
    Run();
    EXPECT_EQ(m->Entry(0).Status, "Complete");
    EXPECT_GE(clock.elapsed(), 900);
    EXPECT_EQ(video.gets, 2);
}
