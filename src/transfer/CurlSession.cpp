#include "transfer/CurlSession.h"

#include <QSocketNotifier>
#include <QThread>

#include <algorithm>

namespace orvello {

CurlSession::CurlSession(QByteArray userAgent, QObject* parent)
    : QObject(parent), userAgent_(std::move(userAgent)) {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)ready;
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, [this] { act(CURL_SOCKET_TIMEOUT, 0); });

    multi_ = curl_multi_init();
    if (!multi_)
        return;
    curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlSession::onSocket);
    curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlSession::onTimer);
    curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

CurlSession::~CurlSession() {
    if (multi_)
        curl_multi_cleanup(multi_); // closes the cached connections
    timer_.stop();
}

bool CurlSession::add(CURL* easy, Transfer* state) {
    if (!multi_ || !easy)
        return false;
    state->done = false;
    state->result = CURLE_OK;
    curl_easy_setopt(easy, CURLOPT_PRIVATE, state);
    // Adding arms the timer at zero; the transfer starts the next time the loop runs.
    if (curl_multi_add_handle(multi_, easy) != CURLM_OK)
        return false;
    states_[easy] = state;
    return true;
}

void CurlSession::remove(CURL* easy) {
    if (!multi_ || !easy)
        return;
    curl_multi_remove_handle(multi_, easy);
    const auto it = states_.find(easy);
    if (it == states_.end())
        return;
    // A pass that is telling its transfers may still hold this one: it hears nothing more.
    const Transfer* gone = it->second;
    std::replace(active_.begin(), active_.end(), gone, static_cast<const Transfer*>(nullptr));
    std::replace(ended_.begin(), ended_.end(), gone, static_cast<const Transfer*>(nullptr));
    states_.erase(it);
}

void CurlSession::noteActivity(const Transfer* state) {
    if (std::find(active_.begin(), active_.end(), state) == active_.end())
        active_.push_back(state);
}

int CurlSession::onSocket(CURL*, curl_socket_t s, int what, void* self, void*) {
    static_cast<CurlSession*>(self)->watch(s, what);
    return 0;
}

int CurlSession::onTimer(CURLM*, long timeoutMs, void* self) {
    auto* session = static_cast<CurlSession*>(self);
    // libcurl must not be called back into from here; the timer runs it from the loop.
    if (timeoutMs < 0)
        session->timer_.stop();
    else
        session->timer_.start(static_cast<int>(std::min<long>(timeoutMs, 24L * 3600 * 1000)));
    return 0;
}

void CurlSession::watch(curl_socket_t s, int what) {
    Watch& w = watches_[s];
    const bool wantRead = what == CURL_POLL_IN || what == CURL_POLL_INOUT;
    const bool wantWrite = what == CURL_POLL_OUT || what == CURL_POLL_INOUT;

    auto update = [this, s](std::unique_ptr<QSocketNotifier>& n, QSocketNotifier::Type type,
                            bool want, int bit) {
        if (!want) {
            if (n)
                n->setEnabled(false);
            return;
        }
        if (!n) {
            n = std::make_unique<QSocketNotifier>(s, type);
            connect(n.get(), &QSocketNotifier::activated, this, [this, s, bit] { act(s, bit); });
        }
        n->setEnabled(true);
    };
    update(w.read, QSocketNotifier::Read, wantRead, CURL_CSELECT_IN);
    update(w.write, QSocketNotifier::Write, wantWrite, CURL_CSELECT_OUT);
}

void CurlSession::act(curl_socket_t s, int bitmask) {
    if (!multi_)
        return;
    int running = 0;
    curl_multi_socket_action(multi_, s, bitmask, &running);
    collectFinished();
    tellSoon();
}

// The transfers hear of it from the event loop, never from inside a socket's activation: a
// handler that opened a message box there would hold every socket (the loop does not dispatch
// sockets again inside their own dispatch). When a handler holds the loop in such a box
// already, the passes inside it tell the transfers at once: the loop may not deliver the
// queued call before the box closes. A call from a transfer's own handling at the level of
// the pass that is telling (a paused transfer let go, which lets libcurl deliver at once) is
// left to that pass, which works its lists off when the handler returns: telling it from
// inside would take the transfer's data past its block events.
void CurlSession::tellSoon() {
    if (active_.empty() && ended_.empty())
        return;
    if (telling_ > 0) {
        if (QThread::currentThread()->loopLevel() > tellingLevel_)
            tellTransfers();
    } else if (!tellQueued_) {
        tellQueued_ = true;
        QMetaObject::invokeMethod(
            this,
            [this] {
                tellQueued_ = false;
                tellTransfers();
            },
            Qt::QueuedConnection);
    }
}

void CurlSession::collectFinished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
        if (msg->msg != CURLMSG_DONE)
            continue;
        Transfer* state = nullptr;
        curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &state);
        if (state) {
            state->done = true;
            state->result = msg->data.result;
            ended_.push_back(state);
        }
    }
}

// Tells the transfers of this pass, activity first, then their ends. A call may remove any
// handle (its entries go null), or let libcurl deliver more at once (a transfer let go of a
// pause), which adds to the lists: they are worked off from the front until they are empty.
// A call may also run a nested event loop (a message box opened by a handler): the passes made
// inside it work the lists off in the same way, so every transfer goes on meanwhile.
void CurlSession::tellTransfers() {
    ++telling_;
    const int outerLevel = tellingLevel_;
    tellingLevel_ = QThread::currentThread()->loopLevel();
    while (!active_.empty() || !ended_.empty()) {
        if (!active_.empty()) {
            const Transfer* t = active_.front();
            active_.erase(active_.begin());
            if (t && t->activity)
                t->activity();
            continue;
        }
        const Transfer* t = ended_.front();
        ended_.erase(ended_.begin());
        if (t && t->finished)
            t->finished();
    }
    tellingLevel_ = outerLevel;
    --telling_;
}

} // namespace orvello
