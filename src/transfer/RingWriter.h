#pragma once

#include <QSocketNotifier>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace orvello {

// The body of one transfer on its way from the network into the local file.
//
// A producer (libcurl's body callback) puts the bytes into a 1 MiB ring; the consumer (the
// transfer, after each pass of libcurl's work) takes them, which is where they are counted;
// a writer thread of the ring's own writes taken bytes to the file, so a slow disk never
// holds up the event loop (a single write() of 256 KiB can take tens of milliseconds while
// the kernel writes back dirty pages). Producer and consumer run on the thread that made the
// ring, the one with the event loop; only the writes run on the writer, which touches
// nothing of Qt.
//
// Byte positions count from the start of the body: received (put) >= taken >= flushed (in the
// file). The ring holds the bytes between flushed and received, and the producer's room is
// counted from flushed, so it never fills bytes the writer has not written yet. The consumer
// hands taken bytes to the writer 256 KiB at a time; the writer writes them at the file's
// offset of the body's first byte plus their position, and moves flushed on (stored after
// the write). When the consumer asks (WrittenUpTo), the writer calls `written` on the loop's
// thread after its next write, through an eventfd that the loop watches: that is how a
// producer held back by a full ring goes on, and how the end of a transfer waits for its last
// writes without blocking the loop.
//
// However the ring ends (closed, destroyed in mid-transfer), the file holds every taken byte
// and the writer has ended. The descriptor is the caller's: the ring never closes it.
class RingWriter {
public:
    // A power of two, so a position maps to its place with a mask. 1 MiB keeps the data in the
    // CPU's cache and bounds what one pass takes in.
    static constexpr std::size_t kSize = std::size_t(1) << 20;
    // Taken bytes go to the writer in pieces this large, and one write() writes at most this
    // much, so the room a write frees shows up while the next one runs.
    static constexpr std::size_t kChunk = std::size_t(256) << 10;

    // `written` runs on the loop's thread after a write the consumer waited for.
    explicit RingWriter(std::function<void()> written = {});
    ~RingWriter();
    RingWriter(const RingWriter&) = delete;
    RingWriter& operator=(const RingWriter&) = delete;

    // --- The producer's side.
    enum class Put {
        Stored,  // in the ring
        Full,    // no room: nothing stored, the producer waits until there is room
        TooLong, // longer than the whole ring: it can never fit
    };
    Put Store(const char* data, std::size_t length);
    // Whether the producer waits for room, and whether half the ring is free for it again;
    // Resumed() notes that it goes on.
    bool ProducerWaiting() const { return waiting_; }
    bool RoomForProducer() const { return Room() >= kSize / 2; }
    void Resumed() { waiting_ = false; }
    // Bytes put so far.
    std::uint64_t Received() const { return received_; }

    // --- The consumer's side.
    // Bytes put and not taken yet.
    std::uint64_t Ready() const { return received_ - taken_; }
    std::uint64_t Taken() const { return taken_; }
    // Takes the next `length` ready bytes; every 256 KiB taken go to the writer.
    void Take(std::size_t length);

    // --- The file.
    bool FileOpen() const { return fd_ >= 0; }
    // Writes into `fd` (not owned; it must stay open until Close) from `offset` on, and
    // starts the writer. False, with OpenError() set, when the writer can't be started.
    bool Attach(int fd, std::int64_t offset);
    int OpenError() const { return openError_; }
    // Moves where the body's first byte goes, while nothing has been taken yet.
    void SetOffset(std::int64_t offset);
    // True once a write has failed; the error is then WriteError().
    bool WriteFailed();
    int WriteError() const { return writeError_; }
    // Hands every taken byte to the writer and tells whether the file holds the ring up to
    // `position` (at most what was taken), or the writer has failed or is not running. When
    // not, the writer calls `written` after its next write.
    bool WrittenUpTo(std::uint64_t position);
    // Waits for the writer to write everything taken and ends it. The wait blocks; the
    // consumer lets the writer catch up through the event loop first where it can
    // (WrittenUpTo). False, with WriteError() set, when a write failed.
    bool Close();

private:
    void HandOver();
    bool StartWriter();
    void StopWriter();
    void WriteOut();
    void OnWake();
    std::size_t Room() const;

    const std::function<void()> written_;

    // received_, taken_ and waiting_ belong to the loop's thread. flushed_ is stored by the
    // writer after the write() of the bytes below it (release), so once the loop has read it
    // (acquire) their places may be filled again.
    std::unique_ptr<char[]> ring_;
    std::uint64_t received_ = 0;
    std::uint64_t taken_ = 0;
    std::atomic<std::uint64_t> flushed_{0};
    bool waiting_ = false;

    int fd_ = -1;
    std::int64_t offset_ = 0;
    int openError_ = 0;
    int writeError_ = 0; // the loop's copy of the failure

    // The writer: one thread from Attach until Close. The loop hands it the taken range by
    // moving wanted_ on under lock_ (which also publishes the ring bytes below it); the
    // writer writes up to wanted_ and then sleeps on more_.
    std::thread writer_;
    std::mutex lock_;
    std::condition_variable more_;
    std::uint64_t wanted_ = 0; // under lock_: write the ring up to here
    bool closing_ = false;     // under lock_: write up to wanted_, then end
    bool wakeLoop_ = false;    // under lock_: the loop waits for the writer; wake it after a write
    std::atomic<int> failure_{0}; // errno of the write that failed; the writer ends after it
    std::uint64_t handed_ = 0;    // the loop's copy of the last wanted_ it set
    bool sequential_ = false;     // the writer's: the file takes no offsets (a pipe)
    // The writer's wake calls: it adds to the counter of an eventfd, and the loop's notifier on
    // it runs OnWake. Both live from the writer's start until Close.
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeWatch_;
};

} // namespace orvello
