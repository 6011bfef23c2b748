#include "resolve/PageDriver.h"

#include "resolve/Extractors.h"
#include "resolve/Sites.h"
#include "resolve/YoutubeRedirect.h"
#include "resolve/generic/GenericAnswer.h"
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
    referer_.clear();
    title_.clear();
    refreshed_ = false;
    fileAnswer_ = false;
    hls_ = false;
    if (siteCode == kSiteNotSupported) {
        reason_ = kSiteNotSupportedReason;
        QMetaObject::invokeMethod(
            this, [this] { Found(kNotSupported); }, Qt::QueuedConnection);
        return;
    }
    Fetch(sLink);
}

void PageDriver::Fetch(const QString& address) {
    fetched_ = address;
    TransferJob::Request request;
    request.kind = TransferJob::Kind::ToMemory;
    request.url = address;
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
    if (site_ == kSiteGeneric) {
        // An address that answers with a file is not read into memory: its type says so
        // before any of its body comes.
        connect(job, &TransferJob::opening, this, [this, job](quint64) {
            const long status = job->status();
            if (status < 200 || status >= 300)
                return;
            const QByteArray type =
                HeaderField(job->headerBlock(), "Content-Type").trimmed().toLower();
            // An "audio/mpegurl" answer is a playlist, which is read.
            if ((type.startsWith("video/") || type.startsWith("audio/")) &&
                !type.contains("mpegurl")) {
                fileAnswer_ = true;
                job->cancel();
            }
        });
    }
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
QString PageDriver::FetchFailureReason(const TransferResult& result) const {
    return result.failure == TransferFailure::TooLarge
               ? QStringLiteral("The page was larger than the %1 MiB a page may have.")
                     .arg(kMaxPageBytes >> 20)
               : TransferFailureReason(result, needs_.limits);
}

void PageDriver::PageFetched(const TransferResult& result) {
    if (site_ == kSiteGeneric && !stopped_) {
        GenericFetched(result);
        return;
    }
    mayPass_ = !stopped_ && MayPass(result);
    retryAfter_ = RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
    if (!result.complete()) {
        if (!result.cancelled())
            reason_ = FetchFailureReason(result);
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

void PageDriver::GenericFetched(const TransferResult& result) {
    const QString address = result.effectiveUrl.isEmpty() ? result.url : result.effectiveUrl;
    PageInput page;
    page.body = result.body;
    page.contentType = HeaderField(result.headerBlock, "Content-Type");
    page.address = QUrl(address);
    page.challenge =
        HeaderField(result.headerBlock, "cf-mitigated").trimmed().toLower() == "challenge";
    // A file's answer (told by its type, or by its first bytes when it was too large to be a
    // page) is downloaded from the page's own address.
    const bool tooLarge = result.failure == TransferFailure::TooLarge && result.status >= 200 &&
                          result.status < 300 && !result.body.isEmpty();
    if (fileAnswer_ ||
        (tooLarge && ReadGenericAnswer(page).outcome == GenericAnswer::Outcome::File)) {
        if (needs_.purpose)
            needs_.purpose->PageComplete(key_);
        Found(fetched_);
        return;
    }
    mayPass_ = MayPass(result);
    retryAfter_ = RetryAfterSeconds(result.headerBlock, QDateTime::currentDateTimeUtc());
    if (!result.complete()) {
        reason_ = FetchFailureReason(result);
        Found(kFetchFailed);
        return;
    }
    status_ = result.status;
    // A challenge page answers 403 or 503: it is read, so its reason is the one shown.
    if (status_ >= 400 && !page.challenge) {
        reason_ = HttpStatusReason(int(status_));
        Found(kFetchFailed);
        return;
    }
    mayPass_ = false;
    if (needs_.purpose)
        needs_.purpose->PageComplete(key_);
    const GenericAnswer answer = ReadGenericAnswer(page);
    switch (answer.outcome) {
    case GenericAnswer::Outcome::File:
        Found(fetched_);
        return;
    case GenericAnswer::Outcome::Media:
        referer_ = address;
        title_ = answer.title;
        Found(answer.address);
        return;
    case GenericAnswer::Outcome::Hls:
        // The playlist's own address (after redirects: its relative addresses are resolved
        // against it), or the one the page names, with the page as Referer.
        hls_ = true;
        if (!answer.address.isEmpty()) {
            referer_ = address;
            title_ = answer.title;
        }
        Found(answer.address.isEmpty() ? address : answer.address);
        return;
    case GenericAnswer::Outcome::Refresh:
        if (!refreshed_ && IsWebPageAddress(answer.address)) {
            refreshed_ = true;
            Fetch(answer.address);
            return;
        }
        reason_ = kReasonNoVideo;
        Found(kNoMedia);
        return;
    case GenericAnswer::Outcome::Miss:
        break;
    }
    reason_ = answer.reason;
    Found(kNoMedia);
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
