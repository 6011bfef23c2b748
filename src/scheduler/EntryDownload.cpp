#include "scheduler/EntryDownload.h"

#include "common/ProgramSettings.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "scheduler/TransferEvents.h"
#include "transfer/TransferJob.h"

#include <QDir>
#include <QLocale>

#include <unistd.h>

namespace orvello {

namespace {

QString Bytes(qint64 count) {
    return QLocale(QLocale::English).toString(count);
}

} // namespace

EntryDownload::EntryDownload(quint64 key, const EntryNeeds& needs, QObject* parent)
    : QObject(parent), key_(key), needs_(needs) {}

EntryDownload::~EntryDownload() {
    if (file_)
        file_->cancel();
    if (partFd_ >= 0)
        ::close(partFd_);
}

void EntryDownload::Start() {
    resolver_ = new EntryResolver(key_, needs_.list, needs_.resolve, needs_.naming, this);
    connect(resolver_, &EntryResolver::Resolved, this,
            [this](quint64, const QString& link) { Resolved(link); });
    resolver_->ResolveEntry();
}

void EntryDownload::Stop() {
    if (ended_)
        return;
    stopping_ = true;
    if (resolver_)
        resolver_->Stop();
    if (file_)
        file_->cancel();
    needs_.events.EndVideo(key_);
    RemovePartialFile();
    End(EntryState::Cancelled);
}

void EntryDownload::Drop() {
    dropped_ = true;
    Stop();
}

void EntryDownload::setMaxRecvSpeed(std::int64_t bytesPerSecond) {
    maxRecvSpeed_ = bytesPerSecond;
    if (file_)
        file_->setMaxRecvSpeed(bytesPerSecond);
}

bool EntryDownload::Receiving() const {
    return file_ && file_->running();
}

void EntryDownload::Resolved(const QString& link) {
    if (ended_)
        return;
    needs_.list.FillDownloadList();
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    if (!item) {
        dropped_ = true;
        End(EntryState::Cancelled);
        return;
    }
    if (item->State == EntryState::Error) {
        // The resolution wrote the failure and its reason.
        ended_ = true;
        emit Finished(key_, EntryState::Error);
        return;
    }
    StartFile(link);
}

void EntryDownload::StartFile(const QString& link) {
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
    // The data goes into a partial file of the entry's own, created new: no file in the
    // folder is replaced or written into, and a cut-off download never stands under the
    // name a finished one would have. That descriptor is the one the transfer writes to.
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    partName_ = PartialFile::Create(folder_, item->FileName, &partFd_, &why);
    if (partName_.isEmpty()) {
        End(EntryState::Error, why);
        return;
    }

    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToFile;
    request.url = link;
    request.fd = partFd_;
    request.limits = needs_.resolve.limits;
    request.cookieFile = needs_.resolve.cookieFile;
    request.maxRecvSpeed = maxRecvSpeed_;
    auto* job = new TransferJob(needs_.resolve.session, key_, request, this);
    file_ = job;
    connect(job, &TransferJob::progress, this,
            [this](quint64, qint64 bytes) { needs_.events.VideoProgress(key_, bytes); });
    connect(job, &TransferJob::finished, this, [this, job](quint64, const TransferResult& result) {
        job->deleteLater();
        FileEnded(result);
    });
    needs_.events.BeginVideo(key_, item->ExpectedBytes, item->FileReported);
    needs_.list.FindCurrentRow();
    job->start();
    emit FileStarted(key_);
}

void EntryDownload::FileEnded(const TransferResult& result) {
    if (ended_)
        return;
    needs_.events.EndVideo(key_);
    const DownloadItem* item = needs_.list.EntryByKey(key_);
    if (!item) {
        RemovePartialFile();
        dropped_ = true;
        End(EntryState::Cancelled);
        return;
    }
    // A transfer that did not complete failed; so did one whose server answered with an
    // error page, that reported neither a length nor the file, or that sent less than it
    // announced.
    QString failure;
    if (!result.complete())
        failure = TransferFailureReason(result, needs_.resolve.limits);
    else if (result.status >= 400)
        failure = HttpStatusReason(int(result.status));
    else if (item->ExpectedBytes < 0 && !item->FileReported)
        failure = QStringLiteral("The server reported neither the file nor its length.");
    else if (item->ExpectedBytes >= 0 && result.bytes < item->ExpectedBytes)
        failure = QStringLiteral("The server sent only %1 of the %2 bytes it announced.")
                      .arg(Bytes(result.bytes), Bytes(item->ExpectedBytes));
    if (!failure.isEmpty()) {
        RemovePartialFile();
        End(EntryState::Error, failure);
        return;
    }
    // The finished file takes the entry's name as it is now (the user may have renamed it
    // meanwhile), or the first free numbered form of it; the entry shows the name written.
    QString why;
    const QString finalName = PartialFile::Finish(folder_, partName_, item->FileName, &why);
    if (finalName.isEmpty()) {
        RemovePartialFile();
        End(EntryState::Error, why);
        return;
    }
    ::close(partFd_);
    partFd_ = -1;
    partName_.clear();
    needs_.list.SetFileName(key_, finalName);
    needs_.list.SetSavedPath(key_, QDir(folder_.path()).filePath(finalName));
    End(EntryState::Complete);
}

void EntryDownload::RemovePartialFile() {
    if (partFd_ >= 0)
        ::close(partFd_);
    partFd_ = -1;
    if (!partName_.isEmpty())
        PartialFile::Remove(folder_, partName_);
    partName_.clear();
}

void EntryDownload::End(EntryState state, const QString& reason) {
    if (ended_)
        return;
    ended_ = true;
    if (!dropped_ && needs_.list.EntryByKey(key_)) {
        needs_.list.SetState(key_, state);
        needs_.list.SetReason(key_, reason);
        needs_.list.SetTransferNote(key_, QString());
        needs_.list.FillDownloadList();
    }
    emit Finished(key_, dropped_ ? EntryState::Cancelled : state);
}

} // namespace orvello
