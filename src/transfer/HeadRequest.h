#pragma once

#include "transfer/EasyHandle.h"
#include "transfer/HeaderBlock.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <memory>

namespace orvello {

class CurlSession;

// One header request: a HEAD request for an address, sent as HTTP/1.0 with
// "Connection: keep-alive" (without it a server closes a 1.0 connection after the answer, and
// the transfer that follows could not use it), and the reading of its answer into the header
// values. The header block of the final response is kept (a redirect's
// block is replaced by that of the response it leads to), 1024 bytes at most, and read with
// ReadHeaderBlock. The request runs on a session whose event loop the caller lets run until
// Done(); libcurl ends it when its whole answer has not come within the header time.
class HeadRequest {
public:
    struct Settings {
        std::chrono::milliseconds connect{30000}; // connecting to the server
        std::chrono::milliseconds headers{60000}; // the whole answer, from the start
        // Credentials; sent only when user is not empty.
        QString user;
        QString password;
    };

    // Starts the request for `url` (sent in its wire form) on `session`, whose user agent it
    // presents. False when it can't be made: Finish() then gives the values of no answer.
    bool Start(CurlSession& session, const QString& url, const Settings& settings);
    bool Done() const { return easy_.end().done; }
    // The values the answer gives, and the handle let go. Every outcome sets all of them, so
    // none can describe an earlier address:
    //  - a complete answer whose block fits: the values read from it (a Content-Length that
    //    gives no length reads as a missing one, a size of -1);
    //  - a complete answer whose block is longer: only the status counts, the file exists
    //    when it is 200; "Not Available", -1 and empty names otherwise;
    //  - no complete answer (not made, refused, failed, timed out, not done yet): the file
    //    does not exist, "Not Available", -1 and empty names.
    HeaderValues Finish();
    // Takes the request off its session and frees it (the instance that ran it goes).
    void Release() { easy_.Release(); }

private:
    // The header block of the last response received.
    struct Capture {
        QByteArray block;
        bool complete = false; // the empty line that ends the block has arrived
        bool tooLong = false;  // the block passed kHeaderBlockLimit; block is not kept then
    };
    static size_t OnHeader(char* data, size_t size, size_t count, void* user);

    // Declared before the handle, which reads it until it is freed.
    std::unique_ptr<curl_slist, void (*)(curl_slist*)> extraHeaders_{nullptr, curl_slist_free_all};
    EasyHandle easy_;
    Capture capture_;
};

} // namespace orvello
