#include "transfer/RingWriter.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace orvello {

namespace {
constexpr std::size_t kMask = RingWriter::kSize - 1;
} // namespace

RingWriter::RingWriter(std::function<void()> written)
    : written_(std::move(written)), ring_(std::make_unique_for_overwrite<char[]>(kSize)) {}

RingWriter::~RingWriter() {
    Close();
}

std::size_t RingWriter::Room() const {
    return kSize - (received_ - flushed_.load(std::memory_order_acquire));
}

RingWriter::Put RingWriter::Store(const char* data, std::size_t length) {
    if (length > Room()) {
        if (length > kSize)
            return Put::TooLong;
        waiting_ = true;
        return Put::Full;
    }
    const std::size_t at = received_ & kMask;
    const std::size_t first = std::min(length, kSize - at);
    std::memcpy(ring_.get() + at, data, first);
    std::memcpy(ring_.get(), data + first, length - first);
    received_ += length;
    return Put::Stored;
}

void RingWriter::Take(std::size_t length) {
    taken_ += length;
    if (taken_ - handed_ >= kChunk)
        HandOver();
}

bool RingWriter::Attach(int fd, std::int64_t offset) {
    fd_ = fd;
    offset_ = offset;
    if (!StartWriter()) {
        openError_ = writeError_;
        fd_ = -1;
        return false;
    }
    return true;
}

void RingWriter::SetOffset(std::int64_t offset) {
    // The writer reads the offset under the lock; it has nothing to write before a take.
    const std::lock_guard<std::mutex> hold(lock_);
    offset_ = offset;
}

bool RingWriter::WriteFailed() {
    const int error = failure_.load(std::memory_order_acquire);
    if (error != 0)
        writeError_ = error;
    return error != 0;
}

bool RingWriter::WrittenUpTo(std::uint64_t position) {
    position = std::min(position, taken_);
    {
        const std::lock_guard<std::mutex> hold(lock_);
        wanted_ = handed_ = taken_;
        if (flushed_.load(std::memory_order_acquire) >= position ||
            failure_.load(std::memory_order_relaxed) != 0 || !writer_.joinable())
            return true;
        wakeLoop_ = true;
    }
    more_.notify_one();
    return false;
}

bool RingWriter::Close() {
    if (fd_ < 0)
        return true;
    StopWriter();
    const bool ok = !WriteFailed();
    fd_ = -1;
    wakeWatch_.reset();
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    wakeFd_ = -1;
    return ok;
}

void RingWriter::HandOver() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        wanted_ = handed_ = taken_;
    }
    more_.notify_one();
}

// False, with the error as writeError_, when no thread (or no eventfd for its wake calls) can
// be had.
bool RingWriter::StartWriter() {
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        writeError_ = errno;
        return false;
    }
    wakeWatch_ = std::make_unique<QSocketNotifier>(wakeFd_, QSocketNotifier::Read);
    QObject::connect(wakeWatch_.get(), &QSocketNotifier::activated, [this] { OnWake(); });
    try {
        writer_ = std::thread([this] { WriteOut(); });
    } catch (const std::system_error& e) {
        writeError_ = e.code().value();
        return false;
    }
    return true;
}

void RingWriter::StopWriter() {
    if (!writer_.joinable())
        return;
    {
        const std::lock_guard<std::mutex> hold(lock_);
        wanted_ = handed_ = taken_;
        closing_ = true;
    }
    more_.notify_one();
    writer_.join();
}

// The writer's thread: writes the ring from flushed_ up to wanted_ in pieces of at most kChunk
// (never across the ring's end), until the ring is closed or a write fails. Only this thread
// moves flushed_.
void RingWriter::WriteOut() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        more_.wait(hold, [this] {
            return closing_ || wanted_ > flushed_.load(std::memory_order_relaxed);
        });
        const std::uint64_t at = flushed_.load(std::memory_order_relaxed);
        if (at >= wanted_)
            return; // closing, and everything handed over is in the file
        const std::size_t place = at & kMask;
        const std::size_t length = std::min<std::uint64_t>({wanted_ - at, kSize - place, kChunk});
        const std::int64_t offset = offset_;
        hold.unlock();
        // A file that can't be written at an offset (a pipe) is written in order instead.
        ssize_t n = sequential_
                        ? ::write(fd_, ring_.get() + place, length)
                        : ::pwrite(fd_, ring_.get() + place, length, off_t(offset + off_t(at)));
        int error = n < 0 ? errno : 0;
        if (n < 0 && error == ESPIPE && !sequential_ && at == 0) {
            sequential_ = true;
            n = ::write(fd_, ring_.get() + place, length);
            error = n < 0 ? errno : 0;
        }
        hold.lock();
        if (n < 0 && error == EINTR)
            continue;
        if (n <= 0)
            failure_.store(n < 0 ? error : ENOSPC, std::memory_order_release);
        else
            flushed_.store(at + std::uint64_t(n), std::memory_order_release);
        if (wakeLoop_) {
            wakeLoop_ = false;
            const std::uint64_t one = 1;
            [[maybe_unused]] const ssize_t sent = ::write(wakeFd_, &one, sizeof one);
        }
        if (n <= 0)
            return;
    }
}

// A wake call of the writer, on the loop's thread.
void RingWriter::OnWake() {
    std::uint64_t calls = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &calls, sizeof calls);
    if (written_)
        written_();
}

} // namespace orvello
