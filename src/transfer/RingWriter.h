#pragma once

#include <QByteArray>
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
// transfer's loop) takes them in blocks, which is where they are counted; a writer thread of
// the ring's own writes taken bytes to the file, so a slow disk never holds up the event loop
// (a single write() of 256 KiB can take tens of milliseconds while the kernel writes back dirty
// pages). Producer and consumer run on the thread that made the ring, the one with the event
// loop; only the writes run on the writer, which touches nothing of Qt.
//
// Byte positions count from the start of the body: received (put) >= taken >= flushed (in the
// file). The ring holds the bytes between flushed and received, and the producer's room is
// counted from flushed, so it never fills bytes the writer has not written yet. The consumer
// hands taken bytes to the writer 256 KiB at a time; the writer writes them and moves flushed
// on (stored after the write). While the consumer waits for the writer it can wait in the
// event loop: the writer wakes it after its next write through an eventfd that the loop
// watches.
//
// A held loop: while a handler holds the event loop in a nested loop of its own (a message
// box, a dialog), the consumer can't take blocks. The ring notices (the thread's loop level is
// above the one the transfer began in), and the producer's puts, the writer's wake calls and
// ServeHeldLoop take what arrives on the consumer's behalf, hand it to the writer, and let a
// producer held back by a full ring go on once the writer has made room. The consumer learns
// those bytes from TakeBacklog. So the server keeps sending and the file keeps growing while
// the box is open.
//
// However the ring ends (closed, an exception out of a handler, destroyed in mid-transfer),
// the file is left holding every taken byte and is closed, and the writer has ended.
class RingWriter {
public:
    // A power of two, so a position maps to its place with a mask. 1 MiB keeps the data in the
    // CPU's cache and bounds what one event pass takes in (a 4 MiB ring made the longest
    // event-loop gap about twice as long and the transfer slower).
    static constexpr std::size_t kSize = std::size_t(1) << 20;
    // Taken bytes go to the writer in pieces this large, and one write() writes at most this
    // much, so the room a write frees shows up while the next one runs.
    static constexpr std::size_t kChunk = std::size_t(256) << 10;

    // The side that fills the ring, as the held loop's work needs it.
    struct Producer {
        // Lets a producer that a full ring held back go on; it may put data at once.
        std::function<void()> resume;
        // False once the producer has ended or failed: a held loop's work stops then.
        std::function<bool()> live;
    };

    // path: the local file in the file system's encoding; empty when the name is unusable.
    // maxBytes: what the held loop's work takes never passes it (the consumer fails the
    // transfer there).
    RingWriter(QByteArray path, std::int64_t maxBytes, Producer producer);
    ~RingWriter();
    RingWriter(const RingWriter&) = delete;
    RingWriter& operator=(const RingWriter&) = delete;

    // --- The producer's side.
    enum class Put {
        Stored,  // in the ring
        Full,    // no room: nothing stored, the producer waits for resume()
        TooLong, // longer than the whole ring: it can never fit
    };
    Put Store(const char* data, std::size_t length);
    // Whether the producer waits for room.
    bool ProducerWaiting() const { return waiting_; }
    // Bytes put so far.
    std::uint64_t Received() const { return received_; }
    // Lets a waiting producer go on once half the ring is free (it may put data at once).
    void ResumeWhenRoom();

    // --- The consumer's side.
    // Bytes put and not taken yet.
    std::uint64_t Ready() const { return received_ - taken_; }
    std::uint64_t Taken() const { return taken_; }
    // Takes the next `length` ready bytes; every 256 KiB taken go to the writer.
    void Take(std::size_t length);
    // Bytes taken on the consumer's behalf while the loop was held, not reported yet; zero
    // afterwards.
    std::uint64_t TakeBacklog() { return std::exchange(backlog_, 0); }

    // --- The file.
    bool HasPath() const { return !path_.isEmpty(); }
    bool FileOpen() const { return fd_ >= 0; }
    // Creates or opens the local file, emptied, never through a symbolic link, and starts the
    // writer. False, with OpenError() set, when either fails.
    bool OpenFile();
    int OpenError() const { return openError_; }
    // True once a write has failed; the error is then WriteError().
    bool WriteFailed();
    int WriteError() const { return writeError_; }
    // Hands every taken byte to the writer and tells whether the file holds the ring up to
    // `position` (at most what was taken), or the writer has failed or is not running. When
    // not, the writer wakes the event loop after its next write, so the consumer can wait
    // there.
    bool WrittenUpTo(std::uint64_t position);
    // Waits for the writer to write everything taken, ends it and closes the file. This wait
    // blocks; the consumer lets the writer catch up through the event loop first where it can
    // (WrittenUpTo). False, with WriteError() set, when a write or the closing failed.
    bool Close();

    // --- The held loop.
    // Takes the thread's present event-loop level as the consumer's; deeper ones hold it.
    void MarkLoopLevel();
    bool Held() const;
    // While the loop is held: takes what arrived (up to maxBytes), hands it to the writer, and
    // lets a waiting producer go on once the writer has made room (else the writer calls this
    // again after its next write). Opening the file is left to the caller.
    void ServeHeldLoop();

private:
    void TakeForHeldLoop();
    void HandOver();
    void WakeAfterWrite();
    bool StartWriter();
    void StopWriter();
    void WriteOut();
    void OnWake();
    std::size_t Room() const;

    const QByteArray path_;
    const std::int64_t maxBytes_;
    const Producer producer_;

    // received_, taken_, waiting_, backlog_ and loopLevel_ belong to the loop's thread.
    // flushed_ is stored by the writer after the write() of the bytes below it (release), so
    // once the loop has read it (acquire) their places may be filled again.
    std::unique_ptr<char[]> ring_;
    std::uint64_t received_ = 0;
    std::uint64_t taken_ = 0;
    std::atomic<std::uint64_t> flushed_{0};
    bool waiting_ = false;
    std::uint64_t backlog_ = 0;
    int loopLevel_ = 0;

    int fd_ = -1;
    int openError_ = 0;
    int writeError_ = 0; // the loop's copy of the failure

    // The writer: one thread from the file's opening until its closing. The loop hands it the
    // taken range by moving wanted_ on under lock_ (which also publishes the ring bytes below
    // it); the writer writes up to wanted_ and then sleeps on more_.
    std::thread writer_;
    std::mutex lock_;
    std::condition_variable more_;
    std::uint64_t wanted_ = 0; // under lock_: write the ring up to here
    bool closing_ = false;     // under lock_: write up to wanted_, then end
    bool wakeLoop_ = false;    // under lock_: the loop waits for the writer; wake it after a write
    std::atomic<int> failure_{0}; // errno of the write that failed; the writer ends after it
    std::uint64_t handed_ = 0;    // the loop's copy of the last wanted_ it set
    // The writer's wake calls: it adds to the counter of an eventfd, and the loop's notifier on
    // it runs OnWake. Both live from the writer's start until the file is closed.
    int wakeFd_ = -1;
    std::unique_ptr<QSocketNotifier> wakeWatch_;
};

} // namespace orvello
