#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <curl/curl.h>

#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace orvello {

// One libcurl multi handle driven from the Qt event loop of the thread that owns it.
// libcurl tells us which sockets to watch and when to wake it (the multi socket interface);
// QSocketNotifier and a single-shot QTimer turn those wishes into event-loop sources, so
// transfers advance whenever the loop runs (a nested loop of a message box included) and no
// thread of our own is needed.
//
// The multi handle keeps the connection cache, so every request made on one session (a
// header request and the transfer after it, the pages and files of a whole run) can reuse
// the connections of the ones before it.
//
// The transfers hear of their own progress through two calls that run from the event loop
// after libcurl has returned, never from inside its callbacks or a socket's activation:
// `activity` after a pass in which the transfer's callbacks ran (it asked for that with
// noteActivity), and `finished` once libcurl has finished with it. Either may take the handle
// off the session, or any other handle; neither may destroy the session.
class CurlSession : public QObject {
    Q_OBJECT
public:
    // What a transfer on this session learns about its own end, and whom it tells.
    struct Transfer {
        bool done = false;
        CURLcode result = CURLE_OK;
        std::function<void()> activity; // optional
        std::function<void()> finished; // optional
    };

    // The user agent every request of the program presents.
    static constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)";

    explicit CurlSession(QByteArray userAgent = kAgent, QObject* parent = nullptr);
    ~CurlSession() override;

    CurlSession(const CurlSession&) = delete;
    CurlSession& operator=(const CurlSession&) = delete;

    // False when libcurl could not give us a multi handle; such a session can't start anything.
    bool isValid() const { return multi_ != nullptr; }
    const QByteArray& userAgent() const { return userAgent_; }

    // Starts easy on this session. state is written when the transfer ends and must stay
    // valid until remove() is called. Returns false if the handle could not be added.
    bool add(CURL* easy, Transfer* state);
    // Takes easy off the session (finished or not); safe to call for a handle never added.
    // Its state hears nothing more.
    void remove(CURL* easy);
    // From a callback of the transfer's own: run its `activity` once libcurl has returned.
    void noteActivity(const Transfer* state);
    // Has the transfers with activity hear of it soon: for a call of libcurl's outside the
    // session's own passes (letting a paused transfer go on may deliver data at once).
    void tellSoon();

private:
    struct Watch {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    static int onSocket(CURL* easy, curl_socket_t s, int what, void* self, void* socketp);
    static int onTimer(CURLM* multi, long timeoutMs, void* self);

    void watch(curl_socket_t s, int what);
    void act(curl_socket_t s, int bitmask);
    void collectFinished();
    void tellTransfers();

    CURLM* multi_ = nullptr;
    QByteArray userAgent_;
    QTimer timer_;
    // Notifiers by socket. They are disabled, not deleted, when libcurl drops a socket: that
    // may happen inside their own activation, and the kernel hands out the same numbers
    // again, so the map stays as small as the number of sockets open at one time.
    std::unordered_map<curl_socket_t, Watch> watches_;
    // Transfers to tell after the present pass; entries are cleared when their handle leaves.
    std::vector<const Transfer*> active_;
    std::vector<const Transfer*> ended_;
    std::unordered_map<CURL*, Transfer*> states_;
    bool tellQueued_ = false;
    int telling_ = 0;       // tellTransfers calls on the stack
    int tellingLevel_ = -1; // the event loop level of the innermost one
};

} // namespace orvello
