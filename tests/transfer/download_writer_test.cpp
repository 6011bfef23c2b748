// The file writer: a slow disk does not hold up the event loop, every way a transfer ends
// leaves exactly the counted bytes in the file while writes are still behind, and a write
// that fails in mid-transfer ends it with the write error.
#include "DownloadRig.h"
#include "SlowPipe.h"
#include "support/TinyDisk.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <stdexcept>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kBody = PatternBytes(3 * 1024 * 1024 + 1234);

} // namespace

// While the file's writes are stuck (the pipe held), the window's events still run: only a
// timer of the window releases the pipe, during the transfer or while a complete or
// cancelled transfer waits for its last writes. A loop that wrote the file itself would
// hang in the first write until the hold gave up by itself. However the transfer ends, the
// pipe receives exactly the counted bytes: the writes still behind are finished first (after
// an exception or a deletion the close waits for them, so there the pipe is drained slowly
// from the start).
TEST(DownloadWriter, ASlowDiskNeitherHoldsUpTheLoopNorLosesTakenBytes) {
    enum class End { Complete, Cancel, Throw, Delete };
    const struct {
        End end;
        qint32 at; // the progress value in whose handler the end is made
        bool held;
    } cases[] = {
        {End::Complete, 0, true},
        {End::Cancel, 2048, true},         // before any write was handed over
        {End::Cancel, 256 * 1024, true},   // right as the first write is handed over
        {End::Cancel, 1800 * 1024, true},  // after the ring has wrapped
        {End::Throw, 1800 * 1024, false},  // closing then waits for the writes behind
        {End::Delete, 1800 * 1024, false}, // likewise
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.end) << " at " << c.at);
        Rig rig(Reply::Ok(kBody));
        const QString file = rig.dir.filePath(QStringLiteral("pipe"));
        SlowPipe pipe(file, 16 * 1024, 3ms, c.held);
        ASSERT_TRUE(pipe.ready());
        rig.d->setLocalFile(file);
        QTimer releaser;
        releaser.setSingleShot(true);
        QObject::connect(&releaser, &QTimer::timeout, [&] { pipe.release(); });
        rig.log.onProgress = [&](qint32 value) {
            if (value == 2048)
                releaser.start(100ms);
            if (value != c.at)
                return;
            if (c.end == End::Cancel)
                rig.d->CancelDownload();
            if (c.end == End::Throw)
                throw std::runtime_error("handler failed");
            if (c.end == End::Delete)
                delete rig.d;
        };

        bool completed = false;
        if (c.end == End::Throw) {
            EXPECT_THROW(rig.d->StartDownload(), std::runtime_error);
        } else {
            completed = rig.d->StartDownload();
        }

        pipe.release(); // a transfer that never blocked may end before the timer fires
        const QByteArray received = pipe.Received();
        EXPECT_EQ(completed, c.end == End::Complete);
        if (c.end == End::Complete) {
            EXPECT_EQ(rig.log.last(), "complete");
            EXPECT_TRUE(received == kBody) << received.size();
        } else {
            EXPECT_EQ(rig.log.progress.last(), c.at);
            EXPECT_TRUE(received == kBody.left(c.at)) << received.size();
        }
        if (c.end == End::Cancel) {
            EXPECT_EQ(rig.log.last(), QStringLiteral("cancelled:%1").arg(c.at));
        }
        if (c.end == End::Delete) {
            EXPECT_TRUE(rig.alive.isNull());
        }
        EXPECT_FALSE(pipe.releasedByTimeout()) << "the event loop stood still";
        EXPECT_FALSE(DescriptorOpenOn(file));
    }
}

// A write that fails while data still arrives ends the transfer there with the write
// error; the file keeps every byte that was written.
TEST(DownloadWriter, AWriteFailingInMidTransferEndsItWithTheWriteError) {
    QTemporaryDir scratch;
    TinyDisk disk(scratch.filePath(QStringLiteral("disk")));
    const QByteArray body = PatternBytes(4 * 1024 * 1024);
    const struct {
        QString file;
        bool onTinyDisk;
    } cases[] = {
        {QStringLiteral("/dev/full"), false},           // no write succeeds
        {disk.path + QStringLiteral("/out.bin"), true}, // a short write, then no space
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file.toStdString());
        if (c.onTinyDisk && !disk.mounted)
            GTEST_SKIP() << disk.why.toStdString();
        Rig rig(Reply::Ok(body));
        rig.d->setLocalFile(c.file);
        EXPECT_FALSE(rig.d->StartDownload());
        EXPECT_EQ(rig.log.last(), "error:Could not write file: No space left on device");
        // Seen while the data still came in, not at the end.
        EXPECT_LT(rig.log.progress.size(), body.size() / 2048);
        EXPECT_FALSE(DescriptorOpenOn(c.file));
        if (c.onTinyDisk) {
            const QByteArray kept = FileBytes(c.file);
            EXPECT_GT(kept.size(), 0);
            EXPECT_TRUE(kept == body.left(kept.size())) << kept.size();
        }
    }
}
