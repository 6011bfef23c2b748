// The ring and its writer alone, driven as a transfer drives them: whatever ends the flow, the
// file receives exactly the bytes taken, also while writes are behind, at the offset the body
// starts at, and up to the write that failed.
#include "DownloadEventLog.h"
#include "SlowPipe.h"
#include "common/DoEvents.h"
#include "transfer/RingWriter.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <stdexcept>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kBody = PatternBytes(3 * 1024 * 1024 + 1234);

// The network and the transfer's loop around a ring.
struct Flow {
    RingWriter* ring = nullptr;
    qsizetype put = 0;

    // The network: 64 KiB pieces until the ring is full or the body ends.
    void Feed() {
        while (put < kBody.size()) {
            const qsizetype n = std::min<qsizetype>(64 * 1024, kBody.size() - put);
            if (ring->Store(kBody.constData() + put, std::size_t(n)) != RingWriter::Put::Stored)
                return;
            put += n;
        }
    }
    // The loop: takes 2048-byte blocks until `upTo` are taken, waiting in the event loop while
    // the writer makes room; stops at a failed write.
    void TakeUpTo(std::uint64_t upTo) {
        while (ring->Taken() < upTo && !ring->WriteFailed()) {
            if (ring->ProducerWaiting() && ring->RoomForProducer())
                ring->Resumed();
            if (!ring->ProducerWaiting())
                Feed();
            if (ring->Ready() > 0)
                ring->Take(std::min<std::uint64_t>({ring->Ready(), 2048, upTo - ring->Taken()}));
            else if (!ring->WrittenUpTo(ring->Received() - RingWriter::kSize / 2))
                WaitForEvents(100ms);
        }
    }
    void Settle() {
        while (!ring->WrittenUpTo(ring->Taken()))
            WaitForEvents(100ms);
    }
};

} // namespace

TEST(RingWriter, TheFileHoldsExactlyTheBytesTakenHoweverTheFlowEnds) {
    enum class End { Complete, Cancel, Throw, Destroyed, FailedWrite, AtOffset };
    constexpr std::uint64_t kAll = std::uint64_t(3 * 1024 * 1024 + 1234);
    const struct {
        End end;
        std::uint64_t at; // taken by the loop before the end
        bool stuck;       // the file takes nothing until a timer of the loop releases it
        std::uint64_t inFile;
    } rows[] = {
        {End::Complete, kAll, true, kAll},
        {End::Cancel, 2048, true, 2048},               // before anything went to the writer
        {End::Cancel, 256 * 1024, true, 256 * 1024},   // as the first piece goes
        {End::Cancel, 1800 * 1024, true, 1800 * 1024}, // after the ring wrapped
        {End::Throw, 1800 * 1024, false, 1800 * 1024}, // the close waits for them
        {End::Destroyed, 1800 * 1024, false, 1800 * 1024},
        {End::FailedWrite, kAll, false, 0},
        {End::AtOffset, kAll, false, kAll}, // a regular file, the body after 1000 bytes
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.end) << " at " << r.at);
        QTemporaryDir dir;
        const bool full = r.end == End::FailedWrite;
        const bool regular = r.end == End::AtOffset;
        const QString file = full      ? QStringLiteral("/dev/full")
                             : regular ? dir.filePath("file")
                                       : dir.filePath("pipe");
        std::optional<SlowPipe> pipe;
        if (!full && !regular) {
            pipe.emplace(file, 16 * 1024, 3ms, r.stuck);
            ASSERT_TRUE(pipe->ready());
        }
        const int fd =
            ::open(QFile::encodeName(file).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        if (regular) {
            ASSERT_EQ(::write(fd, QByteArray(1000, '#').constData(), 1000), 1000);
        }
        Flow flow;
        auto ring = std::make_unique<RingWriter>([&] {
            if (flow.ring->ProducerWaiting() && flow.ring->RoomForProducer()) {
                flow.ring->Resumed();
                flow.Feed();
            }
        });
        flow.ring = ring.get();
        ASSERT_TRUE(ring->Attach(fd, regular ? 1000 : 0));
        if (pipe)
            QTimer::singleShot(100ms, [&] { pipe->release(); });
        flow.TakeUpTo(r.at);

        switch (r.end) {
        case End::Complete:
        case End::Cancel:
            flow.Settle();
            EXPECT_TRUE(ring->Close());
            break;
        case End::Throw: {
            const auto handler = [&] {
                const std::unique_ptr<RingWriter> owned = std::move(ring);
                throw std::runtime_error("handler failed");
            };
            EXPECT_THROW(handler(), std::runtime_error);
            break;
        }
        case End::Destroyed:
            QTimer::singleShot(0, [&] { ring.reset(); });
            while (ring)
                WaitForEvents(100ms);
            break;
        case End::AtOffset:
            flow.Settle();
            EXPECT_TRUE(ring->Close());
            {
                QFile written(file);
                ASSERT_TRUE(written.open(QIODevice::ReadOnly));
                EXPECT_TRUE(written.readAll() == QByteArray(1000, '#') + kBody);
            }
            break;
        case End::FailedWrite:
            EXPECT_TRUE(ring->WriteFailed());
            EXPECT_EQ(ring->WriteError(), ENOSPC);
            EXPECT_LT(ring->Taken(), kAll); // seen while the data still came in
            EXPECT_FALSE(ring->Close());
            break;
        }
        ring.reset();
        ::close(fd); // the pipe's reader collects until its writer has gone
        if (pipe) {
            pipe->release();
            const QByteArray received = pipe->Received();
            EXPECT_TRUE(received == kBody.left(qsizetype(r.inFile))) << received.size();
            EXPECT_FALSE(pipe->releasedByTimeout()) << "the event loop stood still";
        }
        EXPECT_FALSE(DescriptorOpenOn(file));
    }
}
