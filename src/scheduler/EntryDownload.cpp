#include "scheduler/EntryDownload.h"

#include "common/ProgramSettings.h"
#include "list/EntryStatus.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "scheduler/HlsDownload.h"
#include "scheduler/TransferEvents.h"
#include "transfer/HeaderBlock.h"
#include "transfer/TransferJob.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace orvello {

namespace {

// How often the record of a partial file is brought up to date while its data comes in: every
// 2 s, and on a fast line every 1/64 of the file (at least 4 MiB), so a crash or a kill loses
// little of a large file.
constexpr int kCheckpointMs = 2000;
constexpr std::int64_t kCheckpointParts = 64;
constexpr std::int64_t kLeastCheckpointBytes = std::int64_t(4) << 20;

QString Bytes(qint64 count) {
    return QLocale(QLocale::English).toString(count);
}

} // namespace

EntryDownload::EntryDownload(quint64 key, const EntryNeeds& needs, QObject* parent)
    : QObject(parent), key_(key), needs_(needs) {
    waitTimer_.setInterval(1000);
    connect(&waitTimer_, &QTimer::timeout, this, [this] {
        if (--waitLeft_ > 0) {
            ShowWait();
            return;
        }
        waitTimer_.stop();
        Resolve();
    });
    checkpoint_.setInterval(kCheckpointMs);
    connect(&checkpoint_, &QTimer::timeout, this, &EntryDownload::Checkpoint);
}

EntryDownload::~EntryDownload() {
    if (file_)
        file_->cancel();
    if (stream_)
        stream_->Stop(dropped_);
    ClosePartialFile();
}

void EntryDownload::Start() {
    Resolve();
}

// One try: the page read again (its media address may have expired), the file asked about.
void EntryDownload::Resolve() {
    if (resolver_)
        resolver_->deleteLater();
    resolver_ = new EntryResolver(key_, needs_.list, needs_.resolve, needs_.naming, this);
    connect(resolver_, &EntryResolver::Resolved, this,
            [this](quint64, const QString& link) { Resolved(link); });
    resolver_->ResolveEntry();
}

void EntryDownload::Stop() {
    if (ended_)
        return;
    stopping_ = true;
    waitTimer_.stop();
    checkpoint_.stop();
    if (resolver_)
        resolver_->Stop();
    if (file_)
        file_->cancel();
    if (stream_)
        stream_->Stop(dropped_);
    needs_.events.EndVideo(key_);
    if (dropped_ || !record_) {
        ForgetPartialFile(); // nothing a later run could continue
    } else {
        Checkpoint();
        ClosePartialFile();
    }
    End(EntryState::Cancelled);
}

void EntryDownload::Drop() {
    dropped_ = true;
    // The partial file and its record go, also one a wait kept.
    if (!partName_.isEmpty() || record_)
        ForgetPartialFile();
    Stop();
}

void EntryDownload::setMaxRecvSpeed(std::int64_t bytesPerSecond) {
    maxRecvSpeed_ = bytesPerSecond;
    if (file_)
        file_->setMaxRecvSpeed(bytesPerSecond);
    if (stream_)
        stream_->setMaxRecvSpeed(bytesPerSecond);
}

bool EntryDownload::Receiving() const {
    return (file_ && file_->running()) || (stream_ && stream_->Receiving());
}

void EntryDownload::Resolved(const QString& link) {
    if (ended_)
        return;
    needs_.list.FillDownloadList();
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    if (!item) {
        dropped_ = true;
        ForgetPartialFile();
        End(EntryState::Cancelled);
        return;
    }
    if (item->State == EntryState::Error) {
        // The resolution wrote the failure and its reason; one that may pass is tried again.
        Failed(item->Reason, resolver_->MayPassLater(), resolver_->RetryAfter());
        return;
    }
    if (resolver_->Hls()) {
        StartStream(link);
        return;
    }
    StartFile(link);
}

void EntryDownload::StartStream(const QString& playlist) {
    if (stream_)
        stream_->deleteLater();
    auto* stream = new HlsDownload(key_, needs_, playlist, resolver_->Referer(),
                                   resolver_->FoundTitle(), this);
    stream_ = stream;
    connect(stream, &HlsDownload::FileStarted, this, &EntryDownload::FileStarted);
    connect(stream, &HlsDownload::Continued, this, &EntryDownload::Continued);
    connect(
        stream, &HlsDownload::Ended, this,
        [this, stream](EntryState state, const QString& reason, bool mayPass, qint64 retryAfter) {
            if (stream == stream_)
                StreamEnded(state, reason, mayPass, retryAfter);
        });
    stream->Start();
}

// The stream's end: its file is complete, or it failed; a failure of its playlist that may
// pass is tried again from the page, as any other entry's.
void EntryDownload::StreamEnded(EntryState state, const QString& reason, bool mayPass,
                                qint64 retryAfter) {
    if (ended_)
        return;
    if (!needs_.list.EntryByKey(key_)) {
        dropped_ = true;
        End(EntryState::Cancelled);
        return;
    }
    if (state == EntryState::Complete) {
        End(EntryState::Complete);
        return;
    }
    if (mayPass && tries_ < needs_.resolve.retry.tries) {
        needs_.list.SetReason(key_, reason);
        Wait(retryAfter);
        return;
    }
    End(EntryState::Error, reason);
}

void EntryDownload::StartFile(const QString& link) {
    link_ = link;
    const QString& folder = needs_.settings.sDownloadDir;
    if (folder.isEmpty()) {
        // No folder at all: a bare name would land in whatever folder the program runs in.
        End(EntryState::Error, QStringLiteral("No download folder is set."));
        return;
    }
    QString why;
    folder_ = PartialFile::Folder::Open(folder, &why);
    if (!folder_.valid()) {
        End(EntryState::Error, why);
        return;
    }
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    const QString page = item->PageAddress;
    const std::int64_t announced = item->ExpectedBytes;
    if (!record_)
        record_ = needs_.records.Find(folder_, page);

    // A partial file to continue: ours (its record names it, and it is the very file the
    // record was made for), of the length the server announces now.
    resumeFrom_ = 0;
    if (record_) {
        const int fd = ::openat(folder_.fd(), QFile::encodeName(record_->part).constData(),
                                O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        const bool missing = fd < 0 && errno == ENOENT;
        struct stat st {};
        const bool ours = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                          std::uint64_t(st.st_ino) == record_->inode &&
                          std::uint64_t(st.st_dev) == record_->device;
        const bool same = record_->Resumable() && (announced < 0 || announced == record_->total);
        if (ours && same) {
            partFd_ = fd;
            partName_ = record_->part;
            resumeFrom_ = std::min<std::int64_t>(record_->bytes, st.st_size);
            if (::ftruncate(partFd_, resumeFrom_) != 0)
                resumeFrom_ = 0;
        } else {
            if (fd >= 0)
                ::close(fd);
            // Ours but of another file now: it is replaced by a fresh download. Its record
            // goes with it, and one whose file is gone. A file that is not ours is left as it
            // is, and the download takes another name.
            if (ours)
                PartialFile::Remove(folder_, record_->part);
            if (ours || missing)
                needs_.records.Remove(folder_, record_->part);
            record_.reset();
        }
    }
    if (partFd_ < 0) {
        // The data goes into a partial file of the entry's own, created new: no file in the
        // folder is replaced or written into, and a cut-off download never stands under the
        // name a finished one would have. That descriptor is the one the transfer writes to.
        partName_ = PartialFile::Create(folder_, item->FileName, &partFd_, &why);
        if (partName_.isEmpty()) {
            End(EntryState::Error, why);
            return;
        }
    }
    needs_.events.BeginVideo(key_, record_ ? record_->total : announced, item->FileReported,
                             resumeFrom_);
    StartTransfer();
}

void EntryDownload::StartTransfer() {
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToFile;
    request.url = link_;
    request.fd = partFd_;
    request.fileOffset = resumeFrom_;
    if (resumeFrom_ > 0 && record_) {
        request.rangeFrom = resumeFrom_;
        request.ifRange = record_->Validator();
    }
    request.limits = needs_.resolve.limits;
    request.cookieFile = needs_.resolve.cookieFile;
    request.referer = resolver_ ? resolver_->Referer().toUtf8() : QByteArray();
    request.maxRecvSpeed = maxRecvSpeed_;
    auto* job = new TransferJob(needs_.resolve.session, key_, request, this);
    file_ = job;
    connect(job, &TransferJob::opening, this, [this](quint64) { Opening(); });
    connect(job, &TransferJob::progress, this, [this](quint64, qint64 bytes) {
        if (record_ && resumeFrom_ + bytes - record_->bytes >=
                           std::max(record_->total / kCheckpointParts, kLeastCheckpointBytes))
            Checkpoint();
        needs_.events.VideoProgress(key_, resumeFrom_ + bytes);
    });
    connect(job, &TransferJob::finished, this, [this, job](quint64, const TransferResult& result) {
        job->deleteLater();
        if (job == file_)
            FileEnded(result);
    });
    needs_.list.FindCurrentRow();
    job->start();
    checkpoint_.start();
    emit FileStarted(key_);
}

// The final answer's headers: whether its body continues the partial file, replaces it, or
// can't be used; and what the record keeps of it.
void EntryDownload::Opening() {
    TransferJob* job = file_;
    const long status = job->status();
    const QByteArray headers = job->headerBlock();
    const auto range = ReadContentRange(HeaderField(headers, "Content-Range"));
    if (resumeFrom_ > 0 && record_) {
        // A 206 continues the partial file only when it starts at its end, is of the same
        // length, and, where it names a validator, names the one the partial file was written
        // under: a server that ignores If-Range sends the changed file's bytes otherwise.
        const QByteArray sent = RangeValidator(headers);
        const bool sameFile = sent.isEmpty() || sent == record_->Validator();
        const bool continues = status == 206 && range && range->first == resumeFrom_ &&
                               range->total == record_->total && sameFile;
        const bool whole = status >= 200 && status < 300 && status != 206;
        if (status == 416 && range && range->total == resumeFrom_) {
            // Everything is on disk already.
            file_ = nullptr;
            job->cancel();
            FinishFile();
            return;
        }
        if (whole) {
            // The server sent the whole file (it ignored the range, or the file changed): it
            // is written from the first byte.
            job->setFileOffset(0);
            if (::ftruncate(partFd_, 0) != 0) {
                Failed(QStringLiteral("The partial file could not be emptied."), false, -1);
                return;
            }
            resumeFrom_ = 0;
            record_.reset();
        } else if (!continues && (status == 206 || status == 416)) {
            // Not the bytes asked for: the file is fetched whole again.
            file_ = nullptr;
            job->cancel();
            resumeFrom_ = 0;
            record_.reset();
            if (::ftruncate(partFd_, 0) != 0) {
                Failed(QStringLiteral("The partial file could not be emptied."), false, -1);
                return;
            }
            needs_.records.Remove(folder_, partName_);
            StartTransfer();
            return;
        }
        if (continues)
            emit Continued(key_, resumeFrom_, record_->total);
    }
    if (status < 200 || status >= 300)
        return; // an error page: its end says what it was
    // What a later run needs to continue: the whole length and a validator.
    const std::int64_t total = status == 206 && range
                                   ? range->total
                                   : (job->responseLength() >= 0 ? job->responseLength() : -1);
    const QByteArray validator = RangeValidator(headers);
    struct stat st {};
    if (total <= 0 || validator.isEmpty() || ::fstat(partFd_, &st) != 0) {
        if (record_)
            needs_.records.Remove(folder_, partName_);
        record_.reset();
        return;
    }
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    PartialRecord r;
    r.page = item ? item->PageAddress : QString();
    r.media = link_;
    r.part = partName_;
    r.name = item ? item->FileName : partName_;
    const QByteArray etag = HeaderField(headers, "ETag");
    if (etag == validator)
        r.etag = validator;
    else
        r.lastModified = validator;
    r.total = total;
    r.bytes = resumeFrom_;
    r.inode = std::uint64_t(st.st_ino);
    r.device = std::uint64_t(st.st_dev);
    if (!PartialFile::IsOneComponent(r.name))
        r.name = partName_;
    record_ = r;
    needs_.events.BeginVideo(key_, total, true, resumeFrom_);
    needs_.records.Write(folder_, *record_);
}

void EntryDownload::Checkpoint() {
    if (!record_ || !file_)
        return;
    file_->handOver();
    // The bytes handed to the file so far. The writer puts them down in order, so the file's
    // length bounds what is really there when a later run continues, whatever came first: the
    // record or the writes.
    const std::int64_t bytes = resumeFrom_ + file_->bytesSoFar();
    if (bytes == record_->bytes)
        return;
    record_->bytes = std::min(bytes, record_->total);
    needs_.records.Write(folder_, *record_);
}

void EntryDownload::FileEnded(const TransferResult& result) {
    if (ended_)
        return;
    checkpoint_.stop();
    needs_.events.EndVideo(key_);
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    if (!item) {
        dropped_ = true;
        ForgetPartialFile();
        End(EntryState::Cancelled);
        return;
    }
    const std::int64_t onDisk = resumeFrom_ + result.bytes;
    const std::int64_t expected = record_ ? record_->total : item->ExpectedBytes;
    const qint64 retryAfter =
        RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
    if (record_)
        record_->bytes = std::min(onDisk, record_->total);
    // A transfer that did not complete failed; so did one whose server answered with an
    // error page, that reported neither a length nor the file, or that sent less than it
    // announced (a connection broken off: that may pass).
    if (!result.complete()) {
        Failed(TransferFailureReason(result, needs_.resolve.limits), MayPass(result), retryAfter);
    } else if (result.status >= 400) {
        Failed(HttpStatusReason(int(result.status)), MayPass(result.status), retryAfter);
    } else if (expected < 0 && !item->FileReported) {
        Failed(QStringLiteral("The server reported neither the file nor its length."), false, -1);
    } else if (expected >= 0 && onDisk < expected) {
        Failed(QStringLiteral("The server sent only %1 of the %2 bytes it announced.")
                   .arg(Bytes(onDisk), Bytes(expected)),
               true, retryAfter);
    } else {
        FinishFile();
    }
}

// The file is whole: it takes the entry's name as it is now (the user may have renamed it
// meanwhile), or the first free numbered form of it; the entry shows the name written.
void EntryDownload::FinishFile() {
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    QString why;
    const QString finalName =
        item ? PartialFile::Finish(folder_, partName_, item->FileName, &why) : QString();
    if (finalName.isEmpty()) {
        Failed(why, false, -1);
        return;
    }
    if (record_)
        needs_.records.Remove(folder_, partName_);
    record_.reset();
    ClosePartialFile();
    partName_.clear();
    needs_.list.SetFileName(key_, finalName);
    needs_.list.SetSavedPath(key_, QDir(folder_.path()).filePath(finalName));
    End(EntryState::Complete);
}

void EntryDownload::Failed(const QString& reason, bool mayPass, qint64 retryAfter) {
    checkpoint_.stop();
    if (mayPass && tries_ < needs_.resolve.retry.tries) {
        if (!record_)
            ForgetPartialFile(); // nothing to continue from: the next try starts afresh
        else
            Checkpoint();
        ClosePartialFile();
        needs_.list.SetReason(key_, reason);
        Wait(retryAfter);
        return;
    }
    if (mayPass && record_) {
        // Out of tries: the partial file stays, for a later run to continue.
        Checkpoint();
        ClosePartialFile();
    } else {
        ForgetPartialFile();
    }
    End(EntryState::Error, reason);
}

// Waits before the next try: 1, 2, 4, 8, 16 s (the policy's first wait doubled each time), or
// as long as the server asked, up to the policy's longest wait.
void EntryDownload::Wait(qint64 retryAfter) {
    const RetryPolicy& policy = needs_.resolve.retry;
    ++tries_;
    qint64 ms = policy.firstWait.count() << std::min(tries_ - 1, 20);
    if (retryAfter >= 0)
        ms = std::max<qint64>(ms, retryAfter * 1000);
    ms = std::min<qint64>(ms, policy.longestWait.count());
    waitLeft_ = std::max<qint64>((ms + 999) / 1000, 1);
    ShowWait();
    waitTimer_.start(int(std::min<qint64>(ms, 1000)));
}

void EntryDownload::ShowWait() {
    needs_.list.ShowRunningStatus(key_, EntryState::Retrying,
                                  RetryProgress(tries_, needs_.resolve.retry.tries, waitLeft_));
}

void EntryDownload::ClosePartialFile() {
    if (partFd_ >= 0)
        ::close(partFd_);
    partFd_ = -1;
}

// The partial file and its record go: nothing can continue from them.
void EntryDownload::ForgetPartialFile() {
    ClosePartialFile();
    if (!partName_.isEmpty()) {
        PartialFile::Remove(folder_, partName_);
        needs_.records.Remove(folder_, partName_);
    } else if (record_ && folder_.valid()) {
        needs_.records.Remove(folder_, record_->part);
    }
    partName_.clear();
    record_.reset();
}

void EntryDownload::End(EntryState state, const QString& reason) {
    if (ended_)
        return;
    ended_ = true;
    waitTimer_.stop();
    checkpoint_.stop();
    if (!dropped_ && needs_.list.EntryByKey(key_)) {
        needs_.list.SetState(key_, state);
        needs_.list.SetReason(key_, reason);
        needs_.list.SetTransferNote(key_, QString());
        needs_.list.FillDownloadList();
    }
    emit Finished(key_, dropped_ ? EntryState::Cancelled : state);
}

} // namespace orvello
