// The ring and its writer alone, driven as a transfer drives them: whatever ends the flow, the
// file receives exactly the bytes taken, also while writes are behind, while the loop is held
// by a nested event loop, and up to the write that failed.
#include "DownloadEventLog.h"
#include "SlowPipe.h"
#include "common/DoEvents.h"
#include "transfer/RingWriter.h"

#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

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
            ring->ResumeWhenRoom();
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
    enum class End { Complete, Cancel, Throw, Destroyed, HeldLoop, FailedWrite };
    constexpr std::uint64_t kAll = std::uint64_t(3 * 1024 * 1024 + 1234);
    const struct {
        End end;
        std::uint64_t at; // taken by the loop before the end
        bool stuck;       // the file takes nothing until a timer of the loop releases it
        std::int64_t maxBytes;
        std::uint64_t inFile;
    } rows[] = {
        {End::Complete, kAll, true, INT32_MAX, kAll},
        {End::Cancel, 2048, true, INT32_MAX, 2048}, // before anything went to the writer
        {End::Cancel, 256 * 1024, true, INT32_MAX, 256 * 1024},   // as the first piece goes
        {End::Cancel, 1800 * 1024, true, INT32_MAX, 1800 * 1024}, // after the ring wrapped
        {End::Throw, 1800 * 1024, false, INT32_MAX, 1800 * 1024}, // the close waits for them
        {End::Destroyed, 1800 * 1024, false, INT32_MAX, 1800 * 1024},
        {End::HeldLoop, 4096, false, INT32_MAX, kAll},
        {End::HeldLoop, 4096, false, 1500 * 1024, 1500 * 1024}, // never past the byte limit
        {End::FailedWrite, kAll, false, INT32_MAX, 0},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.end) << " at " << r.at);
        QTemporaryDir dir;
        const bool full = r.end == End::FailedWrite;
        const QString file = full ? QStringLiteral("/dev/full") : dir.filePath("pipe");
        std::optional<SlowPipe> pipe;
        if (!full) {
            pipe.emplace(file, 16 * 1024, 3ms, r.stuck);
            ASSERT_TRUE(pipe->ready());
        }
        Flow flow;
        auto ring = std::make_unique<RingWriter>(QFile::encodeName(file), r.maxBytes,
                                                 RingWriter::Producer{[&] { flow.Feed(); }, {}});
        flow.ring = ring.get();
        ASSERT_TRUE(ring->OpenFile());
        ring->MarkLoopLevel();
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
        case End::HeldLoop: {
            // A box opened by a handler: the network goes on, the watch ticks, nobody takes.
            const std::uint64_t target = std::min<std::uint64_t>(kAll, r.maxBytes);
            QEventLoop box;
            QTimer tick;
            QObject::connect(&tick, &QTimer::timeout, [&] {
                if (!ring->ProducerWaiting())
                    flow.Feed();
                ring->ServeHeldLoop();
                if (ring->Taken() >= target)
                    box.quit();
            });
            tick.start(10ms);
            QTimer::singleShot(10s, &box, &QEventLoop::quit);
            box.exec();
            tick.stop();
            EXPECT_EQ(ring->Taken(), target);
            EXPECT_EQ(ring->TakeBacklog(), target - r.at);
            flow.Settle();
            EXPECT_TRUE(ring->Close());
            break;
        }
        case End::FailedWrite:
            EXPECT_TRUE(ring->WriteFailed());
            EXPECT_EQ(ring->WriteError(), ENOSPC);
            EXPECT_LT(ring->Taken(), kAll); // seen while the data still came in
            EXPECT_FALSE(ring->Close());
            break;
        }
        if (pipe) {
            pipe->release();
            const QByteArray received = pipe->Received();
            EXPECT_TRUE(received == kBody.left(qsizetype(r.inFile))) << received.size();
            EXPECT_FALSE(pipe->releasedByTimeout()) << "the event loop stood still";
        }
        ring.reset();
        EXPECT_FALSE(DescriptorOpenOn(file));
    }
}
