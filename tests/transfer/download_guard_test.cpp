// A Download under its own handlers: calls made from inside a running one, the instance
// deleted mid-call, an exception out of a handler, and what the file holds when the last
// writes fail.
#include "DownloadEventLog.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kBody = PatternBytes(5 * 2048 + 10);

QStringList Progress(std::initializer_list<int> values) {
    QStringList out;
    for (int v : values)
        out << QStringLiteral("P%1").arg(v);
    return out;
}

// Whether this process still holds a descriptor open on path.
bool DescriptorOpenOn(const QString& path) {
    const std::filesystem::path target = QFileInfo(path).absoluteFilePath().toStdString();
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error) == target)
            return true;
    }
    return false;
}

// A header answer without a size, so progress values are byte counts.
void ServeHead(ScriptServer& server) {
    server.onHead(Reply::Head({"HTTP/1.1 200 OK", "Content-Type: video/x-flv"}));
}

} // namespace

TEST(DownloadGuard, CallsFromInsideARunningOneAreRefused) {
    QTemporaryDir dir;
    ScriptServer server;
    server.onHead(Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 10250",
                               "Content-Disposition: attachment; filename=a.flv"}));
    server.onHead(Reply::Head({"HTTP/1.1 404 Not Found"})); // what a nested request would get
    server.onGet(Reply::Ok(kBody));
    Download d;
    DownloadEventLog log(d);
    d.setUrl(server.url());
    d.setLocalFile(dir.filePath(QStringLiteral("out.bin")));

    int nestedStarts = 0;
    log.onProgress = [&](qint32 value) {
        if (value != 20)
            return;
        nestedStarts += d.StartDownload() ? 10 : 1;
        d.RequestInformation();
        EXPECT_TRUE(d.FileExists());
        EXPECT_EQ(d.FileSize(), 10250.0f);
        EXPECT_EQ(d.RemoteFileName(), QStringLiteral("a.flv"));
    };
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(nestedStarts, 1); // called once, refused
    EXPECT_EQ(log.events, Progress({20, 40, 60, 80, 100, 100, 100}) << QStringLiteral("complete"));
    EXPECT_EQ(FileBytes(d.LocalFile()), kBody);
    EXPECT_EQ(server.requests().size(), 2u); // the outer HEAD and GET only

    // A transfer started by a timer while a header request waits is refused as well.
    Reply mute;
    mute.silent = true;
    ScriptServer silent;
    silent.onHead(mute);
    d.setUrl(silent.url());
    d.setHeadTimeout(300ms);
    bool started = true;
    QTimer::singleShot(50, [&] { started = d.StartDownload(); });
    d.RequestInformation();
    EXPECT_FALSE(started);
    EXPECT_FALSE(d.FileExists());
    EXPECT_EQ(log.events.size(), 8); // nothing since
    EXPECT_TRUE(silent.requests("GET").empty());
}

// Deleting the instance from its handlers, or from any event inside its waits: the running
// call returns false at once, raises nothing more, and the file keeps what was taken.
TEST(DownloadGuard, DeletedInMidCallReturnsAtOnceAndKeepsWhatWasTaken) {
    enum class At { Progress, Complete, Error, Cancelled, TimerInBody, TimerInHead };
    const struct {
        At at;
        QStringList events;
        qsizetype fileSize; // -1: no file made
    } cases[] = {
        {At::Progress, Progress({2048}), 2048},
        {At::Complete, Progress({2048, 4096, 6144, 8192, 10240, 10250, 10250}) << "complete",
         10250},
        {At::Error, Progress({2048, 4096, 5000}) << "error:Could not read URL", 5000},
        {At::Cancelled, Progress({2048, 4096}) << "cancelled:4096", 4096},
        {At::TimerInBody, Progress({2048}), 2048},
        {At::TimerInHead, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.at));
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("out.bin"));
        ScriptServer server;
        Reply mute;
        mute.silent = true;
        Reply get = Reply::Ok(kBody);
        if (c.at == At::Error)
            get.cutAt = 5000;
        if (c.at == At::TimerInBody) {
            get.cutAt = 3000;
            get.after = Reply::After::Hang;
        }
        server.onHead(c.at == At::TimerInHead ? mute : Reply::Head({"HTTP/1.1 200 OK"}));
        server.onGet(get);

        auto* d = new Download;
        const QPointer<Download> alive(d);
        d->setUrl(server.url());
        d->setLocalFile(file);
        d->setStallTimeout(20s);
        d->setHeadTimeout(20s);
        DownloadEventLog log(*d);
        const auto drop = [&d] {
            delete d;
            d = nullptr;
        };
        log.onProgress = [&](qint32 value) {
            if (c.at == At::Progress)
                drop();
            else if (c.at == At::Cancelled && value == 4096)
                d->CancelDownload();
        };
        // Connected after the log, so the event is recorded before the instance goes.
        if (c.at == At::Complete)
            QObject::connect(d, &Download::DownloadComplete, drop);
        if (c.at == At::Error)
            QObject::connect(d, &Download::DownloadError, drop);
        if (c.at == At::Cancelled)
            QObject::connect(d, &Download::DownloadCancelled, drop);
        if (c.at == At::TimerInBody || c.at == At::TimerInHead)
            QTimer::singleShot(200, drop);

        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(d->StartDownload());
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_TRUE(alive.isNull());
        EXPECT_EQ(log.events, c.events);
        EXPECT_EQ(QFileInfo::exists(file) ? QFileInfo(file).size() : -1, c.fileSize);
        EXPECT_TRUE(FileBytes(file) == kBody.left(qMax<qsizetype>(c.fileSize, 0)));
        EXPECT_FALSE(DescriptorOpenOn(file));
    }

    // A header request of its own, deleted from a timer while it waits.
    ScriptServer server;
    Reply mute;
    mute.silent = true;
    server.onHead(mute);
    auto* d = new Download;
    const QPointer<Download> alive(d);
    d->setUrl(server.url());
    QTimer::singleShot(100, [d] { delete d; });
    d->RequestInformation();
    EXPECT_TRUE(alive.isNull());
}

// The file is closed before the end is reported, so the event tells what it holds: when the
// last writes fail, the end is that write error, whatever else was ending the transfer.
TEST(DownloadGuard, AFailedWriteIsTheEndReportedWhateverElseEndsTheTransfer) {
    const QString full = QStringLiteral("/dev/full"); // every write fails: no space left
    enum class End { Complete, Cancel, ReadFailure, BeforeTheEnd };
    const struct {
        End end;
        QByteArray body;
        int progressEvents;
    } cases[] = {
        {End::Complete, kBody, 7},
        {End::Cancel, kBody, 2},
        {End::ReadFailure, kBody, 3},
        {End::BeforeTheEnd, PatternBytes(300 * 1024), 127}, // the 256 KiB write mid-body
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.end));
        ScriptServer server;
        ServeHead(server);
        Reply get = Reply::Ok(c.body);
        if (c.end == End::ReadFailure)
            get.cutAt = 5000;
        server.onGet(get);
        Download d;
        DownloadEventLog log(d);
        d.setUrl(server.url());
        d.setLocalFile(full);
        log.onProgress = [&](qint32 value) {
            if (c.end == End::Cancel && value == 4096)
                d.CancelDownload();
        };
        EXPECT_FALSE(d.StartDownload());
        EXPECT_EQ(log.progress.size(), c.progressEvents);
        EXPECT_EQ(log.events.size(), c.progressEvents + 1);
        EXPECT_EQ(log.last(),
                  QStringLiteral("error:Could not write file: No space left on device"));
        EXPECT_FALSE(d.SessionOpen());
        EXPECT_FALSE(DescriptorOpenOn(full));
    }
}

TEST(DownloadGuard, AnExceptionFromAHandlerLeavesTheFileWholeClosedAndTheInstanceUsable) {
    QTemporaryDir dir;
    ScriptServer server;
    ServeHead(server);
    server.onGet(Reply::Ok(kBody));
    Download d;
    DownloadEventLog log(d);
    d.setUrl(server.url());
    d.setLocalFile(dir.filePath(QStringLiteral("out.bin")));
    log.onProgress = [](qint32 value) {
        if (value == 6144)
            throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(d.StartDownload(), std::runtime_error);
    EXPECT_EQ(FileBytes(d.LocalFile()), kBody.left(6144));
    EXPECT_FALSE(DescriptorOpenOn(d.LocalFile()));

    log.onProgress = nullptr;
    log.events.clear();
    QFile::remove(d.LocalFile());
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(log.last(), QStringLiteral("complete"));
    EXPECT_EQ(FileBytes(d.LocalFile()), kBody);
}
