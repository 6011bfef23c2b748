#include "transfer/Download.h"

#include "common/DoEvents.h"
#include "common/Files.h"
#include "common/WireText.h"
#include "transfer/CurlSession.h"
#include "transfer/EasyHandle.h"
#include "transfer/HeadRequest.h"
#include "transfer/HeaderBlock.h"
#include "transfer/RingWriter.h"

#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QUrl>

#include <curl/curl.h>
#include <strings.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

namespace orvello {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)";

// The loop hands out the data in blocks of this size, one progress event per block.
constexpr std::size_t kBlock = 2048;
// libcurl's receive buffer; its default (16 KiB) costs a loop pass per 16 KiB.
constexpr long kReceiveBuffer = 512L << 10;
// A whole receive buffer must fit once the loop has freed half the ring.
static_assert(RingWriter::kSize / 2 >= std::size_t(kReceiveBuffer));
// The longest single wait for network events; the loop looks at its flags in between.
constexpr milliseconds kWaitSlice{100};
// How often the watch over a transfer's limits looks: a tenth of the shorter limit, within
// these bounds.
constexpr milliseconds kWatchMin{10};
constexpr milliseconds kWatchMax{500};

void InitCurl() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)ready;
}

QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

namespace detail {

// The states below live on the stack of the call that runs them and name themselves in a
// slot of their Download meanwhile, so the Download's destructor can reach them when a
// handler deletes the instance in mid-call (Abandon), and detach them from it.

// One header request in progress.
struct Head {
    HeadRequest request;
    Head** slot;

    explicit Head(Head** slot) : slot(slot) { *slot = this; }
    ~Head() {
        if (slot)
            *slot = nullptr;
    }
    Head(const Head&) = delete;
    Head& operator=(const Head&) = delete;

    // The instance goes while the request runs: the handle leaves the session first.
    void Abandon() {
        request.Release();
        slot = nullptr;
    }
};

// One transfer in progress: libcurl's end of it (the handle and what its callbacks learn),
// the watch over its limits, and the ring that carries the body into the file.
struct Fetch {
    EasyHandle easy;
    RingWriter ring;

    bool connected = false;   // a connection to the server is up
    bool opened = false;      // the final response (after redirects) has begun
    bool sawLocation = false; // the response whose headers arrive has a Location header
    // The answer's headers were not complete within their time, or the body came slower than
    // the low-speed limit for that limit's whole time: the transfer fails.
    bool tooSlow = false;

    // The watch over the limits: a timer that ticks while the transfer runs, also inside the
    // nested event loop of a message box or a dialog that a handler opened.
    Download::Limits limits;
    QTimer watch;
    Clock::time_point since{};    // when the first connection came up; the limits count from here
    Clock::time_point lastTick{}; // the watch's previous tick
    struct Sample {
        Clock::time_point at;
        std::uint64_t bytes; // bytes received then
    };
    std::deque<Sample> samples; // the ticks within the low-speed time, oldest first

    Fetch** slot;

    Fetch(Fetch** slot, QByteArray path, const Download::Limits& limits)
        : ring(std::move(path), limits.maxBytes,
               {.resume = [this] { curl_easy_pause(easy.get(), CURLPAUSE_CONT); },
                .live = [this] { return bool(easy) && !tooSlow; }}),
          limits(limits), slot(slot) {
        *slot = this;
    }
    // However the transfer ends (an exception out of a handler included), the handle leaves
    // the session, and the file is left holding every taken byte, and closed.
    ~Fetch() {
        if (slot)
            *slot = nullptr;
        easy.Release();
        ring.Close();
    }
    Fetch(const Fetch&) = delete;
    Fetch& operator=(const Fetch&) = delete;

    // The instance goes while the transfer runs: the handle leaves the session first, and
    // the file keeps what was taken.
    void Abandon() {
        easy.Release();
        ring.Close();
        slot = nullptr;
    }

    // While a handler holds the loop: opens the file once the answer's body began, and lets the
    // ring take and write what arrives on the loop's behalf.
    void KeepGoing() {
        if (!easy || tooSlow || !ring.Held())
            return;
        if (!ring.FileOpen() &&
            (!opened || ring.OpenError() != 0 || !ring.HasPath() || !ring.OpenFile()))
            return;
        ring.ServeHeldLoop();
    }

    // One tick of the watch: the header time, the low-speed limit, and a held loop.
    void Tick() {
        const auto now = Clock::now();
        if (connected) {
            if (!opened && now - since >= limits.headers)
                tooSlow = true;
            // Time the loop's thread spent outside the event loop (a long handler), and time
            // libcurl waited for room in the ring, are not the server's: they start the
            // measurement afresh.
            if (ring.ProducerWaiting() || now - lastTick > 2 * watch.intervalAsDuration())
                samples.clear();
            samples.push_back({now, ring.Received()});
            while (samples.size() > 1 && samples[1].at <= now - limits.lowSpeedTime)
                samples.pop_front();
            const Sample& first = samples.front();
            if (now - first.at >= limits.lowSpeedTime) {
                const double seconds = std::chrono::duration<double>(now - first.at).count();
                if (double(ring.Received() - first.bytes) < limits.lowSpeedBytesPerSecond * seconds)
                    tooSlow = true;
            }
        }
        lastTick = now;
        KeepGoing();
    }

    // Starts the watch; from now on it ticks until the transfer ends.
    void StartWatch() {
        ring.MarkLoopLevel();
        const milliseconds shorter = std::min(limits.headers, limits.lowSpeedTime);
        watch.setInterval(std::clamp(shorter / 10, kWatchMin, kWatchMax));
        QObject::connect(&watch, &QTimer::timeout, &watch, [this] { Tick(); });
        lastTick = Clock::now();
        watch.start();
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto& f = *static_cast<Fetch*>(user);
        const size_t length = size * count;
        f.opened = true;
        switch (f.ring.Store(data, length)) {
        case RingWriter::Put::Stored:
            return length;
        case RingWriter::Put::Full:
            return CURL_WRITEFUNC_PAUSE; // libcurl keeps the data and offers it again later
        case RingWriter::Put::TooLong:
            break;
        }
        return 0; // can never fit: fails the transfer rather than stalling it
    }

    // Tells the final response from redirects that libcurl follows and interim answers.
    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto& f = *static_cast<Fetch*>(user);
        const size_t length = size * count;
        if (IsHeaderBlockEnd(data, length)) {
            const long code = f.easy.ResponseCode();
            const bool interim = code >= 100 && code < 200;
            const bool redirect = code >= 300 && code < 400 && f.sawLocation;
            if (!interim && !redirect)
                f.opened = true;
            f.sawLocation = false;
        } else if (length >= 9 && strncasecmp(data, "location:", 9) == 0) {
            f.sawLocation = true;
        }
        return length;
    }

    static int OnConnected(void* user, char*, char*, int, int) {
        auto& f = *static_cast<Fetch*>(user);
        if (!f.connected) // the limits count from the first connection, redirects included
            f.since = Clock::now();
        f.connected = true;
        return CURL_PREREQFUNC_OK;
    }
};

} // namespace detail

using detail::Fetch;
using detail::Head;

Download::Download(QObject* parent) : QObject(parent) {}

// A handler, or any event that runs inside a wait, may delete the instance while one of its
// calls runs. That call returns without touching it again; what it still holds is let go
// here, before the session goes: the handle leaves the session, and a transfer's file is
// flushed and closed.
Download::~Download() {
    if (fetch_)
        fetch_->Abandon();
    if (head_)
        head_->Abandon();
}

// Marks the instance busy for the length of one public call and clears the mark however the
// call ends: a return, an exception out of a handler, or the instance deleted by a handler
// (then there is nothing left to clear).
class Download::BusyScope {
public:
    explicit BusyScope(Download* d) : d_(d) { d->busy_ = true; }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    ~BusyScope() {
        if (d_)
            d_->busy_ = false;
    }

private:
    QPointer<Download> d_;
};

void Download::OpenSession() {
    InitCurl();
    auto session = std::make_unique<CurlSession>(QByteArray(kAgent));
    if (!session->isValid())
        return; // nothing reported: whatever needs the session then fails on its own terms
    hSession = std::move(session);
    ++sessionsOpened_;
}

// Opens the session when there is none, letting events run before and after. False when an
// event deleted the instance.
bool Download::EnsureSession() {
    if (!DoEventsFor(this))
        return false;
    if (!hSession)
        OpenSession();
    return DoEventsFor(this);
}

void Download::CloseSession() {
    hSession.reset();
}

// One operation at a time: a call made from a handler of the running one (or from any event
// inside its waits) is refused, since it would take over the session, the file and the
// state the running one still uses.
bool Download::StartDownload() {
    if (busy_)
        return false;
    const BusyScope busy(this);
    return TransferFile();
}

void Download::RequestInformation() {
    if (busy_)
        return;
    const BusyScope busy(this);
    bCancelRequested = false;
    AskServer();
}

bool Download::AskServer() {
    sessionPolicy_.headerRequestMade = true;
    if (!EnsureSession())
        return false;

    Head head(&head_);
    const HeadRequest::Settings settings{.connect = limits_.connect,
                                         .headers = limits_.headers,
                                         .user = m_SiteUser,
                                         .password = m_SitePassword};
    if (hSession && head.request.Start(*hSession, m_Url, settings)) {
        if (!DoEventsFor(this))
            return false;
        // libcurl ends the request at the header time; the extra second only guards the loop
        // itself.
        const auto giveUp = Clock::now() + limits_.headers + std::chrono::seconds(1);
        while (!head.request.Done() && Clock::now() < giveUp && !bCancelRequested) {
            if (!WaitForEventsFor(this, kWaitSlice))
                return false;
        }
        if (!DoEventsFor(this))
            return false;
    }

    const HeaderValues v = head.request.Finish();
    m_LastModified = v.lastModified;
    m_FileSize = v.fileSize;
    m_ExactLength = v.length;
    m_RemoteFileName = v.remoteFileName;
    m_RemoteFileType = v.remoteFileType;
    m_FileExists = v.fileExists;

    if (!DoEventsFor(this))
        return false;
    if (SessionPolicy::ClosesAfter(SessionPolicy::Call::HeaderRequest))
        CloseSession();
    return true;
}

bool Download::StartFetch(Fetch& f) {
    if (!hSession || !f.easy.Make(WireUrl(m_Url), hSession->userAgent(), limits_.connect))
        return false;
    CURL* easy = f.easy.get();
    curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Fetch::OnBody);
    curl_easy_setopt(easy, CURLOPT_WRITEDATA, &f);
    curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Fetch::OnHeader);
    curl_easy_setopt(easy, CURLOPT_HEADERDATA, &f);
    curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Fetch::OnConnected);
    curl_easy_setopt(easy, CURLOPT_PREREQDATA, &f);
    if (!f.easy.Start(*hSession))
        return false;
    f.StartWatch();
    return true;
}

// The pull side of the ring: the length of the next block, kBlock bytes or fewer at the end
// of the data. The block itself stays in the ring until it is written out.
Download::Read Download::ReadBlock(Fetch& f, std::size_t& length) {
    for (;;) {
        f.ring.ResumeWhenRoom(); // may refill the ring at once
        const std::uint64_t ready = f.ring.Ready();
        const CurlSession::Transfer& end = f.easy.end();
        // At the end of the data, and when the server was too slow, what arrived is handed
        // out in a shorter block before the end or the failure is reported.
        if (ready >= kBlock || ((end.done || f.tooSlow) && ready > 0)) {
            length = std::min<std::uint64_t>(ready, kBlock);
            return Read::Data;
        }
        if (end.done)
            return end.result == CURLE_OK ? Read::End : Read::Failed;
        // A cancel while the server sends nothing ends the wait: what arrived so far (maybe
        // nothing) is handed out, and the loop sees the request right after it.
        if (bCancelRequested) {
            length = std::min<std::uint64_t>(ready, kBlock);
            return Read::Data;
        }
        if (f.ring.ProducerWaiting()) {
            // Nothing left to take while the network side waits for room: what holds the
            // room is taken data the writer has not written yet. The loop waits for it in the
            // event loop (the writer wakes it), so the window answers however slow the disk.
            if (f.ring.WriteFailed())
                return Read::Failed;
            if (!f.ring.WrittenUpTo(f.ring.Received() - RingWriter::kSize / 2) &&
                !WaitForEventsFor(this, kWaitSlice))
                return Read::Gone;
            continue;
        }
        if (f.tooSlow)
            return Read::Failed;
        if (!WaitForEventsFor(this, kWaitSlice))
            return Read::Gone;
    }
}

// Lets the writer write everything taken while the window's events run, so that closing the
// file afterwards does not wait on the disk. False when an event deleted the instance.
bool Download::SettleFile(Fetch& f) {
    while (!f.ring.WrittenUpTo(f.ring.Taken())) {
        if (!WaitForEventsFor(this, kWaitSlice))
            return false;
    }
    return true;
}

// Ends the transfer's use of the network and the file: the address handle, the session and
// the local file, in that order. False when the last writes to the file failed.
bool Download::EndFetch(Fetch& f) {
    f.easy.Release();
    if (SessionPolicy::ClosesAfter(SessionPolicy::Call::Transfer))
        CloseSession();
    return f.ring.Close();
}

void Download::Fail(Failure kind, const QString& text, int curlCode, int error) {
    lastFailure_ = kind;
    lastCurlCode_ = curlCode;
    lastErrno_ = error;
    emit DownloadError(text);
}

QString Download::StatusReason(int code) {
    static const std::pair<int, const char*> kNames[] = {
        {400, "Bad Request"}, {401, "Unauthorized"},        {403, "Forbidden"},
        {404, "Not Found"},   {405, "Method Not Allowed"},  {408, "Request Timeout"},
        {410, "Gone"},        {429, "Too Many Requests"},   {500, "Internal Server Error"},
        {502, "Bad Gateway"}, {503, "Service Unavailable"}, {504, "Gateway Timeout"},
    };
    for (const auto& [number, name] : kNames) {
        if (number == code)
            return QStringLiteral("The server answered %1 (%2).")
                .arg(code)
                .arg(QLatin1String(name));
    }
    return QStringLiteral("The server answered %1.").arg(code);
}

QString Download::FailureReason() const {
    const QString host = QUrl::fromUserInput(m_Url).host();
    switch (lastFailure_) {
    case Failure::None:
        return QString();
    case Failure::NotFound:
        switch (lastCurlCode_) {
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("The host %1 was not found.").arg(host);
        case CURLE_COULDNT_CONNECT:
            return QStringLiteral("The connection to %1 was refused.").arg(host);
        case CURLE_OPERATION_TIMEDOUT:
            return QStringLiteral("The connection to %1 timed out.").arg(host);
        case CURLE_UNSUPPORTED_PROTOCOL:
        case CURLE_URL_MALFORMAT:
            return QStringLiteral("The address is not a web address.");
        default:
            return QStringLiteral("The address could not be opened (%1).")
                .arg(QString::fromUtf8(curl_easy_strerror(CURLcode(lastCurlCode_))));
        }
    case Failure::Read:
        return QStringLiteral("The server broke off the transfer.");
    case Failure::TooSlow:
        return QStringLiteral("The server was too slow: its answer did not begin within %1 s, or "
                              "it sent less than %2 bytes a second for %3 s.")
            .arg(limits_.headers.count() / 1000.0)
            .arg(limits_.lowSpeedBytesPerSecond)
            .arg(limits_.lowSpeedTime.count() / 1000.0);
    case Failure::TooLarge:
        return QStringLiteral("The answer was larger than the %1 MiB allowed.")
            .arg(double(limits_.maxBytes) / (1 << 20), 0, 'g', 4);
    case Failure::Write:
        return lastErrno_ == 0 ? QStringLiteral("The file name can't be used.")
                               : FileErrorReason(lastErrno_);
    }
    return QString();
}

// Every end closes the file before its event, so the event tells what the file holds: when
// the last writes fail, that failure is what gets reported.
bool Download::FailRead(Fetch& f, Failure kind) {
    if (!DoEventsFor(this) || !SettleFile(f))
        return false;
    const int curlCode = f.easy.end().done ? int(f.easy.end().result) : 0;
    if (!EndFetch(f))
        return ReportWriteError(f.ring.WriteError());
    Fail(kind, QStringLiteral("Could not read URL"), curlCode);
    return false;
}

bool Download::FailWrite(Fetch& f, int error, const QString& reason) {
    EndFetch(f);
    Fail(Failure::Write, QStringLiteral("Could not write file: ") + reason, 0, error);
    return false;
}

bool Download::ReportWriteError(int error) {
    Fail(Failure::Write, QStringLiteral("Could not write file: ") + ErrorText(error), 0, error);
    return false;
}

// Returns false as soon as an event deleted the instance, whatever it was doing then.
bool Download::TransferFile() {
    const QPointer<Download> self(this);
    bCancelRequested = false;
    responseCode_ = 0;
    lastFailure_ = Failure::None;
    bytesSoFar_ = 0;
    const ProgressBase base = std::exchange(nextProgressBase_, ProgressBase::FileSize);
    if (!EnsureSession())
        return false;
    if (sessionPolicy_.TransferAsksFirst() && !AskServer())
        return false;
    if (!DoEventsFor(this))
        return false;

    // Open the address: wait until the final response begins, or the attempt ends.
    Fetch f(&fetch_, m_LocalFile.contains(QChar(0)) ? QByteArray() : QFile::encodeName(m_LocalFile),
            limits_);
    if (StartFetch(f)) {
        while (!f.opened && !f.easy.end().done && !f.tooSlow && !bCancelRequested) {
            if (!WaitForEventsFor(this, kWaitSlice))
                return false;
        }
    }
    if (bCancelRequested && !f.opened) {
        // Stopped before the server began its answer: nothing was received.
        f.easy.Release();
        if (SessionPolicy::ClosesAfter(SessionPolicy::Call::TransferNotOpened))
            CloseSession();
        qint32 position = 0;
        emit DownloadCancelled(position);
        return false;
    }
    if (f.tooSlow && !f.opened) // connected, but the answer's headers did not come in time
        return FailRead(f, Failure::TooSlow);
    if (!f.opened && !(f.easy.end().done && f.easy.end().result == CURLE_OK)) {
        // Nothing more is done: no local file, and the session stays open for reuse.
        f.easy.Release();
        if (SessionPolicy::ClosesAfter(SessionPolicy::Call::TransferNotOpened))
            CloseSession();
        Fail(Failure::NotFound, QStringLiteral("Could not find URL"),
             f.easy.end().done ? int(f.easy.end().result) : 0);
        return false;
    }

    responseCode_ = int(f.easy.ResponseCode());
    // The answer's own length is known once its headers are in; -1 without a Content-Length.
    curl_off_t responseLength = -1;
    curl_easy_getinfo(f.easy.get(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &responseLength);

    if (!DoEventsFor(this))
        return false;
    if (m_LocalFile.contains(QChar(0)))
        return FailWrite(f, 0, QStringLiteral("the file name contains a NUL character"));
    // A held loop may have opened it already, once the body began.
    if (f.ring.OpenError() != 0 || (!f.ring.FileOpen() && !f.ring.OpenFile()))
        return FailWrite(f, f.ring.OpenError(), ErrorText(f.ring.OpenError()));

    std::int64_t count = 0;
    for (;;) {
        if (!DoEventsFor(this))
            return false;
        std::size_t length = 0;
        const Read got = ReadBlock(f, length);
        if (got == Read::Gone)
            return false;
        if (got == Read::Failed) {
            if (f.ring.WriteError() != 0)
                return FailWrite(f, f.ring.WriteError(), ErrorText(f.ring.WriteError()));
            return FailRead(f, f.tooSlow ? Failure::TooSlow : Failure::Read);
        }
        // What was taken on the held loop's behalf is reported with this block.
        const std::int64_t merged = std::int64_t(f.ring.TakeBacklog());
        // The count feeds 32-bit progress values: end the transfer rather than wrap it.
        if (count + merged + std::int64_t(length) > limits_.maxBytes)
            return FailRead(f, Failure::TooLarge);
        count += merged + std::int64_t(length);
        bytesSoFar_ = count;
        // The block is written from the ring in large pieces, not one write per block, and
        // by the writer: a failed write shows here at the next block.
        f.ring.Take(length);
        if (f.ring.WriteFailed())
            return FailWrite(f, f.ring.WriteError(), ErrorText(f.ring.WriteError()));
        if (!DoEventsFor(this))
            return false;

        qint32 progress;
        const double size =
            base == ProgressBase::ResponseLength ? double(responseLength) : double(m_FileSize);
        if (size > 0) {
            const double percent = std::nearbyint(double(count) / size * 100.0);
            if (!(percent <= double(INT32_MAX)))
                return FailRead(f, Failure::TooLarge); // a tiny size against a large body
            progress = qint32(percent);
        } else {
            progress = qint32(count);
        }
        emit DownloadProgress(progress);
        if (!self || !DoEventsFor(this))
            return false;

        if (bCancelRequested) {
            if (!DoEventsFor(this) || !SettleFile(f))
                return false;
            if (!EndFetch(f))
                return ReportWriteError(f.ring.WriteError());
            // Bytes a held loop took meanwhile are in the file too.
            qint32 position = qint32(count + std::int64_t(f.ring.TakeBacklog()));
            emit DownloadCancelled(position);
            return false;
        }
        if (got == Read::End)
            break;
    }

    if (!SettleFile(f))
        return false;
    if (!EndFetch(f))
        return ReportWriteError(f.ring.WriteError());
    emit DownloadComplete();
    return !self.isNull();
}

} // namespace orvello
