#pragma once

#include "transfer/TransferResult.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <cstdint>

namespace orvello {

class CurlSession;
class Prompter;
class TransferJob;
class YoutubeRedirect;

// Whoever shows a page fetch's progress: the transfer-event handling, told of each entry's
// page by the entry's key.
class TransferPurpose {
public:
    virtual ~TransferPurpose() = default;
    // The page's progress: a percentage of its own length, or the bytes so far without one.
    virtual void PageProgress(quint64 key, qint32 lProgress) = 0;
    // The whole page has come.
    virtual void PageComplete(quint64 key) = 0;
};

// How often, and after how long, a download that failed in a way that may pass is tried
// again: the first wait, then twice as long each time; a server's Retry-After counts up to the
// longest wait.
struct RetryPolicy {
    int tries = 5;
    std::chrono::milliseconds firstWait{1000};
    std::chrono::milliseconds longestWait{120000};
};

// What the page fetches, the header requests and the redirects of a run share.
struct ResolveNeeds {
    CurlSession& session;
    Prompter& prompter;
    TransferPurpose* purpose = nullptr;
    Limits limits;
    QByteArray cookieFile;                         // read for every request; empty for none
    quint16 redirectPort = 80;                     // YoutubeRedirect::RemotePort
    std::chrono::milliseconds redirectWait{30000}; // YoutubeRedirect::WaitTimeout
    RetryPolicy retry;
};

// Turns a video page's address into the address of its video file: fetches the page into
// memory (at most 8 MiB), runs the site's extractor over it and, for a site whose files are
// reached through a redirect, the redirect resolution. One entry's page: GetDownloadLink
// starts it and returns at once; LinkFound follows with the file's address or one of the
// three codes.
class PageDriver : public QObject {
    Q_OBJECT
public:
    // The three failure results of GetDownloadLink.
    static inline const QString kNotSupported = QStringLiteral("-1"); // no site: nothing fetched
    static inline const QString kFetchFailed = QStringLiteral("-2");  // the fetch did not complete
    static inline const QString kNoLink = QStringLiteral("0");        // the page named no file
    // A page of no known site (kSiteGeneric) that gives nothing to download: the reason says
    // why (no video, a stream that is not downloaded, a browser check, ...).
    static inline const QString kNoMedia = QStringLiteral("-3");

    // The largest page that is read; a larger one fails its fetch.
    static constexpr qint64 kMaxPageBytes = qint64(8) << 20;

    PageDriver(quint64 key, const ResolveNeeds& needs, QObject* parent = nullptr);
    ~PageDriver() override;

    // Starts on the page at sLink, whose site is siteCode (IdentifySite, found once).
    void GetDownloadLink(const QString& sLink, int32_t siteCode);
    // Stops the fetch or the redirect at once; LinkFound follows with kFetchFailed (or kNoLink
    // during the redirect), and no reason.
    void Stop();

    // Why the last GetDownloadLink gave no link, in words a user understands; empty after a
    // link, and after a stop.
    const QString& LastFailureReason() const { return reason_; }
    // Whether the last failed fetch may pass when tried again (kFetchFailed: refused, broken
    // off, too slow, or the page answered 408, 429 or 5xx), and the wait its server asked for
    // (Retry-After, seconds; -1 for none).
    bool MayPassLater() const { return mayPass_; }
    qint64 RetryAfter() const { return retryAfter_; }
    // After a link to a video found on a page of no known site: the page's address, sent as
    // Referer for the file, and the page's title for its name; both empty otherwise (also
    // when the page's address answered with the file itself).
    const QString& Referer() const { return referer_; }
    const QString& FoundTitle() const { return title_; }
    // After a link from a page of no known site: whether it is an HLS playlist (the page's
    // answer itself, or one named on the page), whose stream is downloaded segment by segment.
    bool Hls() const { return hls_; }

signals:
    void LinkFound(quint64 key, const QString& result);

private:
    // Why a page's fetch did not complete, in words a user understands.
    QString FetchFailureReason(const TransferResult& result) const;
    void Fetch(const QString& address);
    void PageFetched(const TransferResult& result);
    // A page of no known site: the file itself, a video on it, its refresh, or a miss.
    void GenericFetched(const TransferResult& result);
    void Found(const QString& result);

    const quint64 key_;
    const ResolveNeeds& needs_;
    QString sLink_;
    QString fetched_; // the page fetched last: sLink_, or the target of its meta refresh
    int32_t site_ = -1;
    QPointer<TransferJob> page_;
    QPointer<YoutubeRedirect> redirect_;
    QString reason_;
    QString referer_;
    QString title_;
    bool refreshed_ = false;  // a generic page's meta refresh has been followed
    bool fileAnswer_ = false; // a generic page answered with the file itself
    bool hls_ = false;        // the link is an HLS playlist
    long status_ = 0;         // the page's HTTP status
    bool mayPass_ = false;
    qint64 retryAfter_ = -1;
    bool done_ = false;
    bool stopped_ = false;
};

} // namespace orvello
