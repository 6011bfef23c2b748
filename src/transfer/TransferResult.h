#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

#include <chrono>
#include <cstdint>

namespace orvello {

// What bounds one request, so a slow or endless server can't hold the program. The defaults
// are the program's; tests shorten them.
struct Limits {
    // Connecting to the server; past it the address counts as not found.
    std::chrono::milliseconds connect{30000};
    // From the connection until the answer's headers are complete (the whole answer of a
    // header request); past it the request fails.
    std::chrono::milliseconds headers{60000};
    // A body that comes slower than lowSpeedBytesPerSecond for this long fails. Time the
    // program spends away from the event loop, and time the body waits for room in the
    // program's own buffer or for a speed limit, don't count.
    std::chrono::milliseconds lowSpeedTime{60000};
    double lowSpeedBytesPerSecond = 100;
    // The most body bytes one request may receive. A request that would pass it fails.
    std::int64_t maxBytes = std::int64_t(1) << 40;
};

// What ended a request that did not complete, beside the words of TransferFailureReason.
enum class TransferFailure {
    None,     // completed or cancelled
    NotFound, // the address could not be opened (no answer began)
    Read,     // the answer broke off or failed
    Write,    // the local file could not be made or written
    TooSlow,  // headers or body slower than the limits allow
    TooLarge, // more body than the limit
};

// How one request ended.
struct TransferResult {
    enum class End { Complete, Cancelled, Failed };
    End end = End::Failed;
    TransferFailure failure = TransferFailure::None;
    int curlCode = 0; // libcurl's result behind a failure, 0 when none applies
    int error = 0;    // the system's error behind a failed write
    long status = 0;  // the final response's HTTP status; 0 when none began
    // Body bytes taken (counted, and in the file or in memory).
    std::int64_t bytes = 0;
    // The final response's Content-Length; -1 without one.
    std::int64_t responseLength = -1;
    // The final response's header lines (status line included), as sent, bounded.
    QByteArray headerBlock;
    bool headerBlockTooLong = false;
    bool headersComplete = false; // the final response's header block ended
    bool dataEnded = false;       // the server's data ended (whatever the file made of it)
    QByteArray body;              // a memory request's body
    QString url;                  // the address asked for
    QString effectiveUrl;         // the final address, after redirects

    bool complete() const { return end == End::Complete; }
    bool cancelled() const { return end == End::Cancelled; }
};

// Whether a request that ended so may succeed when it is made again a little later: the
// connection refused, reset or broken off, a time-out, a server too slow, or an answer 408,
// 429, 500, 502, 503 or 504. A missing file (404, 410), a host that does not exist, a file
// that can't be written or an answer too large can't pass.
bool MayPass(const TransferResult& result);
bool MayPass(long httpStatus);

// A failure in words a user understands ("The host www.example.com was not found.", "The disk
// is full.", ...); the empty text for a request that did not fail.
QString TransferFailureReason(const TransferResult& result, const Limits& limits);
// An HTTP error status in words: "The server answered 404 (Not Found)."
QString HttpStatusReason(int code);

} // namespace orvello

Q_DECLARE_METATYPE(orvello::TransferResult)
