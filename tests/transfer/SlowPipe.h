#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

namespace orvello::test {

// A named pipe as the local file, drained by a thread of the test at a set pace: `chunk`
// bytes at most per read, then a pause. A 64 KiB pipe then makes a 256 KiB write() block
// for tens of milliseconds, as a slow disk does. Held, it is not drained at all until
// release() (or, as a last resort, for 5 s), so every write() blocks like a disk that has
// stopped. Collects the bytes until the last writer closes the pipe.
class SlowPipe {
public:
    SlowPipe(const QString& path, std::size_t chunk, std::chrono::milliseconds pause, bool held)
        : path_(path), held_(held) {
        if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
            return;
        fd_ = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0)
            reader_ = std::thread([this, chunk, pause] { Drain(chunk, pause); });
    }
    ~SlowPipe() {
        stop_ = true;
        Received();
    }
    bool ready() const { return fd_ >= 0; }
    void release() { held_ = false; }
    // The hold ended by itself: nobody released it in 5 s.
    bool releasedByTimeout() const { return releasedByTimeout_; }

    // Everything read, once the writer has closed the pipe (or after 30 s).
    QByteArray Received() {
        if (reader_.joinable())
            reader_.join();
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        return data_;
    }

private:
    void Drain(std::size_t chunk, std::chrono::milliseconds pause) {
        QByteArray buffer(qsizetype(chunk), Qt::Uninitialized);
        const auto holdEnd = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (held_ && !stop_) {
            if (std::chrono::steady_clock::now() >= holdEnd) {
                releasedByTimeout_ = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!stop_ && std::chrono::steady_clock::now() < giveUp) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            const ssize_t n = ::read(fd_, buffer.data(), chunk);
            if (n > 0) {
                data_.append(buffer.constData(), n);
                std::this_thread::sleep_for(pause);
            } else if (n == 0 && (p.revents & POLLHUP)) {
                return; // a writer came and went: the data has ended
            } else if (n == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5)); // no writer yet
            } else if (errno != EAGAIN && errno != EINTR) {
                return;
            }
        }
    }

    QString path_;
    int fd_ = -1;
    std::thread reader_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> held_;
    std::atomic<bool> releasedByTimeout_{false};
    QByteArray data_;
};

} // namespace orvello::test
