#pragma once

#include "transfer/CurlSession.h"
#include "transfer/EasyHandle.h"
#include "transfer/TransferResult.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>

namespace orvello {

class RingWriter;

// One HTTP request that runs on a session while the event loop runs: a header request, a
// page fetched into memory, or a file fetched into a descriptor. start() and cancel() return
// at once; the job reports what it took of the body with `progress` and its end, once, with
// `finished` (queued, so the handlers of the end never run inside libcurl's work or inside the
// call that caused it). A job is deleted with deleteLater() once it has finished or been
// cancelled, never from inside one of its own signals.
//
// The body is taken as it arrives, after each pass of libcurl's work: in blocks of
// `Request::block` bytes with one `progress` each (a cancel between two blocks takes no more),
// or all that is there with one `progress` when the block is 0. A file's body goes through a
// ring to a writer thread (RingWriter), so a slow disk never holds up the loop, and libcurl
// is paused while the ring is full. A job's limits (Limits) bound how long its server may keep
// it: connecting, the answer's headers, a body slower than the low-speed limit, the bytes.
class TransferJob : public QObject {
    Q_OBJECT
public:
    enum class Kind {
        Head,     // a HEAD request (HTTP/1.0 with Connection: keep-alive); the header block only
        ToMemory, // the body into memory (Result::body), at most Limits::maxBytes
        ToFile,   // the body into a file, at most Limits::maxBytes
    };

    struct Request {
        Kind kind = Kind::ToMemory;
        QString url;
        Limits limits;
        // ToFile: the descriptor written to (the job writes through a duplicate of its own), or,
        // when it is -1, the file at `path`, created (never through a link) once the answer's
        // body begins and emptied when it holds anything. The body's first byte goes to
        // `fileOffset`.
        int fd = -1;
        QByteArray path;
        std::int64_t fileOffset = 0;
        // Asks for the body from this byte on (Range: bytes=N-), with If-Range when given; up
        // to rangeTo (included) when that is not below it (Range: bytes=N-M).
        std::int64_t rangeFrom = -1;
        std::int64_t rangeTo = -1;
        QByteArray ifRange;
        // Sent as Referer when not empty.
        QByteArray referer;
        // A cookies file (Netscape format) read for the request; never written.
        QByteArray cookieFile;
        // Head: credentials, sent only when user is not empty.
        QString user;
        QString password;
        // Blocks of progress; 0: one progress for all that arrived in a pass.
        std::size_t block = 0;
        // Bytes a second the answer may come at; 0 for no limit.
        std::int64_t maxRecvSpeed = 0;
    };

    TransferJob(CurlSession& session, quint64 key, Request request, QObject* parent = nullptr);
    ~TransferJob() override;

    quint64 key() const { return key_; }
    const Request& request() const { return request_; }
    // Starts the request; its end comes as `finished`, also when it could not be made.
    void start();
    // Stops the request; `finished` follows with End::Cancelled, unless it has ended already.
    // What was taken before stays counted (and in the file).
    void cancel();
    bool running() const { return phase_ == Phase::Running || phase_ == Phase::Settling; }
    // The body bytes taken so far (in the file, or in memory).
    std::int64_t bytesSoFar() const { return taken_; }
    // The answer's own length (Content-Length of the final response), -1 while unknown.
    std::int64_t responseLength() const;
    // Whether the final response's headers are in (after redirects and interim answers).
    bool opened() const { return opened_; }
    // The final response's status and headers, once opened.
    long status() const;
    const QByteArray& headerBlock() const { return headers_.block; }
    // Changes the speed limit of the running request.
    void setMaxRecvSpeed(std::int64_t bytesPerSecond);
    // ToFile, from the `opening` signal (before any of the body is taken): where the body's
    // first byte goes (the server sent the whole file where a range was asked).
    void setFileOffset(std::int64_t offset);
    // ToFile: lets the writer put down every byte taken so far; it otherwise waits for a
    // whole chunk, which a slow answer may take long to fill.
    void handOver();

signals:
    // The final response's headers are complete: a handler may look at them (status(),
    // headerBlock()) and cancel before any of the body is taken.
    void opening(quint64 key);
    void progress(quint64 key, qint64 bytesSoFar);
    void finished(quint64 key, const orvello::TransferResult& result);

private:
    enum class Phase { Idle, Running, Settling, Finished };
    struct Headers {
        QByteArray block; // the present response's header lines, up to kHeaderLimit bytes
        bool complete = false;
        bool tooLong = false;
        bool sawLocation = false;
    };

    static size_t OnBody(char* data, size_t size, size_t count, void* user);
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);
    static int OnConnected(void* user, char*, char*, int, int);

    bool Make();
    bool OpenPath();
    void Activity(bool last = false);
    void TakeQuietly();
    void Ended();
    void Tick();
    void Settle();
    void Written();
    void Fail(TransferFailure failure, int curlCode = 0, int error = 0);
    void End(TransferResult::End end);
    void ReleaseHandle();
    void Resume();

    CurlSession& session_;
    const quint64 key_;
    Request request_;
    EasyHandle easy_;
    CurlSession::Transfer transfer_;
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> extraHeaders_{nullptr, curl_slist_free_all};
    Phase phase_ = Phase::Idle;
    TransferResult result_;

    // The body.
    std::unique_ptr<RingWriter> ring_; // ToFile
    int fd_ = -1;                      // ToFile: the job's own descriptor
    QByteArray memory_;                // ToMemory: what arrived
    std::int64_t received_ = 0;        // ToMemory: bytes put into memory_
    std::int64_t taken_ = 0;           // counted (reported) body bytes
    bool producerPaused_ = false;      // libcurl waits for room in the ring
    bool opened_ = false;
    bool inActivity_ = false; // Activity runs (a nested loop may call it again)
    Headers headers_;
    int openError_ = 0;

    // The watch over the limits.
    QTimer watch_;
    using Clock = std::chrono::steady_clock;
    bool connected_ = false;
    Clock::time_point since_{};
    Clock::time_point lastTick_{};
    struct Sample {
        Clock::time_point at;
        std::int64_t bytes;
    };
    std::deque<Sample> samples_;
    // The speed limit: what it has allowed until limitSince_ (bytes), and when the transfer
    // began. libcurl makes up for a burst by holding the transfer back as long; while the body
    // is ahead of its limit, that wait is no slow server's.
    double allowed_ = 0;
    Clock::time_point limitSince_{};
    Clock::time_point began_{};
    std::int64_t lastReceived_ = -1; // at the last tick
    bool AheadOfSpeedLimit(Clock::time_point now, std::int64_t received) const;
};

} // namespace orvello
