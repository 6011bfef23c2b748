#include "resolve/PageDriver.h"

#include "resolve/Extractors.h"
#include "resolve/Sites.h"
#include "resolve/YoutubeRedirect.h"
#include "transfer/HeaderBlock.h"
#include "transfer/TransferJob.h"

#include <algorithm>
#include <cmath>

namespace orvello {

namespace {
// A page's progress comes in blocks of this size, each shown with a refill of the list.
constexpr std::size_t kPageBlock = 2048;
} // namespace

PageDriver::PageDriver(quint64 key, const ResolveNeeds& needs, QObject* parent)
    : QObject(parent), key_(key), needs_(needs) {}

PageDriver::~PageDriver() {
    if (page_)
        page_->cancel();
}

void PageDriver::GetDownloadLink(const QString& sLink, int32_t siteCode) {
    reason_.clear();
    sLink_ = sLink;
    site_ = siteCode;
    done_ = false;
    stopped_ = false;
    mayPass_ = false;
    retryAfter_ = -1;
    if (siteCode == kSiteNotSupported) {
        reason_ = kSiteNotSupportedReason;
        QMetaObject::invokeMethod(
            this, [this] { Found(kNotSupported); }, Qt::QueuedConnection);
        return;
    }
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToMemory;
    request.url = sLink;
    request.limits = needs_.limits;
    request.limits.maxBytes = std::min<std::int64_t>(request.limits.maxBytes, kMaxPageBytes);
    request.cookieFile = needs_.cookieFile;
    request.block = kPageBlock;
    auto* job = new TransferJob(needs_.session, key_, request, this);
    page_ = job;
    // A page's progress is measured against the page's own length.
    connect(job, &TransferJob::progress, this, [this, job](quint64, qint64 bytes) {
        if (!needs_.purpose)
            return;
        const qint64 length = job->responseLength();
        const qint64 value =
            length > 0 ? qint64(std::nearbyint(double(bytes) / double(length) * 100)) : bytes;
        needs_.purpose->PageProgress(key_, qint32(std::min<qint64>(value, INT32_MAX)));
    });
    connect(job, &TransferJob::finished, this, [this, job](quint64, const TransferResult& result) {
        job->deleteLater();
        PageFetched(result);
    });
    job->start();
}

void PageDriver::Stop() {
    if (done_)
        return;
    stopped_ = true;
    if (page_ && page_->running()) {
        page_->cancel(); // its end comes as a failed fetch
        return;
    }
    if (redirect_ && redirect_->Resolving())
        redirect_->Stop(); // resolves to nothing
}

// The fetch decides by its own end: only a page that came whole is read. A cancelled one (a
// stop) counts as failed even when every byte had arrived.
void PageDriver::PageFetched(const TransferResult& result) {
    mayPass_ = !stopped_ && MayPass(result);
    retryAfter_ = RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
    if (!result.complete()) {
        if (!result.cancelled())
            reason_ = result.failure == TransferFailure::TooLarge
                          ? QStringLiteral("The page was larger than the %1 MiB a page may have.")
                                .arg(kMaxPageBytes >> 20)
                          : TransferFailureReason(result, needs_.limits);
        Found(kFetchFailed);
        return;
    }
    status_ = result.status;
    // A server that answers its page with "try later" (503 and the like) has given no page.
    if (mayPass_) {
        reason_ = HttpStatusReason(int(status_));
        Found(kFetchFailed);
        return;
    }
    if (needs_.purpose)
        needs_.purpose->PageComplete(key_);
    const QString link = RunExtractor(site_, sLink_, PageText(result.body));
    const SiteEntry* site = FindSite(site_);
    if (link.isEmpty() || !site || !site->redirect) {
        Found(link);
        return;
    }
    auto* redirect = new YoutubeRedirect(needs_.prompter, this);
    redirect_ = redirect;
    redirect->RemotePort = needs_.redirectPort;
    redirect->WaitTimeout = needs_.redirectWait;
    connect(redirect, &YoutubeRedirect::Resolved, this, [this, redirect](const QString& found) {
        redirect->deleteLater();
        Found(found);
    });
    redirect->GetYoutubePathLnik(link);
}

void PageDriver::Found(const QString& result) {
    if (done_)
        return;
    done_ = true;
    QString answer = result;
    if (answer.isEmpty()) {
        answer = kNoLink;
        reason_ = status_ >= 400 ? HttpStatusReason(int(status_))
                                 : QStringLiteral("The page held no video.");
    }
    if (stopped_)
        reason_.clear(); // a stop is no failure
    emit LinkFound(key_, answer);
}

} // namespace orvello
