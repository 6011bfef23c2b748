#include "transfer/TransferJob.h"

#include "common/WireText.h"
#include "transfer/HeaderBlock.h"
#include "transfer/RingWriter.h"

#include <QPointer>
#include <QScopeGuard>

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace orvello {

namespace {

using std::chrono::milliseconds;

// libcurl's receive buffer; its default (16 KiB) costs a pass of the loop per 16 KiB.
constexpr long kReceiveBuffer = 512L << 10;
// A whole receive buffer must fit once the consumer has freed half the ring.
static_assert(RingWriter::kSize / 2 >= std::size_t(kReceiveBuffer));
// How often the watch over a request's limits looks: a tenth of the shorter limit, within
// these bounds.
constexpr milliseconds kWatchMin{10};
constexpr milliseconds kWatchMax{500};
// The most header bytes of one response a file or page request keeps (for its validators).
constexpr qsizetype kKeptHeaderBytes = 16 << 10;

} // namespace

TransferJob::TransferJob(CurlSession& session, quint64 key, Request request, QObject* parent)
    : QObject(parent), session_(session), key_(key), request_(std::move(request)) {
    result_.url = request_.url;
    watch_.setParent(this);
}

TransferJob::~TransferJob() {
    ReleaseHandle();
    if (ring_)
        ring_->Close();
    if (fd_ >= 0)
        ::close(fd_);
}

std::int64_t TransferJob::responseLength() const {
    if (!easy_)
        return result_.responseLength;
    curl_off_t length = -1;
    curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
    return length;
}

long TransferJob::status() const {
    return easy_ ? easy_.ResponseCode() : result_.status;
}

void TransferJob::setMaxRecvSpeed(std::int64_t bytesPerSecond) {
    const auto now = Clock::now();
    if (phase_ == Phase::Running)
        allowed_ += double(request_.maxRecvSpeed) *
                    std::chrono::duration<double>(now - limitSince_).count();
    limitSince_ = now;
    request_.maxRecvSpeed = std::max<std::int64_t>(bytesPerSecond, 0);
    if (easy_)
        curl_easy_setopt(easy_.get(), CURLOPT_MAX_RECV_SPEED_LARGE,
                         curl_off_t(request_.maxRecvSpeed));
}

void TransferJob::setFileOffset(std::int64_t offset) {
    request_.fileOffset = offset;
    if (ring_)
        ring_->SetOffset(offset);
}

void TransferJob::handOver() {
    if (ring_ && phase_ == Phase::Running)
        ring_->WrittenUpTo(ring_->Taken());
}

bool TransferJob::Make() {
    if (!session_.isValid() ||
        !easy_.Make(WireUrl(request_.url), session_.userAgent(), request_.limits.connect))
        return false;
    CURL* easy = easy_.get();
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &TransferJob::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &TransferJob::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, this);
    if (!request_.referer.isEmpty())
        curl_easy_setopt(easy, CURLOPT_REFERER, request_.referer.constData());
    if (!request_.cookieFile.isEmpty())
        curl_easy_setopt(easy, CURLOPT_COOKIEFILE, request_.cookieFile.constData());
    if (request_.maxRecvSpeed > 0)
        curl_easy_setopt(easy, CURLOPT_MAX_RECV_SPEED_LARGE, curl_off_t(request_.maxRecvSpeed));

    curl_slist* extra = nullptr;
    if (request_.kind == Kind::Head) {
        // HTTP/1.0 closes the connection after the answer unless asked not to; the transfer
        // that follows uses it.
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
        extra = curl_slist_append(extra, "Connection: keep-alive");
        // The whole answer of a header request is its headers.
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS,
                         long(std::max<milliseconds::rep>(request_.limits.headers.count(), 1)));
        if (!request_.user.isEmpty()) { // libcurl keeps copies of both
            curl_easy_setopt(easy, CURLOPT_USERNAME, request_.user.toUtf8().constData());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, request_.password.toUtf8().constData());
        }
    } else {
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &TransferJob::OnBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
        if (request_.rangeFrom >= 0) {
            QByteArray range = QByteArray::number(qint64(request_.rangeFrom)) + '-';
            if (request_.rangeTo >= request_.rangeFrom)
                range += QByteArray::number(qint64(request_.rangeTo));
            curl_easy_setopt(easy, CURLOPT_RANGE, range.constData()); // libcurl copies it
            if (!request_.ifRange.isEmpty())
                extra = curl_slist_append(extra, ("If-Range: " + request_.ifRange).constData());
        }
    }
    extraHeaders_.reset(extra);
    if (extra)
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, extra);
    if (request_.kind == Kind::ToFile && request_.fd >= 0) {
        fd_ = ::fcntl(request_.fd, F_DUPFD_CLOEXEC, 0);
        if (fd_ < 0) {
            openError_ = errno;
            return false;
        }
    }
    return true;
}

void TransferJob::start() {
    if (phase_ != Phase::Idle)
        return;
    phase_ = Phase::Running;
    if (request_.kind == Kind::ToFile)
        ring_ = std::make_unique<RingWriter>([this] { Written(); });
    if (!Make()) {
        if (openError_ != 0)
            Fail(TransferFailure::Write, 0, openError_);
        else
            Fail(TransferFailure::NotFound);
        return;
    }
    if (!easy_.Start(
            session_, [this] { Activity(); }, [this] { Ended(); })) {
        Fail(TransferFailure::NotFound);
        return;
    }
    if (request_.kind != Kind::Head) {
        const milliseconds shorter =
            std::min(request_.limits.headers, request_.limits.lowSpeedTime);
        watch_.setInterval(std::clamp(shorter / 10, kWatchMin, kWatchMax));
        connect(&watch_, &QTimer::timeout, this, &TransferJob::Tick);
        lastTick_ = Clock::now();
        began_ = limitSince_ = lastTick_;
        watch_.start();
    }
}

void TransferJob::cancel() {
    if (phase_ == Phase::Idle) {
        phase_ = Phase::Running; // ends at once, with nothing taken
    } else if (phase_ != Phase::Running) {
        return;
    }
    End(TransferResult::End::Cancelled);
}

void TransferJob::ReleaseHandle() {
    if (easy_) {
        result_.status = easy_.ResponseCode();
        curl_off_t length = -1;
        curl_easy_getinfo(easy_.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length);
        result_.responseLength = length;
        char* effective = nullptr;
        curl_easy_getinfo(easy_.get(), CURLINFO_EFFECTIVE_URL, &effective);
        if (effective)
            result_.effectiveUrl = QString::fromLatin1(effective);
    }
    easy_.Release();
}

// Opens the local file named by path, once the final answer begins: never through a link,
// emptied only when it holds something (on ext4 a truncation makes the closing write out
// everything written since, which would hold the loop at the end of a large download).
bool TransferJob::OpenPath() {
    if (request_.path.isEmpty() || request_.path.contains('\0')) {
        openError_ = ENOENT;
        return false;
    }
    fd_ = ::open(request_.path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat st {};
    if (fd_ < 0 || ::fstat(fd_, &st) != 0 || (st.st_size > 0 && ::ftruncate(fd_, 0) != 0)) {
        openError_ = errno;
        return false;
    }
    return true;
}

size_t TransferJob::OnHeader(char* data, size_t size, size_t count, void* user) {
    auto& j = *static_cast<TransferJob*>(user);
    const size_t length = size * count;
    Headers& h = j.headers_;
    if (h.complete) // a further response follows a redirect or an interim one
        h = Headers{};
    if (IsHeaderBlockEnd(data, length)) {
        h.complete = true;
        const long code = j.easy_.ResponseCode();
        const bool interim = code >= 100 && code < 200;
        const bool redirect = code >= 300 && code < 400 && h.sawLocation;
        if (!interim && !redirect) {
            j.opened_ = true;
            if (j.request_.kind == Kind::ToFile && j.fd_ < 0 && !j.OpenPath())
                return 0; // the file can't be made: the request fails with the reason
            // An answer kept in memory gets its announced room at once (never more than the
            // request takes, nor than 64 MiB whatever a server announces), so it is not copied
            // each time it outgrows its buffer.
            constexpr std::int64_t kMostReserved = std::int64_t(64) << 20;
            const std::int64_t announced = j.easy_.ContentLength();
            if (j.request_.kind == Kind::ToMemory && announced > 0 &&
                announced <= std::min(j.request_.limits.maxBytes, kMostReserved) &&
                j.memory_.isEmpty())
                j.memory_.reserve(qsizetype(announced));
            j.session_.noteActivity(&j.easy_.end());
        }
        return length;
    }
    if (length >= 9 && strncasecmp(data, "location:", 9) == 0)
        h.sawLocation = true;
    const qsizetype limit = j.request_.kind == Kind::Head ? kHeaderBlockLimit : kKeptHeaderBytes;
    if (!h.tooLong) {
        if (h.block.size() + qsizetype(length) > limit) {
            h.tooLong = true;
            h.block.clear();
        } else {
            h.block.append(data, qsizetype(length));
        }
    }
    return length;
}

int TransferJob::OnConnected(void* user, char*, char*, int, int) {
    auto& j = *static_cast<TransferJob*>(user);
    if (!j.connected_) // the limits count from the first connection, redirects included
        j.since_ = Clock::now();
    j.connected_ = true;
    return CURL_PREREQFUNC_OK;
}

size_t TransferJob::OnBody(char* data, size_t size, size_t count, void* user) {
    auto& j = *static_cast<TransferJob*>(user);
    const size_t length = size * count;
    j.opened_ = true;
    j.session_.noteActivity(&j.easy_.end());
    if (j.request_.kind == Kind::ToMemory) {
        if (j.received_ + std::int64_t(length) > j.request_.limits.maxBytes) {
            j.result_.failure = TransferFailure::TooLarge;
            return 0;
        }
        j.memory_.append(data, qsizetype(length));
        j.received_ += std::int64_t(length);
        return length;
    }
    if (!j.ring_->FileOpen()) {
        if ((j.fd_ < 0 && !j.OpenPath()) || !j.ring_->Attach(j.fd_, j.request_.fileOffset)) {
            if (j.openError_ == 0)
                j.openError_ = j.ring_->OpenError();
            return 0;
        }
    }
    switch (j.ring_->Store(data, length)) {
    case RingWriter::Put::Stored:
        return length;
    case RingWriter::Put::Full:
        j.producerPaused_ = true;
        return CURL_WRITEFUNC_PAUSE; // libcurl keeps the data and offers it again later
    case RingWriter::Put::TooLong:
        break;
    }
    return 0; // can never fit: fails the request rather than stalling it
}

// After a pass of libcurl's work in which the request's callbacks ran: tells of the answer's
// opening, takes what arrived (a block at a time, or all of it), and lets a producer that a
// full ring held back go on. At the end (`last`), a short last block is taken too.
void TransferJob::Activity(bool last) {
    if (phase_ != Phase::Running)
        return;
    if (inActivity_) {
        // A handler of this very job holds the loop in a nested one (a message box): what
        // arrives is taken without events, so the server is never held, and the next
        // progress of the outer call reports it with its own.
        TakeQuietly();
        return;
    }
    inActivity_ = true;
    // A handler may delete the job (its owner ended in a loop of the handler's own): nothing
    // of it is touched after an event that did.
    const QPointer<TransferJob> alive(this);
    const auto leave = qScopeGuard([this, &alive] {
        if (alive)
            inActivity_ = false;
    });
    if (opened_ && !result_.headersComplete) {
        result_.headersComplete = true;
        result_.headerBlock = headers_.block;
        result_.headerBlockTooLong = headers_.tooLong;
        emit opening(key_);
        if (!alive || phase_ != Phase::Running)
            return;
    }
    const bool ended = last || easy_.end().done;
    for (;;) {
        const std::int64_t ready = ring_ ? std::int64_t(ring_->Ready()) : received_ - taken_;
        if (ready <= 0)
            break;
        std::int64_t length = ready;
        if (request_.block > 0) {
            length = std::min<std::int64_t>(ready, std::int64_t(request_.block));
            if (length < std::int64_t(request_.block) && !ended)
                break; // the rest of the block is still to come
        }
        if (taken_ + length > request_.limits.maxBytes) {
            Fail(TransferFailure::TooLarge);
            return;
        }
        if (ring_) {
            ring_->Take(std::size_t(length));
            if (ring_->WriteFailed()) {
                Fail(TransferFailure::Write, 0, ring_->WriteError());
                return;
            }
        }
        taken_ += length;
        // libcurl goes on before the handlers run: one that holds the loop (a message box)
        // must not hold the server.
        Resume();
        emit progress(key_, taken_);
        if (!alive || phase_ != Phase::Running)
            return; // a handler cancelled or deleted the job: nothing more is taken
        if (request_.block == 0)
            break;
    }
    Resume();
}

void TransferJob::TakeQuietly() {
    const std::int64_t ready = ring_ ? std::int64_t(ring_->Ready()) : received_ - taken_;
    const std::int64_t length = std::min(ready, request_.limits.maxBytes - taken_);
    if (length > 0) {
        if (ring_)
            ring_->Take(std::size_t(length));
        taken_ += length;
    }
    Resume();
}

// Lets libcurl go on once half the ring is free; until then the writer calls back after its
// next write.
void TransferJob::Resume() {
    if (!producerPaused_ || !ring_ || phase_ != Phase::Running)
        return;
    // The writer may have made the room meanwhile: it calls back only when asked in time.
    if (!ring_->RoomForProducer() && !ring_->WrittenUpTo(ring_->Received() - RingWriter::kSize / 2))
        return;
    if (!ring_->RoomForProducer())
        return; // the writer failed or has ended: nothing more is written
    producerPaused_ = false;
    ring_->Resumed();
    // May put data at once (and pause again when it does not fit): that is heard soon.
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
    session_.tellSoon();
}

void TransferJob::Written() {
    if (phase_ == Phase::Settling) {
        Settle();
        return;
    }
    if (ring_ && ring_->WriteFailed()) {
        Fail(TransferFailure::Write, 0, ring_->WriteError());
        return;
    }
    Resume();
}

// libcurl has finished with the request.
void TransferJob::Ended() {
    if (phase_ != Phase::Running)
        return;
    const QPointer<TransferJob> alive(this);
    Activity(true); // what is left, a short last block included
    if (!alive || phase_ != Phase::Running)
        return;
    const CURLcode code = easy_.end().result;
    if (code == CURLE_OK) {
        result_.dataEnded = true;
        End(TransferResult::End::Complete);
        return;
    }
    if (result_.failure == TransferFailure::TooLarge) {
        Fail(TransferFailure::TooLarge);
    } else if (openError_ != 0) {
        Fail(TransferFailure::Write, 0, openError_);
    } else if (ring_ && ring_->WriteFailed()) {
        Fail(TransferFailure::Write, 0, ring_->WriteError());
    } else if (!opened_) {
        // A header request that timed out once connected was too slow; anything else that
        // ends before an answer began could not open the address.
        const bool slow = connected_ && code == CURLE_OPERATION_TIMEDOUT;
        Fail(slow ? TransferFailure::TooSlow : TransferFailure::NotFound, int(code));
    } else {
        Fail(TransferFailure::Read, int(code));
    }
}

// One tick of the watch: the header time and the low-speed limit.
void TransferJob::Tick() {
    if (phase_ != Phase::Running)
        return;
    const auto now = Clock::now();
    if (connected_) {
        const Limits& limits = request_.limits;
        const QPointer<TransferJob> alive(this);
        if (!opened_ && now - since_ >= limits.headers) {
            Activity(true);
            if (alive && phase_ == Phase::Running)
                Fail(TransferFailure::TooSlow);
            return;
        }
        // Time the loop's thread spent away from the event loop (a long handler), and time the
        // body waited for room in the ring or for its speed limit, are not the server's: they
        // start the measurement afresh.
        const std::int64_t received = ring_ ? std::int64_t(ring_->Received()) : received_;
        if (producerPaused_ || now - lastTick_ > 2 * watch_.intervalAsDuration() ||
            AheadOfSpeedLimit(now, received))
            samples_.clear();
        // libcurl (7.88) ends a speed limit's wait without a socket to watch or a timer to run
        // when the transfer has all its data already (its last piece waited for room in the
        // ring): a pause lifted at once gives it a turn to see the end.
        if (request_.maxRecvSpeed > 0 && !producerPaused_ && received == lastReceived_) {
            curl_easy_pause(easy_.get(), CURLPAUSE_RECV);
            curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
        }
        lastReceived_ = received;
        samples_.push_back({now, received});
        while (samples_.size() > 1 && samples_[1].at <= now - limits.lowSpeedTime)
            samples_.pop_front();
        const Sample& first = samples_.front();
        if (now - first.at >= limits.lowSpeedTime) {
            const double seconds = std::chrono::duration<double>(now - first.at).count();
            if (double(received - first.bytes) < limits.lowSpeedBytesPerSecond * seconds) {
                Activity(true); // what arrived is taken before the failure is told
                if (alive && phase_ == Phase::Running)
                    Fail(TransferFailure::TooSlow);
                return;
            }
        }
    }
    lastTick_ = now;
}

// Ahead by what the limit has allowed since the transfer began, or by the limit now over that
// whole time (libcurl measures the bytes it counts at the limit now).
bool TransferJob::AheadOfSpeedLimit(Clock::time_point now, std::int64_t received) const {
    if (request_.maxRecvSpeed <= 0)
        return false;
    const double limit = double(request_.maxRecvSpeed);
    const double allowed =
        allowed_ + limit * std::chrono::duration<double>(now - limitSince_).count();
    const double atLimitNow = limit * std::chrono::duration<double>(now - began_).count();
    return double(received) > std::min(allowed, atLimitNow);
}

void TransferJob::Fail(TransferFailure failure, int curlCode, int error) {
    if (phase_ != Phase::Running)
        return;
    result_.failure = failure;
    result_.curlCode = curlCode;
    result_.error = error;
    End(TransferResult::End::Failed);
}

// Ends the request: the network first, then, once the writer has written every taken byte,
// the file; then `finished` is queued. A write that failed on the way is what the end tells.
void TransferJob::End(TransferResult::End end) {
    watch_.stop();
    ReleaseHandle();
    result_.end = end;
    if (end != TransferResult::End::Failed)
        result_.failure = TransferFailure::None;
    phase_ = Phase::Settling;
    Settle();
}

void TransferJob::Settle() {
    if (ring_ && ring_->FileOpen()) {
        if (!ring_->WrittenUpTo(ring_->Taken()))
            return; // Written() comes back here after the writer's next write
        if (!ring_->Close()) {
            result_.end = TransferResult::End::Failed;
            result_.failure = TransferFailure::Write;
            result_.error = ring_->WriteError();
        }
    }
    if (fd_ >= 0) {
        const int closed = ::close(fd_);
        const int error = errno;
        fd_ = -1;
        if (closed != 0 && error != EINTR && result_.end == TransferResult::End::Complete) {
            result_.end = TransferResult::End::Failed;
            result_.failure = TransferFailure::Write;
            result_.error = error;
        }
    }
    phase_ = Phase::Finished;
    result_.bytes = taken_;
    if (!result_.headersComplete && headers_.complete && opened_) {
        result_.headersComplete = true;
        result_.headerBlock = headers_.block;
        result_.headerBlockTooLong = headers_.tooLong;
    }
    if (request_.kind == Kind::ToMemory)
        result_.body = std::exchange(memory_, QByteArray());
    QMetaObject::invokeMethod(
        this, [this] { emit finished(key_, result_); }, Qt::QueuedConnection);
}

} // namespace orvello
