#pragma once

#include "transfer/TransferResult.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>

namespace orvello {

class CurlSession;
class TransferJob;

// Fetches one file over HTTP or HTTPS with calls that wait: asks the server about it
// (RequestInformation) and downloads it into LocalFile (StartDownload). Each runs one
// TransferJob and waits for it in an event loop of its own, as a blocking call over the
// asynchronous core; the program's own runs use the jobs directly. While it waits, the window's
// events run, so the host stays responsive and can call CancelDownload from an event handler.
// The events are raised synchronously from inside StartDownload, in this order for n blocks of
// data: n + 1 DownloadProgress (the last after the end of the data), then DownloadComplete.
//
// One operation runs at a time: StartDownload or RequestInformation called while one runs
// (from one of its handlers, or from any event inside its wait) is refused. A handler may
// delete the instance; the running call then returns at once (false, or nothing) and
// touches it no more.
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
    // Asks the running transfer to stop, at once, also while it waits for the server; the
    // transfer also looks at the request after each progress event. A request made while no
    // transfer runs is forgotten when the next one starts.
    void CancelDownload();
    // Asks the server about Url with a HEAD request and sets FileExists, LastModified,
    // FileSize, RemoteFileName and RemoteFileType. Leaves them as they are when an operation
    // of this instance is already running.
    void RequestInformation();

    // What ended the last StartDownload, beside the text of its DownloadError; set before the
    // event is raised, so its handlers can read it. A refused call leaves it as it is.
    using Failure = TransferFailure;
    Failure lastFailure() const { return last_.failure; }
    // The last failure in words a user understands; empty after a transfer that did not fail.
    QString FailureReason() const { return TransferFailureReason(last_, limits_); }
    // An HTTP error status in words: "The server answered 404 (Not Found)."
    static QString StatusReason(int code) { return HttpStatusReason(code); }
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

    // What bounds a transfer and a header request. One transfer never takes more than
    // 2,147,483,647 bytes here, since its progress values are 32-bit.
    using Limits = orvello::Limits;
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

    // The workers behind the public calls; false when an event deleted the instance.
    bool TransferFile();
    bool AskServer();
    // Runs a job to its end in an event loop of its own; false when the instance went
    // meanwhile.
    bool Wait(TransferJob& job, TransferResult& end);
    void OpenSession();
    void Fail(const TransferResult& result, const QString& text);

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

    // The session keeps the connection cache: a header request leaves it open, so the
    // transfer after it goes out on the same connection; a transfer closes it at its end,
    // unless its address could not be opened. A running job holds it too.
    std::shared_ptr<CurlSession> hSession;
    bool bInfoRequested = false; // the first transfer of an instance asks about its address first
    bool bCancelRequested = false;
    bool busy_ = false;              // a public call runs
    TransferJob* running_ = nullptr; // the job a public call waits for

    Limits limits_{.maxBytes = INT32_MAX};
    ProgressBase nextProgressBase_ = ProgressBase::FileSize;
    TransferResult last_;
    qint64 bytesSoFar_ = 0;
    int sessionsOpened_ = 0;
    int responseCode_ = 0;
};

} // namespace orvello
