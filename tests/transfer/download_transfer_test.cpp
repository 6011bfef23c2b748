// Transfers: the events and their order, the file written, cancellation, the failures and
// their messages, and the session kept between a header request and a transfer.
#include "DownloadEventLog.h"
#include "DownloadProbe.h"
#include "DownloadRig.h"
#include "common/DoEvents.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

class Transfer : public ::testing::Test {
protected:
    QTemporaryDir dir;
    ScriptServer server;
    Download d;
    DownloadEventLog log{d};

    QString path(const QString& name = QStringLiteral("out.bin")) const {
        return dir.filePath(name);
    }

    // Scripts a header answer announcing `size` (none when negative) and the body itself.
    void serve(const QByteArray& body, qsizetype announced) {
        server.onHead(Reply::Head(
            {"HTTP/1.1 200 OK", announced >= 0 ? "Content-Length: " + QByteArray::number(announced)
                                               : QByteArray("Server: test")}));
        server.onGet(Reply::Ok(body));
        d.setUrl(server.url());
        d.setLocalFile(path());
    }
};

} // namespace

TEST_F(Transfer, BlocksOf2048GiveOneProgressEachThenTheEmptyReadThenComplete) {
    const QByteArray body = PatternBytes(5 * 2048 + 777);
    serve(body, -1); // no size announced: progress values are byte counts
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({2048, 4096, 6144, 8192, 10240, 11017, 11017})
                              << QStringLiteral("complete"));
    EXPECT_EQ(FileBytes(path()), body);
}

TEST_F(Transfer, PercentagesRoundHalvesToEvenAndMayPass100) {
    serve(PatternBytes(16384), 16384);
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(d.FileSize(), 16384.0f);
    EXPECT_EQ(log.events, Progress({12, 25, 38, 50, 62, 75, 88, 100, 100})
                              << QStringLiteral("complete"));

    // More data than announced: the percentages go on past 100 as they are.
    log.events.clear();
    d.setFileSize(4096);
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.events.mid(0, 9), Progress({50, 100, 150, 200, 250, 300, 350, 400, 400}));
}

TEST_F(Transfer, EmptyBodyGivesOneProgressAndAnEmptyFile) {
    serve(QByteArray(), 0);
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.events, QStringList({QStringLiteral("P0"), QStringLiteral("complete")}));
    EXPECT_TRUE(QFileInfo::exists(path()));
    EXPECT_EQ(QFileInfo(path()).size(), 0);
}

TEST_F(Transfer, BodiesWithoutLengthChunkedOrInPiecesArriveWhole) {
    const QByteArray body = PatternBytes(3 * 2048 + 5);

    Reply closeDelimited; // HTTP/1.0, no Content-Length: the close ends the body
    closeDelimited.head = "HTTP/1.0 200 OK\r\nContent-Type: video/x-flv\r\n\r\n";
    closeDelimited.body = body;
    closeDelimited.piece = 1000;

    Reply chunked;
    chunked.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    chunked.body = "1000\r\n" + body.left(4096) + "\r\n" + QByteArray::number(2053, 16) + "\r\n" +
                   body.mid(4096) + "\r\n0\r\n\r\n";
    chunked.piece = 700;

    server.onHead(Reply::Head({"HTTP/1.1 200 OK"}));
    server.onGet(closeDelimited);
    server.onGet(chunked);
    d.setUrl(server.url());
    for (const QString& name : {QStringLiteral("plain.bin"), QStringLiteral("chunked.bin")}) {
        log.events.clear();
        d.setLocalFile(path(name));
        EXPECT_TRUE(d.StartDownload()) << name.toStdString();
        EXPECT_EQ(FileBytes(path(name)), body) << name.toStdString();
        EXPECT_EQ(log.events, Progress({2048, 4096, 6144, 6149, 6149}) << "complete");
    }
}

TEST_F(Transfer, RedirectsAreFollowedAndErrorPagesAreData) {
    const QByteArray body = PatternBytes(3000);
    Reply moved;
    moved.head = "HTTP/1.1 302 Found\r\nLocation: /real.flv\r\nContent-Length: 9\r\n\r\n";
    moved.body = "moved on!";
    Reply missing;
    missing.head = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\n";
    missing.body = "not here!";
    server.onHead(Reply::Head({"HTTP/1.1 200 OK"}));
    server.onGet(moved);
    server.onGet(Reply::Ok(body));
    server.onGet(missing);
    d.setUrl(server.url());

    d.setLocalFile(path(QStringLiteral("moved.bin")));
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(FileBytes(path(QStringLiteral("moved.bin"))), body); // no bytes of the 302
    const auto gets = server.requests("GET");
    ASSERT_EQ(gets.size(), 2u);
    EXPECT_TRUE(gets[1].raw.startsWith("GET /real.flv HTTP/1.1\r\n"));

    // An error status is not a failed transfer: its page is what gets written.
    log.events.clear();
    d.setLocalFile(path(QStringLiteral("missing.bin")));
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({9, 9}) << QStringLiteral("complete"));
    EXPECT_EQ(FileBytes(path(QStringLiteral("missing.bin"))), "not here!");
}

TEST_F(Transfer, LargeBodyWithASlowHandlerIsWrittenByteForByte) {
    // Larger than the receive ring, and the handler holds the loop up for a while, so the
    // network side fills the ring and has to wait for room.
    const QByteArray body = PatternBytes(9 * 1024 * 1024 + 123);
    serve(body, body.size());
    int calls = 0;
    log.onProgress = [&calls](qint32) {
        if (++calls % 1500 == 1) {
            for (int i = 0; i < 10; ++i)
                WaitForEvents(5ms);
        }
    };
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.progress.size(), body.size() / 2048 + 2);
    EXPECT_EQ(log.last(), QStringLiteral("complete"));
    EXPECT_TRUE(FileBytes(path()) == body);
}

TEST_F(Transfer, TheWindowKeepsAnsweringDuringATransfer) {
    Reply slow = Reply::Ok(PatternBytes(100 * 2048));
    slow.piece = 2048; // one piece per loop turn of the server
    server.onHead(Reply::Head({"HTTP/1.1 200 OK"}));
    server.onGet(slow);
    d.setUrl(server.url());
    d.setLocalFile(path());

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] { log.events << QStringLiteral("tick"); });
    tick.start(5);
    EXPECT_TRUE(d.StartDownload());
    tick.stop();
    // Ticks arrive while the data comes in, not only before or after the transfer.
    const qsizetype first = log.events.indexOf(QStringLiteral("P2048"));
    const qsizetype done = log.events.indexOf(QStringLiteral("complete"));
    ASSERT_GE(first, 0);
    ASSERT_GT(done, first);
    EXPECT_GT(log.events.mid(first, done - first).count(QStringLiteral("tick")), 0);
}

TEST_F(Transfer, CancellationIsSeenAfterEachProgressEventOnly) {
    const QByteArray body = PatternBytes(4 * 2048 + 10);
    serve(body, -1);

    d.CancelDownload(); // before the transfer: forgotten when it starts
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.last(), QStringLiteral("complete"));

    // In the handler of the second block: ends there; the file holds exactly those bytes.
    log.events.clear();
    QFile::remove(path());
    log.onProgress = [this](qint32 value) {
        if (value == 4096)
            d.CancelDownload();
    };
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({2048, 4096}) << QStringLiteral("cancelled:4096"));
    EXPECT_EQ(FileBytes(path()), body.left(4096));
    EXPECT_FALSE(DownloadProbe::SessionOpen(d));

    // In the handler of the final, empty read: all data is there, yet the end is a cancel.
    log.events.clear();
    QFile::remove(path());
    int seen = 0;
    log.onProgress = [this, &seen](qint32) {
        if (++seen == 6)
            d.CancelDownload();
    };
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({2048, 4096, 6144, 8192, 8202, 8202})
                              << QStringLiteral("cancelled:8202"));
    EXPECT_EQ(FileBytes(path()), body);
}

TEST_F(Transfer, ServerClosingOrStallingMidBodyIsAReadFailure) {
    const QByteArray body = PatternBytes(10000);
    Reply closes = Reply::Ok(body);
    closes.cutAt = 5000;
    Reply stalls = Reply::Ok(body);
    stalls.cutAt = 3000;
    stalls.after = Reply::After::Hang;
    Reply silent;
    silent.silent = true;
    server.onHead(Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 10000"}));
    server.onGet(closes);
    server.onGet(stalls);
    server.onGet(silent);
    d.setUrl(server.url());
    d.setLimits({.lowSpeedTime = 300ms});

    d.setLocalFile(path(QStringLiteral("closed.bin")));
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({20, 41, 50}) << QStringLiteral("error:Could not read URL"));
    EXPECT_EQ(FileBytes(path(QStringLiteral("closed.bin"))), body.left(5000));
    EXPECT_FALSE(DownloadProbe::SessionOpen(d));

    log.events.clear();
    d.setLocalFile(path(QStringLiteral("stalled.bin")));
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({20, 30}) << QStringLiteral("error:Could not read URL"));
    EXPECT_EQ(FileBytes(path(QStringLiteral("stalled.bin"))), body.left(3000));

    // Accepted, but not a byte of an answer.
    log.events.clear();
    d.setLocalFile(path(QStringLiteral("silent.bin")));
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, QStringList({QStringLiteral("error:Could not read URL")}));
}

TEST_F(Transfer, AddressesCutFromPagesGoOutInTheirWireForm) {
    // A blank, a byte read from a page as one character, and a character beyond a byte.
    serve(PatternBytes(100), 100);
    d.setUrl(server.url(QStringLiteral("/a b") + QChar(0xE9) + QChar(0x20AC) +
                        QStringLiteral("?q=\"x\"")));
    EXPECT_TRUE(d.StartDownload());
    const auto& requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_TRUE(requests[0].raw.startsWith("HEAD /a%20b%E9%E2%82%AC?q=%22x%22 HTTP/1.0\r\n"))
        << requests[0].raw.toStdString();
    EXPECT_TRUE(requests[1].raw.startsWith("GET /a%20b%E9%E2%82%AC?q=%22x%22 HTTP/1.1\r\n"))
        << requests[1].raw.toStdString();
    EXPECT_EQ(FileBytes(path()), PatternBytes(100));
}

TEST_F(Transfer, RefusedAddressIsNotFoundAndKeepsTheSession) {
    d.setUrl(QStringLiteral("http://127.0.0.1:%1/v.flv").arg(ScriptServer::ClosedPort()));
    d.setLocalFile(path());
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, QStringList({QStringLiteral("error:Could not find URL")}));
    EXPECT_FALSE(QFileInfo::exists(path()));
    EXPECT_TRUE(DownloadProbe::SessionOpen(d));
    EXPECT_EQ(DownloadProbe::SessionsOpened(d), 1);
    EXPECT_FALSE(d.FileExists()); // the header request inside could not be made either

    d.setUrl(QString()); // no address at all: not found either
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.last(), QStringLiteral("error:Could not find URL"));
    EXPECT_FALSE(QFileInfo::exists(path()));

    // The next transfer uses the same session, and closes it at its end.
    serve(PatternBytes(100), 100);
    EXPECT_TRUE(d.StartDownload());
    EXPECT_TRUE(server.requests("HEAD").empty()); // the first transfer already asked
    EXPECT_EQ(DownloadProbe::SessionsOpened(d), 1);
    EXPECT_FALSE(DownloadProbe::SessionOpen(d));
}

TEST_F(Transfer, UnwritableLocalFileEndsWithAWriteError) {
    serve(PatternBytes(5000), 5000);
    d.setLocalFile(dir.filePath(QStringLiteral("missing/folder/out.bin")));
    EXPECT_FALSE(d.StartDownload());
    ASSERT_EQ(log.events.size(), 1);
    EXPECT_TRUE(log.events[0].startsWith(QStringLiteral("error:Could not write file: ")))
        << log.events[0].toStdString();
    EXPECT_GT(log.events[0].size(), QStringLiteral("error:Could not write file: ").size());
    EXPECT_FALSE(DownloadProbe::SessionOpen(d));

    log.events.clear();
    d.setLocalFile(path() + QChar(0) + QStringLiteral("tail"));
    EXPECT_FALSE(d.StartDownload());
    ASSERT_EQ(log.events.size(), 1);
    EXPECT_TRUE(log.events[0].startsWith(QStringLiteral("error:Could not write file: ")));
    EXPECT_FALSE(QFileInfo::exists(path()));
}

TEST_F(Transfer, CountsEndBeforeTheyPassTheLimit) {
    serve(PatternBytes(8192), -1);
    d.setLimits({.maxBytes = 5000});
    EXPECT_FALSE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({2048, 4096}) << QStringLiteral("error:Could not read URL"));
    EXPECT_EQ(QFileInfo(path()).size(), 4096);

    // A percentage that would not fit in 32 bits stops at the largest value; the body is
    // whole and the transfer completes, as one longer than announced does.
    log.events.clear();
    d.setLimits({});
    d.setFileSize(1e-7f);
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.events, Progress({INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX})
                              << QStringLiteral("complete"));
}

// The session policy: the first transfer makes its own header request, a header request
// keeps its connection for the transfer after it, and a transfer closes the session at its end.
TEST_F(Transfer, AHeaderRequestAndTheTransferAfterItShareOneConnection) {
    Reply head = Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 3000"});
    head.after = Reply::After::KeepAlive;
    server.onHead(head);
    server.onGet(Reply::Ok(PatternBytes(3000)));
    d.setUrl(server.url());
    d.setLocalFile(path());

    EXPECT_TRUE(d.StartDownload()); // the first: with a header request of its own
    d.RequestInformation();         // an entry's header request, then its file
    EXPECT_TRUE(DownloadProbe::SessionOpen(d));
    EXPECT_TRUE(d.StartDownload());
    EXPECT_FALSE(DownloadProbe::SessionOpen(d));
    EXPECT_TRUE(d.StartDownload()); // no header request before it: a connection of its own
    const auto& requests = server.requests();
    ASSERT_EQ(requests.size(), 5u);
    const QByteArray methods[] = {"HEAD", "GET", "HEAD", "GET", "GET"};
    const int connections[] = {1, 1, 2, 2, 3};
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].method(), methods[i]) << i;
        EXPECT_EQ(requests[i].connection, connections[i]) << i;
        EXPECT_EQ(requests[i].header("User-Agent"),
                  "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)");
    }
    // A server closes an HTTP/1.0 connection after its answer unless asked to keep it.
    EXPECT_EQ(requests[2].header("Connection"), "keep-alive");
    EXPECT_EQ(DownloadProbe::SessionsOpened(d), 3);

    // An explicit header request before the first transfer replaces the one inside it.
    Download fresh;
    fresh.setUrl(server.url());
    fresh.setLocalFile(path(QStringLiteral("fresh.bin")));
    fresh.RequestInformation();
    EXPECT_TRUE(fresh.StartDownload());
    const auto& all = server.requests();
    ASSERT_EQ(all.size(), 7u);
    EXPECT_EQ(all[5].method(), "HEAD");
    EXPECT_EQ(all[6].method(), "GET");
    EXPECT_EQ(all[6].connection, all[5].connection);
}

// Every ending tells its kind beside its text, already while its event is handled.
TEST(DownloadFailure, EachEndingHasItsKind) {
    using F = Download::Failure;
    const QByteArray body = PatternBytes(8192);
    Reply cut = Reply::Ok(body), stall = Reply::Ok(body), mute;
    cut.cutAt = 5000;
    stall.cutAt = 3000;
    stall.after = Reply::After::Hang;
    mute.silent = true;
    enum class Then { Nothing, Cancel, ClosedPort, NoFolder, DiskFull, TinySize };
    const struct {
        Reply get;
        Then then;
        std::int64_t maxBytes;
        F kind;
        QString last;
    } rows[] = {
        {Reply::Ok(body), Then::Nothing, INT32_MAX, F::None, "complete"},
        {Reply::Ok(body), Then::Cancel, INT32_MAX, F::None, "cancelled:2048"},
        {Reply::Ok(body), Then::ClosedPort, INT32_MAX, F::NotFound, "error:Could not find URL"},
        {cut, Then::Nothing, INT32_MAX, F::Read, "error:Could not read URL"},
        {stall, Then::Nothing, INT32_MAX, F::TooSlow, "error:Could not read URL"},
        {mute, Then::Nothing, INT32_MAX, F::TooSlow, "error:Could not read URL"},
        {Reply::Ok(body), Then::Nothing, 5000, F::TooLarge, "error:Could not read URL"},
        {Reply::Ok(body), Then::TinySize, INT32_MAX, F::None, "complete"},
        {Reply::Ok(body), Then::NoFolder, INT32_MAX, F::Write,
         "error:Could not write file: No such file or directory"},
        {Reply::Ok(body), Then::DiskFull, INT32_MAX, F::Write,
         "error:Could not write file: No space left on device"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.last.toStdString());
        Rig rig(r.get);
        Download& d = *rig.d;
        // Each call tells its own ending, not an earlier one's.
        const QString closed =
            QStringLiteral("http://127.0.0.1:%1/v").arg(ScriptServer::ClosedPort());
        d.setUrl(closed);
        d.StartDownload();
        ASSERT_EQ(d.lastFailure(), F::NotFound);
        rig.log.events.clear();
        d.setUrl(r.then == Then::ClosedPort ? closed : rig.server.url());
        d.setLimits({.headers = 300ms, .lowSpeedTime = 300ms, .maxBytes = r.maxBytes});
        if (r.then == Then::NoFolder)
            d.setLocalFile(rig.dir.filePath(QStringLiteral("none/out.bin")));
        if (r.then == Then::DiskFull)
            d.setLocalFile(QStringLiteral("/dev/full"));
        rig.log.onProgress = [&](qint32) {
            if (r.then == Then::Cancel)
                d.CancelDownload();
            if (r.then == Then::TinySize)
                d.setFileSize(1e-7f);
        };
        F inHandler = F::None;
        QObject::connect(&d, &Download::DownloadError, [&] { inHandler = d.lastFailure(); });
        d.StartDownload();
        EXPECT_EQ(rig.log.last(), r.last);
        EXPECT_EQ(d.lastFailure(), r.kind);
        EXPECT_EQ(inHandler, r.kind);
    }
}

// A page fetch measures its percentages against its own answer's length, not against the
// size the last header request left; the setting holds for that one call.
TEST(DownloadProgressBase, ResponseLengthIsTheAnswersOwnContentLength) {
    using B = Download::ProgressBase;
    const QByteArray body = PatternBytes(5000);
    Reply chunked;
    chunked.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    chunked.body = QByteArray::number(body.size(), 16) + "\r\n" + body + "\r\n0\r\n\r\n";
    Reply moved;
    moved.head = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 9\r\n\r\n";
    moved.body = "moved on!";
    const struct {
        QList<Reply> gets;
        B base;
        QStringList events;
    } rows[] = {
        {{Reply::Ok(body)}, B::FileSize, Progress({0, 0, 0, 0})}, // against the earlier size
        {{Reply::Ok(body)}, B::ResponseLength, Progress({41, 82, 100, 100})},
        {{chunked}, B::ResponseLength, Progress({2048, 4096, 5000, 5000})},
        {{moved, chunked}, B::ResponseLength, Progress({2048, 4096, 5000, 5000})},
    };
    for (const auto& r : rows) {
        Rig rig(r.gets.front());
        for (const Reply& next : r.gets.mid(1))
            rig.server.onGet(next);
        rig.d->RequestInformation(); // the transfer makes none of its own
        rig.d->setFileSize(1e6f);    // the previous video's size
        rig.d->setProgressBase(r.base);
        EXPECT_TRUE(rig.d->StartDownload());
        EXPECT_EQ(rig.log.events, QStringList(r.events) << "complete");
        EXPECT_EQ(rig.d->progressBase(), B::FileSize);
    }
}
