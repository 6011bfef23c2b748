#include "transfer/Download.h"

#include "transfer/CurlSession.h"
#include "transfer/HeadRequest.h"
#include "transfer/TransferJob.h"

#include <QEventLoop>
#include <QFile>
#include <QPointer>

#include <cmath>
#include <cstring>
#include <exception>

namespace orvello {

namespace {

// The transfer hands out the data in blocks of this size, one progress event per block.
constexpr std::size_t kBlock = 2048;

QString ErrorText(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

Download::Download(QObject* parent) : QObject(parent) {}

// A job still running (its call's handler deleted the instance) is stopped by its own call,
// which holds the session for as long as the job needs it.
Download::~Download() {
    if (running_)
        running_->cancel();
}

void Download::OpenSession() {
    auto session = std::make_shared<CurlSession>();
    if (!session->isValid())
        return; // nothing reported: whatever needs the session then fails on its own terms
    hSession = std::move(session);
    ++sessionsOpened_;
}

void Download::CancelDownload() {
    bCancelRequested = true;
    if (running_)
        running_->cancel();
}

// One operation at a time: a call made from a handler of the running one (or from any event
// inside its wait) is refused, since it would take over the session and the state the running
// one still uses.
bool Download::StartDownload() {
    if (busy_)
        return false;
    const QPointer<Download> self(this);
    busy_ = true;
    const bool ok = TransferFile();
    if (self)
        busy_ = false;
    return ok && self;
}

void Download::RequestInformation() {
    if (busy_)
        return;
    const QPointer<Download> self(this);
    busy_ = true;
    bCancelRequested = false;
    AskServer();
    if (self)
        busy_ = false;
}

bool Download::Wait(TransferJob& job, TransferResult& end) {
    const QPointer<Download> self(this);
    QEventLoop loop;
    bool ended = false;
    connect(&job, &TransferJob::finished, &loop, [&](quint64, const TransferResult& result) {
        end = result;
        ended = true;
        loop.quit();
    });
    running_ = &job;
    job.start();
    if (!ended)
        loop.exec();
    if (!self)
        return false;
    running_ = nullptr;
    return true;
}

bool Download::AskServer() {
    bInfoRequested = true;
    if (!hSession)
        OpenSession();
    TransferResult answer;
    // Declared before the job, so the session outlives it whatever happens to the instance.
    const std::shared_ptr<CurlSession> session = hSession;
    if (session) {
        TransferJob::Request request;
        request.kind = TransferJob::Kind::Head;
        request.url = m_Url;
        request.limits = limits_;
        request.user = m_SiteUser;
        request.password = m_SitePassword;
        TransferJob job(*session, 0, request);
        if (bCancelRequested)
            job.cancel();
        if (!Wait(job, answer))
            return false;
    }
    const HeaderValues v = ReadHeadAnswer(answer);
    m_LastModified = v.lastModified;
    m_FileSize = v.fileSize;
    m_ExactLength = v.length;
    m_RemoteFileName = v.remoteFileName;
    m_RemoteFileType = v.remoteFileType;
    m_FileExists = v.fileExists;
    return true;
}

void Download::Fail(const TransferResult& result, const QString& text) {
    last_ = result;
    emit DownloadError(text);
}

// Returns false as soon as an event deleted the instance, whatever it was doing then.
bool Download::TransferFile() {
    const QPointer<Download> self(this);
    bCancelRequested = false;
    responseCode_ = 0;
    last_ = TransferResult{};
    last_.url = m_Url;
    bytesSoFar_ = 0;
    const ProgressBase base = std::exchange(nextProgressBase_, ProgressBase::FileSize);
    if (!bInfoRequested && !AskServer())
        return false;
    if (!hSession)
        OpenSession();
    if (!hSession) {
        TransferResult none;
        none.url = m_Url;
        none.failure = TransferFailure::NotFound;
        Fail(none, QStringLiteral("Could not find URL"));
        return false;
    }

    const std::shared_ptr<CurlSession> session = hSession; // outlives the job, as above
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToFile;
    request.url = m_Url;
    request.limits = limits_;
    request.path = m_LocalFile.contains(QChar(0)) ? QByteArray() : QFile::encodeName(m_LocalFile);
    request.block = kBlock;
    TransferJob job(*session, 0, request);

    // Each block's progress: a percentage of the base, or the byte count without one.
    qint32 progress = 0;
    bool gone = false;
    const auto valueOf = [&](qint64 bytes) {
        const double size = base == ProgressBase::ResponseLength ? double(job.responseLength())
                                                                 : double(m_FileSize);
        if (size <= 0)
            return qint32(bytes);
        // A tiny size against a large body: the percentage stops at the largest value.
        return qint32(std::min(std::nearbyint(double(bytes) / size * 100.0), double(INT32_MAX)));
    };
    // An exception out of a handler must not cross the event loop: it ends the transfer (the
    // file keeps what was taken, and is closed) and leaves this call once the job has ended.
    std::exception_ptr thrown;
    connect(&job, &TransferJob::progress, &job, [&](quint64, qint64 bytes) {
        bytesSoFar_ = bytes;
        progress = valueOf(bytes);
        try {
            emit DownloadProgress(progress);
        } catch (...) {
            thrown = std::current_exception();
            job.cancel();
            return;
        }
        if (!self) {
            gone = true;
            job.cancel();
        } else if (bCancelRequested) {
            job.cancel();
        }
    });
    if (bCancelRequested)
        job.cancel();
    TransferResult end;
    if (!Wait(job, end) || gone)
        return false;
    if (thrown) {
        busy_ = false;
        std::rethrow_exception(thrown);
    }
    responseCode_ = int(end.status);
    bytesSoFar_ = end.bytes;

    switch (end.end) {
    case TransferResult::End::Complete:
        // The end of the data gives one more progress event, with the value of the last.
        progress = valueOf(end.bytes);
        emit DownloadProgress(progress);
        if (!self)
            return false;
        hSession.reset();
        if (bCancelRequested) {
            qint32 position = qint32(end.bytes);
            emit DownloadCancelled(position);
            return false;
        }
        last_ = end;
        emit DownloadComplete();
        return !self.isNull();
    case TransferResult::End::Cancelled: {
        if (end.headersComplete)
            hSession.reset();
        last_ = end;
        qint32 position = qint32(end.bytes);
        emit DownloadCancelled(position);
        return false;
    }
    case TransferResult::End::Failed:
        break;
    }
    switch (end.failure) {
    case TransferFailure::NotFound:
        // Nothing more is done: no local file, and the session stays open for reuse.
        Fail(end, QStringLiteral("Could not find URL"));
        return false;
    case TransferFailure::Write:
        hSession.reset();
        if (end.dataEnded) {
            // The data had ended: its last progress event comes before the file's failure.
            progress = valueOf(end.bytes);
            emit DownloadProgress(progress);
            if (!self)
                return false;
        }
        Fail(end, QStringLiteral("Could not write file: ") +
                      (end.error == 0 ? QStringLiteral("the file name contains a NUL character")
                                      : ErrorText(end.error)));
        return false;
    default:
        hSession.reset();
        Fail(end, QStringLiteral("Could not read URL"));
        return false;
    }
}

} // namespace orvello
