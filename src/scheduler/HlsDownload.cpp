#include "scheduler/HlsDownload.h"

#include "common/ProgramSettings.h"
#include "list/EntryStatus.h"
#include "list/Formatting.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "resolve/generic/GenericName.h"
#include "scheduler/EntryDownload.h"
#include "scheduler/TransferEvents.h"
#include "transfer/Aes128.h"
#include "transfer/HeaderBlock.h"
#include "transfer/TransferJob.h"
#include "transfer/TsSync.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace orvello {

namespace {

// How often the record of the partial file is brought up to the fragments written.
constexpr int kCheckpointMs = 2000;

QString ErrorText(int error) {
    return error == ENOSPC ? QStringLiteral("The disk is full.")
                           : QStringLiteral("Could not write file: %1")
                                 .arg(QString::fromLocal8Bit(::strerror(error)));
}

QString Capitalized(QString text) {
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text;
}

} // namespace

// Puts the stream's pieces down in the partial file on a thread of its own, in the order they
// are handed over, so a slow disk never holds up the event loop. After each piece it tells the
// stream on the event loop (a queued call, which Qt drops once the stream is gone). The thread
// touches nothing else of the stream's; it ends, after the pieces handed over, when the writer
// goes, and stops at the first failed write.
class FragmentWriter {
public:
    FragmentWriter(int fd, QObject* stream, std::function<void()> written)
        : fd_(fd), stream_(stream), written_(std::move(written)), worker_([this] { Work(); }) {}
    ~FragmentWriter() { Settle(); }
    // Puts down the pieces handed over (up to a failed write) and ends the thread.
    void Settle() {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            ending_ = true;
        }
        more_.notify_one();
        if (worker_.joinable())
            worker_.join();
    }
    void Post(std::int64_t offset, QByteArray bytes) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            queue_.push_back({offset, std::move(bytes)});
        }
        more_.notify_one();
    }
    // The pieces put down so far, and the error that stopped the writes (0 for none).
    qsizetype done() const { return done_.load(); }
    int error() const { return error_.load(); }

private:
    struct Piece {
        std::int64_t offset;
        QByteArray bytes;
    };
    void Work() {
        std::unique_lock<std::mutex> hold(lock_);
        for (;;) {
            more_.wait(hold, [this] { return ending_ || !queue_.empty(); });
            if (queue_.empty() || error_.load() != 0)
                return;
            Piece piece = std::move(queue_.front());
            queue_.pop_front();
            hold.unlock();
            const int error = Write(piece);
            if (error != 0)
                error_.store(error);
            else
                done_.fetch_add(1);
            QMetaObject::invokeMethod(stream_, written_, Qt::QueuedConnection);
            hold.lock();
        }
    }
    int Write(const Piece& piece) const {
        qsizetype done = 0;
        while (done < piece.bytes.size()) {
            const ssize_t n =
                ::pwrite(fd_, piece.bytes.constData() + done,
                         std::size_t(piece.bytes.size() - done), off_t(piece.offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return n < 0 ? errno : ENOSPC;
            done += n;
        }
        return 0;
    }

    const int fd_;
    QObject* const stream_;
    const std::function<void()> written_;
    std::mutex lock_;
    std::condition_variable more_;
    std::deque<Piece> queue_; // under lock_
    bool ending_ = false;     // under lock_
    std::atomic<qsizetype> done_{0};
    std::atomic<int> error_{0};
    std::thread worker_; // last: it starts at once and uses every member above
};

HlsDownload::HlsDownload(quint64 key, const EntryNeeds& needs, const QString& playlist,
                         const QString& referer, const QString& title, QObject* parent)
    : QObject(parent), key_(key), needs_(needs), top_(playlist), referer_(referer.toUtf8()),
      title_(title) {
    checkpoint_.setInterval(kCheckpointMs);
    connect(&checkpoint_, &QTimer::timeout, this, &HlsDownload::Checkpoint);
}

HlsDownload::~HlsDownload() {
    CancelAll();
    CloseFile();
}

void HlsDownload::Start() {
    FetchPlaylist(top_);
}

void HlsDownload::FetchPlaylist(const QUrl& address) {
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToMemory;
    request.url = address.toString(QUrl::FullyEncoded);
    request.limits = needs_.resolve.limits;
    request.limits.maxBytes = std::min<std::int64_t>(request.limits.maxBytes, kHlsMaxPlaylistBytes);
    request.cookieFile = needs_.resolve.cookieFile;
    request.referer = referer_;
    auto* job = new TransferJob(needs_.resolve.session, key_, request, this);
    playlistJob_ = job;
    connect(job, &TransferJob::finished, this, [this, job](quint64, const TransferResult& result) {
        job->deleteLater();
        if (job == playlistJob_ && !over_)
            PlaylistFetched(result);
    });
    job->start();
}

// A playlist is in: a master leads to its chosen variant (once), a media playlist to its
// segments; anything else ends the entry with the reason.
void HlsDownload::PlaylistFetched(const TransferResult& result) {
    const qint64 retryAfter =
        RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
    if (!result.complete()) {
        const QString reason = result.failure == TransferFailure::TooLarge
                                   ? HlsProblemText(HlsProblem::TooLarge)
                                   : TransferFailureReason(result, needs_.resolve.limits);
        Fail(reason, false, MayPass(result), retryAfter);
        return;
    }
    if (result.status >= 400) {
        Fail(HttpStatusReason(int(result.status)), false, MayPass(result.status), retryAfter);
        return;
    }
    const QUrl base(result.effectiveUrl.isEmpty() ? result.url : result.effectiveUrl);
    HlsPlaylist playlist = ReadPlaylist(result.body, base);
    if (playlist.kind == HlsKind::Master && level_ == 0) {
        const HlsVariantChoice choice = ChooseVariant(playlist.master);
        if (choice.index < 0) {
            Fail(HlsProblemText(choice.problem), false);
            return;
        }
        level_ = 1;
        FetchPlaylist(playlist.master.variants[choice.index].uri);
        return;
    }
    if (playlist.kind != HlsKind::Media) {
        // A master inside a master is no stream this reads.
        Fail(
            HlsProblemText(playlist.kind == HlsKind::Master ? HlsProblem::Empty : playlist.problem),
            false);
        return;
    }
    if (playlist.problem != HlsProblem::None) {
        Fail(HlsProblemText(playlist.problem), false);
        return;
    }
    mediaUrl_ = base;
    media_ = std::move(playlist.media);
    Begin();
}

// The media playlist is read: the file's name and partial file (continued where a record
// allows), the pieces to fetch, and the first requests.
void HlsDownload::Begin() {
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    if (!item) {
        Fail(QString(), false);
        return;
    }
    container_ = ContainerOf(media_);
    if (item->FileName == EntryText::AutoDetect) {
        const QString found = GenericFileName(title_, top_.toString(), ContainerSuffix(container_));
        const LocalFileInfo info =
            needs_.naming.MakeLocalFileName(top_.toString(), item->SiteCode, HeaderValues{}, found);
        needs_.list.SetFileName(key_, info.FileName);
    }
    const qsizetype n = media_.segments.size();
    QString why;
    if (!OpenPartialFile(n, &why)) {
        Fail(why, false);
        return;
    }
    // The pieces from the first fragment not yet in the file: each segment, with its init
    // section in front of it where that differs from the one before it.
    qsizetype init = fragmentsDone_ > 0 ? media_.segments[fragmentsDone_ - 1].initSection : -1;
    for (qsizetype i = fragmentsDone_; i < n; ++i) {
        const HlsSegment& s = media_.segments[i];
        if (s.initSection != init && s.initSection >= 0) {
            Piece piece;
            piece.fetch.uri = media_.initSections[s.initSection].uri;
            piece.fetch.range = media_.initSections[s.initSection].range;
            piece.segment = i;
            piece.init = true;
            pieces_.push_back(std::move(piece));
        }
        init = s.initSection;
        Piece piece;
        piece.fetch.uri = s.uri;
        piece.fetch.range = s.range;
        piece.segment = i;
        if (s.key.method == HlsKeyMethod::Aes128) {
            // Each key address is fetched once, whichever segments share it.
            qsizetype k = 0;
            while (k < qsizetype(keys_.size()) && keys_[std::size_t(k)].uri != s.key.uri)
                ++k;
            if (k == qsizetype(keys_.size())) {
                Fetch key;
                key.uri = s.key.uri;
                keys_.push_back(std::move(key));
            }
            piece.key = k;
            piece.iv = s.key.iv;
        }
        pieces_.push_back(std::move(piece));
    }
    writer_ = std::make_unique<FragmentWriter>(partFd_, this, [this] { Written(); });
    needs_.events.BeginVideo(key_, -1, true, offset_);
    begun_ = true;
    checkpoint_.start();
    needs_.list.FindCurrentRow();
    emit FileStarted(key_);
    if (fragmentsDone_ > 0)
        emit Continued(key_, offset_, offset_ / fragmentsDone_ * std::int64_t(n));
    if (pieces_.empty()) {
        Finish();
        return;
    }
    Pump();
}

// The partial file: the one a record of an earlier run names, cut to the fragments it holds,
// when it is still that very file and the playlist has as many fragments as then; else a new
// one of the entry's own.
bool HlsDownload::OpenPartialFile(qsizetype segments, QString* why) {
    const QString& folder = needs_.settings.sDownloadDir;
    if (folder.isEmpty()) {
        *why = QStringLiteral("No download folder is set.");
        return false;
    }
    folder_ = PartialFile::Folder::Open(folder, why);
    if (!folder_.valid())
        return false;
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    const QString page = item->PageAddress;
    std::optional<PartialRecord> found = needs_.records.Find(folder_, page);
    if (found) {
        const int fd = ::openat(folder_.fd(), QFile::encodeName(found->part).constData(),
                                O_RDWR | O_NOFOLLOW | O_CLOEXEC);
        const bool missing = fd < 0 && errno == ENOENT;
        struct stat st {};
        const bool ours = fd >= 0 && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                          std::uint64_t(st.st_ino) == found->inode &&
                          std::uint64_t(st.st_dev) == found->device;
        // The same stream: the media playlist at the same place (its query may carry a token
        // that changes from run to run) with as many fragments.
        const auto place = [](const QUrl& url) {
            return url.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
        };
        const bool same = !found->playlist.isEmpty() &&
                          place(QUrl(found->playlist)) == place(mediaUrl_) &&
                          found->fragments == segments && found->fragment > 0 &&
                          found->fragment <= segments && found->bytes <= st.st_size;
        if (ours && same && ::ftruncate(fd, found->bytes) == 0) {
            partFd_ = fd;
            partName_ = found->part;
            offset_ = found->bytes;
            fragmentEnd_ = offset_;
            fragmentsDone_ = qsizetype(found->fragment);
            record_ = found;
        } else {
            if (fd >= 0)
                ::close(fd);
            // Ours but of another stream now: it starts over. A file that is not ours stays,
            // and the download takes another name.
            if (ours)
                PartialFile::Remove(folder_, found->part);
            if (ours || missing)
                needs_.records.Remove(folder_, found->part);
        }
    }
    if (partFd_ < 0) {
        partName_ = PartialFile::Create(folder_, item->FileName, &partFd_, why);
        if (partName_.isEmpty())
            return false;
        struct stat st {};
        if (::fstat(partFd_, &st) != 0) {
            *why = ErrorText(errno);
            Forget();
            return false;
        }
        PartialRecord r;
        r.page = page;
        r.media = mediaUrl_.toString();
        r.playlist = r.media;
        r.part = partName_;
        r.name = PartialFile::IsOneComponent(item->FileName) ? item->FileName : partName_;
        r.total = 0;
        r.bytes = 0;
        r.fragments = segments;
        r.inode = std::uint64_t(st.st_ino);
        r.device = std::uint64_t(st.st_dev);
        record_ = r;
    }
    return true;
}

// Starts what the window allows: the pieces after the next one to write, up to kParallel of
// them fetched or held at a time, in the playlist's order.
void HlsDownload::Pump() {
    while (!over_ && nextStart_ < qsizetype(pieces_.size()) && nextStart_ < written_ + kParallel) {
        Piece& piece = pieces_[std::size_t(nextStart_)];
        if (piece.key >= 0 && !keys_[std::size_t(piece.key)].started)
            StartFetch(keys_[std::size_t(piece.key)], -1, piece.key);
        StartFetch(piece.fetch, nextStart_, -1);
        ++nextStart_;
    }
}

void HlsDownload::StartFetch(Fetch& fetch, qsizetype piece, qsizetype keyIndex) {
    fetch.started = true;
    fetch.taken = 0;
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToMemory;
    request.url = fetch.uri.toString(QUrl::FullyEncoded);
    request.limits = needs_.resolve.limits;
    request.limits.maxBytes = std::min<std::int64_t>(
        request.limits.maxBytes, keyIndex >= 0 ? kMaxKeyBytes : kMaxFragmentBytes);
    request.cookieFile = needs_.resolve.cookieFile;
    request.referer = referer_;
    request.block = 0; // one progress for all that came in a pass
    if (!fetch.range.whole()) {
        request.rangeFrom = fetch.range.offset;
        request.rangeTo = fetch.range.offset + fetch.range.length - 1;
    }
    if (maxRecvSpeed_ > 0)
        request.maxRecvSpeed = std::max<std::int64_t>(maxRecvSpeed_ / kParallel, 1);
    auto* job = new TransferJob(needs_.resolve.session, key_, request, this);
    fetch.job = job;
    if (keyIndex < 0) {
        connect(job, &TransferJob::progress, this, [this, piece](quint64, qint64 bytes) {
            if (over_)
                return;
            pieces_[std::size_t(piece)].fetch.taken = bytes;
            ShowProgress();
        });
    }
    connect(job, &TransferJob::finished, this,
            [this, job, piece, keyIndex](quint64, const TransferResult& result) {
                job->deleteLater();
                if (!over_)
                    Fetched(piece, keyIndex, result);
            });
    job->start();
}

// A piece or a key is in, or failed: tried again after a wait while it may pass and tries are
// left, else the stream fails naming the fragment.
void HlsDownload::Fetched(qsizetype piece, qsizetype keyIndex, const TransferResult& result) {
    Fetch& fetch = keyIndex >= 0 ? keys_[std::size_t(keyIndex)] : pieces_[std::size_t(piece)].fetch;
    fetch.job = nullptr;
    qsizetype segment = piece >= 0 ? pieces_[std::size_t(piece)].segment : 0;
    if (keyIndex >= 0) {
        // The first fragment that needs the key names it.
        for (const Piece& p : pieces_)
            if (p.key == keyIndex) {
                segment = p.segment;
                break;
            }
    }
    const QString what = keyIndex >= 0 ? QStringLiteral("The key of %1").arg(FragmentName(segment))
                                       : Capitalized(FragmentName(segment));
    QString reason;
    bool mayPass = false;
    if (!result.complete()) {
        reason = result.failure == TransferFailure::TooLarge
                     ? QStringLiteral("it is larger than %1 MiB.")
                           .arg((keyIndex >= 0 ? kMaxKeyBytes : kMaxFragmentBytes) >> 20)
                     : TransferFailureReason(result, needs_.resolve.limits);
        mayPass = MayPass(result);
    } else if (result.status >= 400) {
        reason = HttpStatusReason(int(result.status));
        mayPass = MayPass(result.status);
    }
    QByteArray bytes = result.body;
    if (reason.isEmpty() && !fetch.range.whole()) {
        // A range: a 206 holds just it; a server that ignores ranges sends the whole resource,
        // which is cut here.
        const std::int64_t length = fetch.range.length;
        if (result.status != 206) {
            if (bytes.size() >= fetch.range.offset + length)
                bytes = bytes.mid(qsizetype(fetch.range.offset), qsizetype(length));
            else
                reason = QStringLiteral("the server sent %1 bytes where %2 were asked for.")
                             .arg(bytes.size())
                             .arg(fetch.range.offset + length);
        } else {
            const auto range = ReadContentRange(HeaderField(result.headerBlock, "Content-Range"));
            if ((range && range->first != fetch.range.offset) || bytes.size() != length)
                reason = QStringLiteral("the server sent another range than the one asked for.");
        }
    }
    if (reason.isEmpty() && keyIndex >= 0 && bytes.size() != 16)
        reason = QStringLiteral("a key is 16 bytes, and the server sent %1.").arg(bytes.size());
    if (!reason.isEmpty()) {
        const RetryPolicy& policy = needs_.resolve.retry;
        if (mayPass && fetch.tries < policy.tries) {
            ++fetch.tries;
            qint64 ms = policy.firstWait.count() << std::min(fetch.tries - 1, 20);
            const qint64 retryAfter =
                RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
            if (retryAfter >= 0)
                ms = std::max<qint64>(ms, retryAfter * 1000);
            ms = std::min<qint64>(ms, policy.longestWait.count());
            QTimer::singleShot(std::chrono::milliseconds(ms), this, [this, piece, keyIndex] {
                if (over_)
                    return;
                Fetch& again = keyIndex >= 0 ? keys_[std::size_t(keyIndex)]
                                             : pieces_[std::size_t(piece)].fetch;
                StartFetch(again, piece, keyIndex);
            });
            return;
        }
        if (!reason.endsWith(QLatin1Char('.')))
            reason += QLatin1Char('.');
        // What is written stays for a later run when the failure may pass.
        Fail(QStringLiteral("%1: %2").arg(what, reason), mayPass);
        return;
    }
    fetch.bytes = std::move(bytes);
    fetch.done = true;
    Flush();
}

// Writes the pieces that are next in order and in memory (with their key), and starts more.
void HlsDownload::Flush() {
    while (!over_ && nextWrite_ < qsizetype(pieces_.size())) {
        Piece& piece = pieces_[std::size_t(nextWrite_)];
        if (!piece.fetch.done || (piece.key >= 0 && !keys_[std::size_t(piece.key)].done))
            break;
        QString why;
        if (!WritePiece(piece, &why)) {
            Fail(QStringLiteral("%1: %2").arg(Capitalized(FragmentName(piece.segment)), why),
                 false);
            return;
        }
        piece.fetch.bytes = QByteArray(); // handed to the writer: its memory goes
        ++nextWrite_;
    }
    if (!over_)
        ShowProgress();
}

// The writer has put pieces down: the fragments among them count from now on (for the record
// and the estimate), and more pieces may come in their place.
void HlsDownload::Written() {
    if (over_ || !writer_)
        return;
    if (const int error = writer_->error()) {
        Fail(ErrorText(error), false);
        return;
    }
    CountWritten();
    ShowProgress();
    if (written_ == qsizetype(pieces_.size())) {
        Finish();
        return;
    }
    Pump();
}

void HlsDownload::CountWritten() {
    const qsizetype done = writer_ ? writer_->done() : written_;
    for (; written_ < done; ++written_) {
        const Piece& piece = pieces_[std::size_t(written_)];
        if (piece.init)
            continue;
        fragmentsDone_ = piece.segment + 1;
        fragmentEnd_ = piece.end;
        if (record_ && record_->fragment == 0)
            Checkpoint(); // from the first fragment on, a later run can continue
    }
}

// An end before the last piece: what was handed over is put down first, so the record keeps
// every fragment that is on disk.
void HlsDownload::SettleWrites() {
    if (!writer_)
        return;
    writer_->Settle();
    CountWritten();
}

bool HlsDownload::WritePiece(Piece& piece, QString* why) {
    QByteArray bytes = std::move(piece.fetch.bytes);
    if (piece.key >= 0) {
        QByteArray clear;
        QString error;
        if (!DecryptAes128(bytes, keys_[std::size_t(piece.key)].bytes,
                           QByteArrayView(piece.iv.data(), qsizetype(piece.iv.size())), clear,
                           &error)) {
            *why = error;
            return false;
        }
        bytes = std::move(clear);
    }
    if (container_ == HlsContainer::MpegTs && !piece.init) {
        // Bytes a host puts in front of the packets (a picture) are no part of the stream.
        const qsizetype start = TsStart(bytes);
        if (start > 0)
            bytes.remove(0, start);
    }
    const std::int64_t at = offset_;
    offset_ += bytes.size();
    piece.end = offset_;
    writer_->Post(at, std::move(bytes));
    return true;
}

// The bytes so far (written, and of the pieces in memory or coming), and the share of the
// whole, estimated from the fragments written: bytes per fragment times their number.
void HlsDownload::ShowProgress() {
    std::int64_t coming = 0;
    for (qsizetype i = nextWrite_; i < nextStart_; ++i)
        coming += pieces_[std::size_t(i)].fetch.taken;
    const std::int64_t bytes = offset_ + coming;
    needs_.events.VideoProgress(key_, bytes);
    if (over_ || fragmentsDone_ == 0 || !needs_.list.EntryByKey(key_))
        return;
    const double estimate =
        double(fragmentEnd_) / double(fragmentsDone_) * double(media_.segments.size());
    const qint64 percent =
        estimate > 0 ? std::min<qint64>(qint64(std::floor(double(bytes) * 100 / estimate)), 100)
                     : 0;
    needs_.list.ShowRunningStatus(key_, EntryState::Transferring, percent);
}

// The record follows the fragments written whole: a later run continues after the last one.
void HlsDownload::Checkpoint() {
    if (!record_ || (record_->fragment == fragmentsDone_ && record_->bytes == fragmentEnd_))
        return;
    record_->fragment = fragmentsDone_;
    record_->bytes = fragmentEnd_;
    record_->total = fragmentEnd_;
    needs_.records.Write(folder_, *record_);
}

void HlsDownload::Finish() {
    checkpoint_.stop();
    needs_.events.EndVideo(key_);
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    QString why;
    const QString finalName =
        item ? PartialFile::Finish(folder_, partName_, item->FileName, &why) : QString();
    if (finalName.isEmpty()) {
        Fail(why, false);
        return;
    }
    over_ = true;
    needs_.records.Remove(folder_, partName_);
    record_.reset();
    CloseFile();
    partName_.clear();
    needs_.list.SetFileName(key_, finalName);
    needs_.list.SetFileSize(key_, FormatFileSize(float(offset_)), offset_, true);
    needs_.list.SetSavedPath(key_, QDir(folder_.path()).filePath(finalName));
    emit Ended(EntryState::Complete, QString(), false, -1);
}

void HlsDownload::Fail(const QString& reason, bool keep, bool mayPass, qint64 retryAfter) {
    if (over_)
        return;
    over_ = true;
    checkpoint_.stop();
    CancelAll();
    if (begun_)
        needs_.events.EndVideo(key_);
    SettleWrites();
    if (keep && record_ && fragmentsDone_ > 0) {
        Checkpoint();
        CloseFile();
    } else {
        Forget();
    }
    emit Ended(EntryState::Error, reason, mayPass, retryAfter);
}

void HlsDownload::Stop(bool drop) {
    if (over_)
        return;
    checkpoint_.stop();
    CancelAll();
    if (begun_)
        needs_.events.EndVideo(key_);
    SettleWrites();
    if (!drop && record_ && fragmentsDone_ > 0) {
        Checkpoint();
        CloseFile();
    } else {
        Forget();
    }
    over_ = true;
}

bool HlsDownload::Receiving() const {
    for (const Piece& piece : pieces_)
        if (piece.fetch.job && piece.fetch.job->running())
            return true;
    return false;
}

void HlsDownload::setMaxRecvSpeed(std::int64_t bytesPerSecond) {
    maxRecvSpeed_ = bytesPerSecond;
    const std::int64_t each =
        bytesPerSecond > 0 ? std::max<std::int64_t>(bytesPerSecond / kParallel, 1) : 0;
    for (Piece& piece : pieces_)
        if (piece.fetch.job)
            piece.fetch.job->setMaxRecvSpeed(each);
}

void HlsDownload::CancelAll() {
    if (playlistJob_)
        playlistJob_->cancel();
    for (Piece& piece : pieces_)
        if (piece.fetch.job)
            piece.fetch.job->cancel();
    for (Fetch& key : keys_)
        if (key.job)
            key.job->cancel();
}

void HlsDownload::CloseFile() {
    writer_.reset(); // the pieces handed over are put down first
    if (partFd_ >= 0)
        ::close(partFd_);
    partFd_ = -1;
}

// The partial file and its record go: nothing can continue from them.
void HlsDownload::Forget() {
    CloseFile();
    if (!partName_.isEmpty() && folder_.valid()) {
        PartialFile::Remove(folder_, partName_);
        needs_.records.Remove(folder_, partName_);
    }
    partName_.clear();
    record_.reset();
}

QString HlsDownload::FragmentName(qsizetype segment) const {
    return QStringLiteral("fragment %1 of %2").arg(segment + 1).arg(media_.segments.size());
}

} // namespace orvello
