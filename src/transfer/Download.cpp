#include "transfer/Download.h"

#include "common/DoEvents.h"
#include "common/WireText.h"
#include "transfer/CurlSession.h"
#include "transfer/HeaderBlock.h"

#include <QFile>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <curl/curl.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace orvello {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr const char* kAgent = "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)";

// The loop hands out the data in blocks of this size, one progress event per block.
constexpr std::size_t kBlock = 2048;
// Received data waits here until the loop takes it, and taken data waits here until it is
// written to the file. A power of two, so a position maps to its place with a mask. 1 MiB
// keeps the data in the CPU's cache and bounds what one event pass takes in (a 4 MiB ring
// made the longest event-loop gap about twice as long and the transfer slower).
constexpr std::size_t kRingSize = std::size_t(1) << 20;
constexpr std::size_t kRingMask = kRingSize - 1;
// Taken data is handed to the file writer in pieces this large, and one write() writes at
// most this much, so the room a write frees shows up while the next one runs.
constexpr std::size_t kFlushChunk = std::size_t(256) << 10;
// libcurl's receive buffer; its default (16 KiB) costs a loop pass per 16 KiB.
constexpr long kReceiveBuffer = 512L << 10;
// A whole receive buffer must fit once the loop has freed half the ring.
static_assert(kRingSize / 2 >= std::size_t(kReceiveBuffer));
constexpr long kMaxRedirects = 20;
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

bool IsBlankLine(const char* data, std::size_t length) {
    return (length == 2 && data[0] == '\r' && data[1] == '\n') || (length == 1 && data[0] == '\n');
}

// Options shared by the header request and the transfer: the address in its wire form (http
// when it names no scheme, explicit ports honoured), redirects followed, a direct connection.
void SetCommonOptions(CURL* easy, const QByteArray& url, const QByteArray& agent,
                      milliseconds connectTimeout) {
    curl_easy_setopt(easy, CURLOPT_URL, url.constData());
    curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(easy, CURLOPT_PROXY, ""); // never a proxy, whatever the environment says
    curl_easy_setopt(easy, CURLOPT_DEFAULT_PROTOCOL, "http");
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(std::max<milliseconds::rep>(connectTimeout.count(), 1)));
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
}

// The header block of the last response a HEAD request received (a redirect's block is
// replaced by the block of the response it leads to).
struct HeadCapture {
    QByteArray block;
    bool complete = false; // the empty line that ends the block has arrived
    bool tooLong = false;  // the block passed kHeaderBlockLimit; block is not kept then
};

size_t OnHeadHeader(char* data, size_t size, size_t count, void* user) {
    auto& c = *static_cast<HeadCapture*>(user);
    const size_t length = size * count;
    if (c.complete) { // a further response follows a redirect or an interim one
        c = HeadCapture{};
    }
    if (IsBlankLine(data, length)) {
        c.complete = true;
    } else if (!c.tooLong) {
        if (c.block.size() + qsizetype(length) > kHeaderBlockLimit) {
            c.tooLong = true;
            c.block.clear();
        } else {
            c.block.append(data, qsizetype(length));
        }
    }
    return length;
}

} // namespace

namespace detail {

// A libcurl handle on a session.
struct Handle {
    CurlSession* session = nullptr;
    CURL* easy = nullptr;
    CurlSession::Transfer end;

    Handle() = default;
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Release(); }

    // Takes the handle off the session and frees it.
    void Release() {
        if (easy) {
            session->remove(easy);
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
    }
};

// The states below live on the stack of the call that runs them and name themselves in a
// slot of their Download meanwhile, so the Download's destructor can reach them when a
// handler deletes the instance in mid-call (Abandon), and detach them from it.

// One header request in progress.
struct Head : Handle {
    HeadCapture capture;
    Head** slot;

    explicit Head(Head** slot) : slot(slot) { *slot = this; }
    ~Head() {
        if (slot)
            *slot = nullptr;
    }

    // The instance goes while the request runs: the handle leaves the session first.
    void Abandon() {
        Release();
        slot = nullptr;
    }
};

// One transfer in progress: libcurl's end of it, the loop's, and the file writer's.
//
// The file is written by a thread of its own, so a slow disk never holds up the loop (a
// single write() of 256 KiB can take tens of milliseconds while the kernel writes back dirty
// pages). Everything else stays on the loop's thread: libcurl's callbacks, the blocks, the
// events, cancellation. The writer only writes ring bytes the loop has taken and handed to it,
// and moves `flushed` on; the loop never fills ring bytes the writer has not written yet,
// since the room OnBody sees is counted from `flushed`.
struct Fetch : Handle {
    // Byte positions since the start of the body: written (by libcurl) >= taken (by the
    // loop) >= flushed (to the file). The ring holds the bytes between flushed and written.
    // written and taken belong to the loop's thread. flushed is stored by the writer after
    // the write() of the bytes below it (release), so once the loop has read it (acquire)
    // their places in the ring may be filled again.
    std::unique_ptr<char[]> ring;
    std::uint64_t written = 0;
    std::uint64_t taken = 0;
    std::atomic<std::uint64_t> flushed{0};
    bool paused = false; // libcurl holds back data until there is room again

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
        std::uint64_t bytes; // `written` then
    };
    std::deque<Sample> samples; // the ticks within the low-speed time, oldest first

    // While a handler holds the loop in a nested event loop (a message box, a dialog), the
    // loop can't take blocks. The watch and the writer's wake calls then take what arrives
    // on its behalf and hand it to the writer, so the server keeps sending and the file keeps
    // growing; the loop reports those bytes with its next progress event.
    int loopLevel = 0;         // the event-loop level the transfer was started in
    std::uint64_t backlog = 0; // bytes taken on the loop's behalf, not reported yet

    QByteArray path; // the local file in the file system's encoding; empty when unusable
    int fd = -1;
    int openError = 0;  // errno of a failed opening of the local file
    int writeError = 0; // the loop's copy of the failure it reports

    // The writer: one thread from the file's opening until its closing. The loop hands it
    // the taken range by moving `wanted` on under `lock` (which also publishes the ring bytes
    // below it); the writer writes up to `wanted` and then sleeps on `more`.
    std::thread writer;
    std::mutex lock;
    std::condition_variable more;
    std::uint64_t wanted = 0;    // under lock: write the ring up to here
    bool closing = false;        // under lock: write up to wanted, then end
    bool wakeLoop = false;       // under lock: the loop waits for the writer; wake it after a write
    std::atomic<int> failure{0}; // errno of the write that failed; the writer ends after it
    std::uint64_t handed = 0;    // the loop's copy of the last `wanted` it set
    QObject waker;               // lives on the loop's thread; the writer posts wake calls to it

    Fetch** slot;

    explicit Fetch(Fetch** slot) : slot(slot) { *slot = this; }
    // However the transfer ends (an exception out of a handler included), the file is left
    // holding every taken byte, and closed, and the writer has ended.
    ~Fetch() {
        if (slot)
            *slot = nullptr;
        Release();
        CloseFile();
    }

    // The instance goes while the transfer runs: the handle leaves the session first, and
    // the file keeps what was taken.
    void Abandon() {
        Release();
        CloseFile();
        slot = nullptr;
    }

    // Creates or opens the local file, emptied, never through a symbolic link, and starts its
    // writer. False, with openError set, when either fails.
    bool OpenFile() {
        fd = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0) {
            openError = errno;
            return false;
        }
        // Only a file that holds something is emptied: on ext4, truncating a file, even an
        // empty one, makes its closing write out everything written since, which would hold
        // the window at the end of a large download.
        struct stat st {};
        if (::fstat(fd, &st) != 0 || (st.st_size > 0 && ::ftruncate(fd, 0) != 0)) {
            openError = errno;
            return false;
        }
        if (!StartWriter()) {
            openError = writeError;
            return false;
        }
        return true;
    }

    // Whether a nested event loop runs above the transfer's own, holding the loop.
    bool Held() const { return QThread::currentThread()->loopLevel() > loopLevel; }

    // Takes what arrived on the held loop's behalf (never past the byte limit: the loop fails
    // the transfer there) and hands it to the writer.
    void TakeForHeldLoop() {
        if (fd < 0)
            return;
        const std::uint64_t upTo = std::min<std::uint64_t>(written, std::uint64_t(limits.maxBytes));
        if (upTo > taken) {
            backlog += upTo - taken;
            taken = upTo;
        }
        if (taken > handed)
            HandOver();
    }

    // While the loop is held: opens the file once the answer's body began, takes and writes
    // what arrived, and lets libcurl go on once the writer has made room (the writer calls
    // this again after its next write while it has not).
    void KeepGoing() {
        if (!easy || tooSlow || !Held())
            return;
        if (fd < 0 && (!opened || openError != 0 || path.isEmpty() || !OpenFile()))
            return;
        TakeForHeldLoop();
        if (!paused)
            return;
        if (kRingSize - (written - flushed.load(std::memory_order_acquire)) >= kRingSize / 2) {
            paused = false;
            curl_easy_pause(easy, CURLPAUSE_CONT); // may deliver data at once (OnBody)
        } else {
            WakeAfterWrite();
        }
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
            if (paused || now - lastTick > 2 * watch.intervalAsDuration())
                samples.clear();
            samples.push_back({now, written});
            while (samples.size() > 1 && samples[1].at <= now - limits.lowSpeedTime)
                samples.pop_front();
            const Sample& first = samples.front();
            if (now - first.at >= limits.lowSpeedTime) {
                const double seconds = std::chrono::duration<double>(now - first.at).count();
                if (double(written - first.bytes) < limits.lowSpeedBytesPerSecond * seconds)
                    tooSlow = true;
            }
        }
        lastTick = now;
        KeepGoing();
    }

    // Starts the watch; from now on it ticks until the transfer ends.
    void StartWatch() {
        loopLevel = QThread::currentThread()->loopLevel();
        const milliseconds shorter = std::min(limits.headers, limits.lowSpeedTime);
        watch.setInterval(std::clamp(shorter / 10, kWatchMin, kWatchMax));
        QObject::connect(&watch, &QTimer::timeout, &waker, [this] { Tick(); });
        lastTick = Clock::now();
        watch.start();
    }

    // Starts the writer on the open file. False, with writeError set, when no thread can be
    // started.
    bool StartWriter() {
        try {
            writer = std::thread([this] { WriteOut(); });
        } catch (const std::system_error& e) {
            writeError = e.code().value();
            return false;
        }
        return true;
    }

    // Hands every taken byte to the writer.
    void HandOver() {
        {
            const std::lock_guard<std::mutex> hold(lock);
            wanted = handed = taken;
        }
        more.notify_one();
    }

    // Has the writer call KeepGoing after its next write, unless everything taken is written.
    void WakeAfterWrite() {
        const std::lock_guard<std::mutex> hold(lock);
        if (flushed.load(std::memory_order_acquire) < taken && writer.joinable())
            wakeLoop = true;
    }

    // Hands every taken byte to the writer and tells whether the file holds the ring up to
    // `position` (at most `taken`), or the writer has failed. When not, the writer wakes the
    // loop with a posted call after its next write, so the loop can wait in the event loop.
    bool WrittenUpTo(std::uint64_t position) {
        position = std::min(position, taken);
        {
            const std::lock_guard<std::mutex> hold(lock);
            wanted = handed = taken;
            if (flushed.load(std::memory_order_acquire) >= position ||
                failure.load(std::memory_order_relaxed) != 0 || !writer.joinable())
                return true;
            wakeLoop = true;
        }
        more.notify_one();
        return false;
    }

    // True once a write has failed; the error is then in writeError.
    bool WriteFailed() {
        const int error = failure.load(std::memory_order_acquire);
        if (error != 0)
            writeError = error;
        return error != 0;
    }

    // The writer's thread: writes the ring from flushed up to wanted in pieces of at most
    // kFlushChunk (never across the ring's end), until the loop closes the file or a write
    // fails. Only this thread moves flushed.
    void WriteOut() {
        std::unique_lock<std::mutex> hold(lock);
        for (;;) {
            more.wait(hold, [this] {
                return closing || wanted > flushed.load(std::memory_order_relaxed);
            });
            const std::uint64_t at = flushed.load(std::memory_order_relaxed);
            if (at >= wanted)
                return; // closing, and everything handed over is in the file
            const std::size_t place = at & kRingMask;
            const std::size_t length =
                std::min<std::uint64_t>({wanted - at, kRingSize - place, kFlushChunk});
            hold.unlock();
            const ssize_t n = ::write(fd, ring.get() + place, length);
            const int error = n < 0 ? errno : 0;
            hold.lock();
            if (n < 0 && error == EINTR)
                continue;
            if (n <= 0)
                failure.store(n < 0 ? error : ENOSPC, std::memory_order_release);
            else
                flushed.store(at + std::uint64_t(n), std::memory_order_release);
            if (wakeLoop) {
                // Wakes the loop waiting in the event loop, or goes on for a held one.
                wakeLoop = false;
                QMetaObject::invokeMethod(
                    &waker, [this] { KeepGoing(); }, Qt::QueuedConnection);
            }
            if (n <= 0)
                return;
        }
    }

    // Waits for the writer to write everything taken, and ends it. This wait blocks; the
    // loop lets the writer catch up through the event loop first where it can (SettleFile).
    void StopWriter() {
        if (!writer.joinable())
            return;
        {
            const std::lock_guard<std::mutex> hold(lock);
            wanted = handed = taken;
            closing = true;
        }
        more.notify_one();
        writer.join();
    }

    bool CloseFile() {
        if (fd < 0)
            return true;
        StopWriter();
        bool ok = !WriteFailed();
        if (::close(fd) != 0 && ok) {
            writeError = errno;
            ok = false;
        }
        fd = -1;
        return ok;
    }

    static size_t OnBody(char* data, size_t size, size_t count, void* user) {
        auto& f = *static_cast<Fetch*>(user);
        const size_t length = size * count;
        f.opened = true;
        if (length > kRingSize - (f.written - f.flushed.load(std::memory_order_acquire))) {
            if (length > kRingSize)
                return 0; // can never fit: fails the transfer rather than stalling it
            f.paused = true;
            return CURL_WRITEFUNC_PAUSE; // libcurl keeps the data and offers it again later
        }
        const std::size_t at = f.written & kRingMask;
        const std::size_t first = std::min(length, kRingSize - at);
        std::memcpy(f.ring.get() + at, data, first);
        std::memcpy(f.ring.get(), data + first, length - first);
        f.written += length;
        if (f.fd >= 0 && f.Held())
            f.TakeForHeldLoop();
        return length;
    }

    // Tells the final response from redirects that libcurl follows and interim answers.
    static size_t OnHeader(char* data, size_t size, size_t count, void* user) {
        auto& f = *static_cast<Fetch*>(user);
        const size_t length = size * count;
        if (IsBlankLine(data, length)) {
            long code = 0;
            curl_easy_getinfo(f.easy, CURLINFO_RESPONSE_CODE, &code);
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

bool Download::RunEvents() {
    const QPointer<Download> self(this);
    DoEvents();
    return !self.isNull();
}

bool Download::AwaitEvents(milliseconds maxWait) {
    const QPointer<Download> self(this);
    WaitForEvents(maxWait);
    return !self.isNull();
}

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
    if (!RunEvents())
        return false;
    if (!hSession)
        OpenSession();
    return RunEvents();
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
    AskServer();
}

bool Download::AskServer() {
    bInfoRequested = true;
    if (!EnsureSession())
        return false;

    enum class Outcome { NotMade, Read, StatusOnly };
    Outcome outcome = Outcome::NotMade;
    long status = 0;
    Head head(&head_);

    const QByteArray url = WireUrl(m_Url);
    if (hSession && !url.contains('\0')) {
        head.session = hSession.get();
        head.easy = curl_easy_init();
    }
    if (head.easy) {
        CURL* easy = head.easy;
        SetCommonOptions(easy, url, hSession->userAgent(), limits_.connect);
        curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_0));
        // The whole answer of a header request is its headers.
        curl_easy_setopt(
            easy, CURLOPT_TIMEOUT_MS,
            static_cast<long>(std::max<milliseconds::rep>(limits_.headers.count(), 1)));
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &OnHeadHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &head.capture);
        const QByteArray user = m_SiteUser.toUtf8();
        const QByteArray password = m_SitePassword.toUtf8();
        if (!m_SiteUser.isEmpty()) {
            curl_easy_setopt(easy, CURLOPT_USERNAME, user.constData());
            curl_easy_setopt(easy, CURLOPT_PASSWORD, password.constData());
        }

        if (hSession->add(easy, &head.end)) {
            if (!RunEvents())
                return false;
            // libcurl ends the request at the header time; the extra second only guards the
            // loop itself.
            const auto giveUp = Clock::now() + limits_.headers + std::chrono::seconds(1);
            while (!head.end.done && Clock::now() < giveUp) {
                if (!AwaitEvents(kWaitSlice))
                    return false;
            }
            if (!RunEvents())
                return false;
            if (head.end.done && head.end.result == CURLE_OK && head.capture.complete) {
                curl_easy_getinfo(easy, CURLINFO_RESPONSE_CODE, &status);
                outcome = head.capture.tooLong ? Outcome::StatusOnly : Outcome::Read;
            }
        }
        head.Release();
    }

    // Every outcome sets all five values, so none of them can describe an earlier address.
    switch (outcome) {
    case Outcome::Read: {
        const HeaderValues v = ReadHeaderBlock(head.capture.block);
        // A Content-Length that is not a number reads as a missing one (FileSize -1).
        m_LastModified = v.lastModified;
        m_FileSize = v.fileSize;
        m_RemoteFileName = v.remoteFileName;
        m_RemoteFileType = v.remoteFileType;
        m_FileExists = v.fileExists;
        break;
    }
    case Outcome::StatusOnly:
        m_FileExists = status == 200;
        m_LastModified = QStringLiteral("Not Available");
        m_FileSize = -1;
        m_RemoteFileName.clear();
        m_RemoteFileType.clear();
        break;
    case Outcome::NotMade:
        m_FileExists = false;
        m_LastModified = QStringLiteral("Not Available");
        m_FileSize = -1;
        m_RemoteFileName.clear();
        m_RemoteFileType.clear();
        break;
    }

    if (!RunEvents())
        return false;
    if (bCloseSession)
        CloseSession();
    return true;
}

bool Download::StartFetch(Fetch& f) {
    const QByteArray url = WireUrl(m_Url);
    if (!hSession || url.contains('\0'))
        return false;
    f.session = hSession.get();
    f.easy = curl_easy_init();
    if (!f.easy)
        return false;
    f.ring = std::make_unique_for_overwrite<char[]>(kRingSize);
    f.limits = limits_;
    if (!m_LocalFile.contains(QChar(0)))
        f.path = QFile::encodeName(m_LocalFile);

    SetCommonOptions(f.easy, url, hSession->userAgent(), limits_.connect);
    curl_easy_setopt(f.easy, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(f.easy, CURLOPT_BUFFERSIZE, kReceiveBuffer);
    curl_easy_setopt(f.easy, CURLOPT_WRITEFUNCTION, &Fetch::OnBody);
    curl_easy_setopt(f.easy, CURLOPT_WRITEDATA, &f);
    curl_easy_setopt(f.easy, CURLOPT_HEADERFUNCTION, &Fetch::OnHeader);
    curl_easy_setopt(f.easy, CURLOPT_HEADERDATA, &f);
    curl_easy_setopt(f.easy, CURLOPT_PREREQFUNCTION, &Fetch::OnConnected);
    curl_easy_setopt(f.easy, CURLOPT_PREREQDATA, &f);
    if (!hSession->add(f.easy, &f.end)) {
        curl_easy_cleanup(f.easy);
        f.easy = nullptr;
        return false;
    }
    f.StartWatch();
    return true;
}

// The pull side of the ring: the length of the next block, kBlock bytes or fewer at the end
// of the data. The block itself stays in the ring at `taken` until it is written out.
Download::Read Download::ReadBlock(Fetch& f, std::size_t& length) {
    for (;;) {
        if (f.paused &&
            kRingSize - (f.written - f.flushed.load(std::memory_order_acquire)) >= kRingSize / 2) {
            f.paused = false;
            curl_easy_pause(f.easy, CURLPAUSE_CONT); // may refill the ring at once
        }
        const std::uint64_t ready = f.written - f.taken;
        // At the end of the data, and when the server was too slow, what arrived is handed
        // out in a shorter block before the end or the failure is reported.
        if (ready >= kBlock || ((f.end.done || f.tooSlow) && ready > 0)) {
            length = std::min<std::uint64_t>(ready, kBlock);
            return Read::Data;
        }
        if (f.end.done)
            return f.end.result == CURLE_OK ? Read::End : Read::Failed;
        if (f.paused) {
            // Nothing left to take while the network side waits for room: what holds the
            // room is taken data the writer has not written yet. The loop waits for it in the
            // event loop (the writer wakes it), so the window answers however slow the disk.
            if (f.WriteFailed())
                return Read::Failed;
            if (!f.WrittenUpTo(f.written - kRingSize / 2) && !AwaitEvents(kWaitSlice))
                return Read::Gone;
            continue;
        }
        if (f.tooSlow)
            return Read::Failed;
        if (!AwaitEvents(kWaitSlice))
            return Read::Gone;
    }
}

// Lets the writer write everything taken while the window's events run, so that closing the
// file afterwards does not wait on the disk. False when an event deleted the instance.
bool Download::SettleFile(Fetch& f) {
    while (!f.WrittenUpTo(f.taken)) {
        if (!AwaitEvents(kWaitSlice))
            return false;
    }
    return true;
}

// Ends the transfer's use of the network and the file: the address handle, the session and
// the local file, in that order. False when the last writes to the file failed.
bool Download::EndFetch(Fetch& f) {
    f.Release();
    CloseSession();
    return f.CloseFile();
}

namespace {
QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

// Every end closes the file before its event, so the event tells what the file holds: when
// the last writes fail, that failure is what gets reported.
bool Download::FailRead(Fetch& f) {
    if (!RunEvents() || !SettleFile(f))
        return false;
    if (!EndFetch(f))
        return ReportWriteError(f.writeError);
    emit DownloadError(QStringLiteral("Could not read URL"));
    return false;
}

bool Download::FailWrite(Fetch& f, const QString& reason) {
    EndFetch(f);
    emit DownloadError(QStringLiteral("Could not write file: ") + reason);
    return false;
}

bool Download::ReportWriteError(int error) {
    emit DownloadError(QStringLiteral("Could not write file: ") + ErrorText(error));
    return false;
}

// Returns false as soon as an event deleted the instance, whatever it was doing then.
bool Download::TransferFile() {
    const QPointer<Download> self(this);
    bCancelRequested = false;
    responseCode_ = 0;
    if (!EnsureSession())
        return false;
    bCloseSession = false;
    // The header request keeps the session open: bCloseSession is still False.
    if (!bInfoRequested && !AskServer())
        return false;
    bCloseSession = true;
    if (!RunEvents())
        return false;

    // Open the address: wait until the final response begins, or the attempt ends.
    Fetch f(&fetch_);
    if (StartFetch(f)) {
        while (!f.opened && !f.end.done && !f.tooSlow) {
            if (!AwaitEvents(kWaitSlice))
                return false;
        }
    }
    if (f.tooSlow && !f.opened) // connected, but the answer's headers did not come in time
        return FailRead(f);
    if (!f.opened && !(f.end.done && f.end.result == CURLE_OK)) {
        // Nothing more is done: no local file, and the session stays open for reuse.
        f.Release();
        emit DownloadError(QStringLiteral("Could not find URL"));
        return false;
    }

    long code = 0;
    curl_easy_getinfo(f.easy, CURLINFO_RESPONSE_CODE, &code);
    responseCode_ = int(code);

    if (!RunEvents())
        return false;
    if (m_LocalFile.contains(QChar(0)))
        return FailWrite(f, QStringLiteral("the file name contains a NUL character"));
    // A held loop may have opened it already, once the body began.
    if (f.openError != 0 || (f.fd < 0 && !f.OpenFile()))
        return FailWrite(f, ErrorText(f.openError));

    std::int64_t count = 0;
    for (;;) {
        if (!RunEvents())
            return false;
        std::size_t length = 0;
        const Read got = ReadBlock(f, length);
        if (got == Read::Gone)
            return false;
        if (got == Read::Failed)
            return f.writeError ? FailWrite(f, ErrorText(f.writeError)) : FailRead(f);
        // What was taken on the held loop's behalf is reported with this block.
        const std::int64_t merged = std::int64_t(std::exchange(f.backlog, 0));
        // The count feeds 32-bit progress values: end the transfer rather than wrap it.
        if (count + merged + std::int64_t(length) > limits_.maxBytes)
            return FailRead(f);
        count += merged + std::int64_t(length);
        // The block is written from the ring in large pieces, not one write per block, and
        // by the writer: a failed write shows here at the next block.
        f.taken += length;
        if (f.taken - f.handed >= kFlushChunk)
            f.HandOver();
        if (f.WriteFailed())
            return FailWrite(f, ErrorText(f.writeError));
        if (!RunEvents())
            return false;

        qint32 progress;
        if (m_FileSize > 0) {
            const double percent = std::nearbyint(double(count) / double(m_FileSize) * 100.0);
            if (!(percent <= double(INT32_MAX)))
                return FailRead(f); // a tiny announced size against a large body
            progress = qint32(percent);
        } else {
            progress = qint32(count);
        }
        emit DownloadProgress(progress);
        if (!self || !RunEvents())
            return false;

        if (bCancelRequested) {
            if (!RunEvents() || !SettleFile(f))
                return false;
            if (!EndFetch(f))
                return ReportWriteError(f.writeError);
            // Bytes a held loop took meanwhile are in the file too.
            qint32 position = qint32(count + std::int64_t(std::exchange(f.backlog, 0)));
            emit DownloadCancelled(position);
            return false;
        }
        if (got == Read::End)
            break;
    }

    if (!SettleFile(f))
        return false;
    if (!EndFetch(f))
        return ReportWriteError(f.writeError);
    emit DownloadComplete();
    return !self.isNull();
}

} // namespace orvello
