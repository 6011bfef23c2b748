// A Download under its own handlers: calls made from inside a running one, the instance
// deleted mid-call, an exception out of a handler, and what the file holds when the last
// writes fail.
#include "DownloadRig.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kBody = PatternBytes(5 * 2048 + 10);
const Reply kMute = [] {
    Reply r;
    r.silent = true;
    return r;
}();

} // namespace

TEST(DownloadGuard, CallsFromInsideARunningOneAreRefused) {
    Rig rig(Reply::Ok(kBody), Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 10250"}));
    rig.server.onHead(Reply::Head({"HTTP/1.1 404 Not Found"})); // what a nested one would get
    Download& d = *rig.d;
    int refused = 0;
    rig.log.onProgress = [&](qint32 value) {
        if (value == 20) {
            refused += !d.StartDownload();
            d.RequestInformation();
            refused += d.FileExists() && d.FileSize() == 10250.0f;
        }
    };
    EXPECT_TRUE(d.StartDownload());
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(rig.log.events, Progress({20, 40, 60, 80, 100, 100, 100}) << "complete");
    EXPECT_EQ(FileBytes(d.LocalFile()), kBody);
    EXPECT_EQ(rig.server.requests().size(), 2u); // the outer HEAD and GET only

    // A transfer started by a timer while a header request waits.
    Rig mute(Reply::Ok(kBody), kMute);
    mute.d->setLimits({.headers = 300ms});
    bool started = true;
    QTimer::singleShot(50, [&] { started = mute.d->StartDownload(); });
    mute.d->RequestInformation();
    EXPECT_FALSE(started);
    EXPECT_TRUE(mute.log.events.isEmpty());
}

// Deleting the instance from its handlers, or from any event inside its waits: the running
// call returns false at once, raises nothing more, and the file keeps what was taken.
TEST(DownloadGuard, DeletedInMidCallReturnsAtOnceAndKeepsWhatWasTaken) {
    enum class At { Progress, Complete, Error, Cancelled, TimerInBody, TimerInHead };
    Reply cut = Reply::Ok(kBody), hang = Reply::Ok(kBody);
    cut.cutAt = 5000;
    hang.cutAt = 3000;
    hang.after = Reply::After::Hang;
    const struct {
        At at;
        Reply get, head;
        QStringList events;
        qsizetype taken; // -1: no file made
    } cases[] = {
        {At::Progress, Reply::Ok(kBody), Reply::Head({"HTTP/1.1 200 OK"}), Progress({2048}), 2048},
        {At::Complete, Reply::Ok(kBody), Reply::Head({"HTTP/1.1 200 OK"}),
         Progress({2048, 4096, 6144, 8192, 10240, 10250, 10250}) << "complete", 10250},
        {At::Error, cut, Reply::Head({"HTTP/1.1 200 OK"}),
         Progress({2048, 4096, 5000}) << "error:Could not read URL", 5000},
        {At::Cancelled, Reply::Ok(kBody), Reply::Head({"HTTP/1.1 200 OK"}),
         Progress({2048, 4096}) << "cancelled:4096", 4096},
        {At::TimerInBody, hang, Reply::Head({"HTTP/1.1 200 OK"}), Progress({2048}), 2048},
        {At::TimerInHead, Reply::Ok(kBody), kMute, {}, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.at));
        Rig rig(c.get, c.head);
        rig.d->setLimits({.headers = 20s, .lowSpeedTime = 20s});
        const auto drop = [&rig] { rig.Drop(); };
        rig.log.onProgress = [&](qint32 value) {
            if (c.at == At::Progress)
                drop();
            else if (c.at == At::Cancelled && value == 4096)
                rig.d->CancelDownload();
        };
        // Connected after the log, so the event is recorded before the instance goes.
        if (c.at == At::Complete)
            QObject::connect(rig.d, &Download::DownloadComplete, drop);
        if (c.at == At::Error)
            QObject::connect(rig.d, &Download::DownloadError, drop);
        if (c.at == At::Cancelled)
            QObject::connect(rig.d, &Download::DownloadCancelled, drop);
        if (c.at == At::TimerInBody || c.at == At::TimerInHead)
            QTimer::singleShot(200, drop);

        const QString file = rig.d->LocalFile();
        QElapsedTimer clock;
        clock.start();
        EXPECT_FALSE(rig.d->StartDownload());
        EXPECT_LT(clock.elapsed(), 5000);
        EXPECT_TRUE(rig.alive.isNull());
        EXPECT_EQ(rig.log.events, c.events);
        EXPECT_EQ(QFileInfo::exists(file) ? QFileInfo(file).size() : -1, c.taken);
        EXPECT_TRUE(FileBytes(file) == kBody.left(qMax<qsizetype>(c.taken, 0)));
        EXPECT_FALSE(DescriptorOpenOn(file));
    }

    // A header request of its own.
    Rig rig(Reply::Ok(kBody), kMute);
    QTimer::singleShot(100, [&rig] { rig.Drop(); });
    rig.d->RequestInformation();
    EXPECT_TRUE(rig.alive.isNull());
}

// The file is closed before the end is reported, so the event tells what it holds: when the
// last writes fail, the end is that write error, whatever else was ending the transfer.
TEST(DownloadGuard, AFailedLastWriteIsTheEndReportedWhateverElseEndsTheTransfer) {
    Reply cut = Reply::Ok(kBody);
    cut.cutAt = 5000;
    const struct {
        Reply get;
        int cancelAt, progressEvents;
    } cases[] = {{Reply::Ok(kBody), 0, 7}, {Reply::Ok(kBody), 4096, 2}, {cut, 0, 3}};
    for (const auto& c : cases) {
        Rig rig(c.get);
        rig.d->setLocalFile(QStringLiteral("/dev/full")); // every write fails: no space left
        rig.log.onProgress = [&](qint32 value) {
            if (value == c.cancelAt)
                rig.d->CancelDownload();
        };
        EXPECT_FALSE(rig.d->StartDownload());
        EXPECT_EQ(rig.log.events.size(), c.progressEvents + 1);
        EXPECT_EQ(rig.log.last(), "error:Could not write file: No space left on device");
        EXPECT_FALSE(DescriptorOpenOn(QStringLiteral("/dev/full")));
    }
}

TEST(DownloadGuard, AnExceptionFromAHandlerLeavesTheFileWholeClosedAndTheInstanceUsable) {
    Rig rig(Reply::Ok(kBody));
    rig.log.onProgress = [](qint32 value) {
        if (value == 6144)
            throw std::runtime_error("handler failed");
    };
    EXPECT_THROW(rig.d->StartDownload(), std::runtime_error);
    EXPECT_EQ(FileBytes(rig.d->LocalFile()), kBody.left(6144));
    EXPECT_FALSE(DescriptorOpenOn(rig.d->LocalFile()));

    rig.log.onProgress = nullptr;
    QFile::remove(rig.d->LocalFile());
    EXPECT_TRUE(rig.d->StartDownload());
    EXPECT_EQ(rig.log.last(), "complete");
    EXPECT_EQ(FileBytes(rig.d->LocalFile()), kBody);
}
