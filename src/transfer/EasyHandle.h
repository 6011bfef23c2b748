#pragma once

#include "transfer/CurlSession.h"

#include <QByteArray>

#include <curl/curl.h>

#include <chrono>
#include <cstdint>
#include <functional>

namespace orvello {

// One libcurl easy handle of a request, owned: made with the options every request of the
// program shares, started on a session, and taken off the session and freed when its owner
// lets go of it or goes. The session must outlive the handle, or the handle must be released
// before the session goes.
class EasyHandle {
public:
    EasyHandle() = default;
    ~EasyHandle() { Release(); }
    EasyHandle(const EasyHandle&) = delete;
    EasyHandle& operator=(const EasyHandle&) = delete;

    // Makes the handle for an address in its wire form with the shared options: http when it
    // names no scheme, only http and https, explicit ports honoured, redirects followed (20 at
    // most), a direct connection whatever the environment says, `agent` as the user agent and
    // `connectTimeout` for connecting. False when the address holds a NUL byte or libcurl
    // gives no handle.
    bool Make(const QByteArray& wireUrl, const QByteArray& agent,
              std::chrono::milliseconds connectTimeout);
    // Starts the request on `session`; end() tells when and how it ended. `activity` and
    // `finished` are the session's calls to the request's owner (CurlSession::Transfer). False,
    // and the handle let go, when it could not be added.
    bool Start(CurlSession& session, std::function<void()> activity = {},
               std::function<void()> finished = {});
    // Takes the handle off its session (finished or not) and frees it.
    void Release();

    CURL* get() const { return easy_; }
    explicit operator bool() const { return easy_ != nullptr; }
    const CurlSession::Transfer& end() const { return end_; }
    // The HTTP status of the last response (after redirects); 0 when none began.
    long ResponseCode() const;
    // The Content-Length of the last response's header block; -1 when it gave none.
    std::int64_t ContentLength() const;

private:
    CurlSession* session_ = nullptr;
    CURL* easy_ = nullptr;
    CurlSession::Transfer end_;
};

} // namespace orvello
