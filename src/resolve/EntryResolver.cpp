#include "resolve/EntryResolver.h"

#include "resolve/Sites.h"
#include "resolve/generic/GenericName.h"
#include "transfer/HeadRequest.h"
#include "transfer/TransferJob.h"

namespace orvello {

EntryResolver::EntryResolver(quint64 key, EntryList& list, const ResolveNeeds& needs,
                             FileNamer& naming, QObject* parent)
    : QObject(parent), key_(key), list_(list), needs_(needs), naming_(naming) {}

EntryResolver::~EntryResolver() {
    if (head_)
        head_->cancel();
}

void EntryResolver::ResolveEntry() {
    if (list_.EntryByKey(key_)) {
        list_.SetState(key_, EntryState::Preparing, 0);
        list_.FillDownloadList(); // shown before the fetch starts
    }
    // The list's observers may have changed the list meanwhile: the entry is found again.
    const DownloadItem* item = list_.EntryByKey(key_);
    if (!item) {
        QMetaObject::invokeMethod(
            this, [this] { Done(PageDriver::kNotSupported); }, Qt::QueuedConnection);
        return;
    }
    const QString page = item->Video_URL;
    pages_ = new PageDriver(key_, needs_, this);
    connect(pages_, &PageDriver::LinkFound, this,
            [this](quint64, const QString& link) { OnLink(link); });
    pages_->GetDownloadLink(page, item->SiteCode);
}

void EntryResolver::Stop() {
    if (done_ || stopped_)
        return;
    stopped_ = true;
    if (head_ && head_->running()) {
        head_->cancel();
        return;
    }
    if (pages_)
        pages_->Stop();
}

// The page's answer: a code, with the reason that goes with it, or the file's address, which
// the header request asks about next.
void EntryResolver::OnLink(const QString& link) {
    const QString nothing = PageDriver::kNotSupported;
    if (stopped_ || !list_.EntryByKey(key_)) {
        Done(nothing); // stopped, or the entry went meanwhile: nothing is written
        return;
    }
    if (link == PageDriver::kNotSupported || link == PageDriver::kNoLink ||
        link == PageDriver::kFetchFailed || link == PageDriver::kNoMedia)
        list_.SetReason(key_, pages_->LastFailureReason());
    if (link == PageDriver::kNotSupported) {
        list_.SetState(key_, EntryState::Error);
        list_.SetFileName(key_, EntryText::UnsupportedLink);
        Done(nothing);
        return;
    }
    if (link == PageDriver::kNoLink) {
        list_.SetFileName(key_, EntryText::ProcessFailed);
        list_.SetState(key_, EntryState::Error);
        list_.SetVideoUrl(key_, EntryText::Inappropriate);
        Done(nothing);
        return;
    }
    if (link == PageDriver::kNoMedia) {
        list_.SetState(key_, EntryState::Error);
        Done(nothing);
        return;
    }
    if (link == PageDriver::kFetchFailed) {
        mayPass_ = pages_->MayPassLater();
        retryAfter_ = pages_->RetryAfter();
        list_.SetState(key_, EntryState::Error);
        Done(nothing);
        return;
    }

    referer_ = pages_->Referer();
    if (pages_->Hls()) {
        hls_ = true;
        title_ = pages_->FoundTitle();
        Done(link);
        return;
    }
    TransferJob::Request request;
    request.kind = TransferJob::Kind::Head;
    request.url = link;
    request.limits = needs_.limits;
    request.cookieFile = needs_.cookieFile;
    request.referer = referer_.toUtf8();
    auto* job = new TransferJob(needs_.session, key_, request, this);
    head_ = job;
    connect(job, &TransferJob::finished, this,
            [this, job, link](quint64, const TransferResult& answer) {
                job->deleteLater();
                OnHead(link, answer);
            });
    job->start();
}

void EntryResolver::OnHead(const QString& link, const TransferResult& answer) {
    const DownloadItem* item = list_.EntryByKey(key_);
    if (stopped_ || !item) {
        Done(PageDriver::kNotSupported);
        return;
    }
    // A server that holds the header request past its time holds the file too: the entry
    // fails now rather than after a second wait as long.
    if (answer.failure == TransferFailure::TooSlow) {
        mayPass_ = true;
        list_.SetState(key_, EntryState::Error);
        list_.SetReason(key_, TransferFailureReason(answer, needs_.limits));
        Done(PageDriver::kNotSupported);
        return;
    }
    fileHeaders_ = answer.headerBlock;
    // A video found on a page is named from the page's title, else from its address.
    const QString found =
        referer_.isEmpty()
            ? QString()
            : GenericFileName(pages_->FoundTitle(), link,
                              ExtensionFor(link, HeaderField(answer.headerBlock, "Content-Type")));
    const LocalFileInfo info =
        naming_.MakeLocalFileName(link, item->SiteCode, ReadHeadAnswer(answer), found);
    if (item->FileName == EntryText::AutoDetect)
        list_.SetFileName(key_, info.FileName);
    list_.SetFileSize(key_, info.SizeText, info.ExpectedBytes, info.FileReported);
    Done(link);
}

void EntryResolver::Done(const QString& link) {
    if (done_)
        return;
    done_ = true;
    emit Resolved(key_, link);
}

} // namespace orvello
