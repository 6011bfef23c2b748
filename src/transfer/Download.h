#pragma once

#include <QObject>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

namespace orvello {

class CurlSession;
namespace detail {
struct Fetch;
struct Head;
} // namespace detail

// Fetches one file over HTTP or HTTPS: asks the server about it (RequestInformation) and
// downloads it into LocalFile (StartDownload). Both run to their end before they return and
// let the window's events run while they wait, so the host stays responsive and can call
// CancelDownload from an event handler. The events are raised synchronously from inside
// StartDownload, in this order for n blocks of data: n + 1 DownloadProgress (the last after
// the empty read that ends the data), then DownloadComplete. Everything runs on the thread
// that owns the object, except the writes to the local file: a transfer writes through a
// thread of its own, which ends before StartDownload returns.
//
// One operation runs at a time: StartDownload or RequestInformation called while one runs
// (from one of its handlers, or from any event inside its waits) is refused. A handler may
// delete the instance; the running call then returns at once (false, or nothing) and
// touches it no more.
//
// Download keeps the calls, the waits in the event loop, the transfer's loop with the watch over
// its limits, and the events. The rest has rooms of its own: EasyHandle owns one libcurl handle
// with the options every request shares, HeadRequest makes a header request and reads its
// answer, and RingWriter carries a transfer's body through its ring into the local file.
class Download : public QObject {
    Q_OBJECT
public:
    explicit Download(QObject* parent = nullptr);
    ~Download() override;

    // Values of the last header request.
    bool FileExists() const { return m_FileExists; }
    QString LastModified() const { return m_LastModified; }
    float FileSize() const { return m_FileSize; }
    void setFileSize(float New_FileSize) { m_FileSize = New_FileSize; }
    // The last header request's Content-Length exactly; -1 when it gave none.
    qint64 ExactLength() const { return m_ExactLength; }
    QString RemoteFileName() const { return m_RemoteFileName; }
    QString RemoteFileType() const { return m_RemoteFileType; }

    QString LocalFile() const { return m_LocalFile; }
    void setLocalFile(const QString& New_LocalFile) { m_LocalFile = New_LocalFile; }
    QString Url() const { return m_Url; }
    void setUrl(const QString& New_Url) { m_Url = New_Url; }
    // Credentials for the header request; sent only when SiteUser is not empty.
    QString SiteUser() const { return m_SiteUser; }
    void setSiteUser(const QString& New_SiteUser) { m_SiteUser = New_SiteUser; }
    QString SitePassword() const { return m_SitePassword; }
    void setSitePassword(const QString& New_SitePassword) { m_SitePassword = New_SitePassword; }

    // One complete transfer of Url into LocalFile. True only when the data ended and
    // DownloadComplete was raised (and the instance is still there). False, and no event,
    // when an operation of this instance is already running.
    bool StartDownload();
    // The HTTP status of the last transfer's final response (after redirects), 0 when no
    // response began. A transfer completes whatever the status; callers judge error pages.
    int ResponseCode() const { return responseCode_; }
    // Asks the running transfer to stop; it looks at the request after each progress event,
    // and while it waits for the server (its headers, its next bytes), so a stalled server
    // does not hold the stop. A header request ends early on it too. A request made while no
    // transfer runs is forgotten when the next one starts.
    void CancelDownload() { bCancelRequested = true; }
    // Asks the server about Url with a HEAD request and sets FileExists, LastModified,
    // FileSize, RemoteFileName and RemoteFileType. Leaves them as they are when an operation
    // of this instance is already running.
    void RequestInformation();

    // What ended the last StartDownload, beside the text of its DownloadError; set before the
    // event is raised, so its handlers can read it. A refused call leaves it as it is.
    enum class Failure {
        None,     // completed or cancelled
        NotFound, // "Could not find URL": the address could not be opened
        Read,     // "Could not read URL": the answer broke off or failed
        Write,    // "Could not write file: ...": the local file could not be made or written
        TooSlow,  // "Could not read URL": headers or body slower than the limits allow
        TooLarge, // "Could not read URL": more body than maxBytes, or a percentage past 32 bits
    };
    Failure lastFailure() const { return lastFailure_; }
    // The last failure in words a user understands ("The host www.example.com was not
    // found.", "The disk is full.", ...); empty after a transfer that did not fail.
    QString FailureReason() const;
    // An HTTP error status in words: "The server answered 404 (Not Found)."
    static QString StatusReason(int code);
    // The body bytes the running (or last) transfer has received so far.
    qint64 BytesSoFar() const { return bytesSoFar_; }

    // What a transfer's percentages are measured against.
    enum class ProgressBase {
        FileSize,       // FileSize: the last header request's size, or what setFileSize set
        ResponseLength, // the Content-Length of the transfer's own final response
    };
    // The base of the next StartDownload only; that call takes it and leaves FileSize for the
    // ones after it. A base of 0 or less (no size, or an answer without a Content-Length)
    // makes the progress values byte counts.
    void setProgressBase(ProgressBase base) { nextProgressBase_ = base; }
    ProgressBase progressBase() const { return nextProgressBase_; }

    // What bounds a transfer and a header request, so a slow or endless server can't hold
    // the program. The defaults are the program's; tests shorten them.
    struct Limits {
        // Connecting to the server; past it the address counts as not found.
        std::chrono::milliseconds connect{30000};
        // From the connection until the answer's headers are complete (the whole answer of a
        // header request); past it the transfer fails.
        std::chrono::milliseconds headers{60000};
        // A transfer whose body comes slower than lowSpeedBytesPerSecond for this long
        // fails. Time the host spends away from the event loop doesn't count.
        std::chrono::milliseconds lowSpeedTime{60000};
        double lowSpeedBytesPerSecond = 100;
        // The most body bytes one transfer may receive; never above 2,147,483,647, since
        // progress values are 32-bit. A transfer that would pass it fails.
        std::int64_t maxBytes = INT32_MAX;
    };
    const Limits& limits() const { return limits_; }
    void setLimits(const Limits& limits) {
        limits_ = limits;
        limits_.maxBytes = std::clamp<std::int64_t>(limits.maxBytes, 0, INT32_MAX);
    }

signals:
    void DownloadComplete();
    void DownloadProgress(qint32& lProgress);
    void DownloadError(const QString& sErrorDescription);
    void DownloadCancelled(qint32& lPosition);

private:
    // Tests look at the session through this.
    friend struct DownloadProbe;
    class BusyScope;
    enum class Read { Data, End, Failed, Gone };

    // When the session (the libcurl multi handle, which keeps the connection cache) is opened
    // and closed, and so which requests share a connection:
    //  - a call opens it when there is none;
    //  - a header request leaves it open, so the transfer after it (the same entry's file)
    //    goes out on the header request's connection;
    //  - a transfer closes it at its end (complete, cancelled or failed), so the next entry
    //    starts afresh; one whose address could not be opened leaves it for the next call;
    //  - the first transfer of an instance that has never made a header request makes one of
    //    its own first, on the same session.
    struct SessionPolicy {
        enum class Call { HeaderRequest, Transfer, TransferNotOpened };
        bool headerRequestMade = false;
        // Whether a transfer starting now makes a header request of its own first.
        bool TransferAsksFirst() const { return !headerRequestMade; }
        // Whether the session closes at the end of a call.
        static bool ClosesAfter(Call call) { return call == Call::Transfer; }
    };

    // The workers behind the public calls; false when an event deleted the instance.
    bool TransferFile();
    bool AskServer();

    void OpenSession();
    bool EnsureSession();
    void CloseSession();
    bool StartFetch(detail::Fetch& f);
    Read ReadBlock(detail::Fetch& f, std::size_t& length);
    bool SettleFile(detail::Fetch& f);
    bool EndFetch(detail::Fetch& f);
    bool FailRead(detail::Fetch& f, Failure kind);
    bool FailWrite(detail::Fetch& f, int error, const QString& reason);
    bool ReportWriteError(int error);
    void Fail(Failure kind, const QString& text, int curlCode = 0, int error = 0);

    bool m_FileExists = false;
    QString m_LastModified;
    float m_FileSize = 0;
    qint64 m_ExactLength = -1;
    QString m_LocalFile;
    QString m_RemoteFileName;
    QString m_RemoteFileType;
    QString m_Url;
    QString m_SiteUser;
    QString m_SitePassword;

    std::unique_ptr<CurlSession> hSession;
    SessionPolicy sessionPolicy_;
    bool bCancelRequested = false;

    bool busy_ = false;              // a public call runs
    detail::Fetch* fetch_ = nullptr; // the running transfer's state, on its call's stack
    detail::Head* head_ = nullptr;   // the running header request's state, likewise

    Limits limits_;
    ProgressBase nextProgressBase_ = ProgressBase::FileSize;
    Failure lastFailure_ = Failure::None;
    int lastCurlCode_ = 0; // libcurl's result behind the last failure, 0 when none applies
    int lastErrno_ = 0;    // the system's error behind a failed write
    qint64 bytesSoFar_ = 0;
    int sessionsOpened_ = 0;
    int responseCode_ = 0;
};

} // namespace orvello
