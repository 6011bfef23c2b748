#pragma once

#include "common/DownloadItem.h"
#include "resolve/PageDriver.h"
#include "transfer/HeaderBlock.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>

namespace orvello {

class TransferJob;

// What the resolution and the run need of the download list: its entries by identity (an
// entry keeps its Key however the list is edited while events run), and the changes they
// make, which the list keeps track of for its next fill.
class EntryList {
public:
    virtual ~EntryList() = default;
    // The entry with this identity, or nullptr when it is gone (now).
    virtual const DownloadItem* EntryByKey(quint64 key) const = 0;
    // Puts the entry in a state; its status text is rendered from it.
    virtual void SetState(quint64 key, EntryState state, qint64 progress = 0) = 0;
    virtual void SetFileName(quint64 key, const QString& name) = 0;
    virtual void SetFileSize(quint64 key, const QString& sizeText, qint64 expectedBytes,
                             bool fileReported) = 0;
    virtual void SetVideoUrl(quint64 key, const QString& url) = 0;
    // Why the entry ended "ERROR", in words a user understands.
    virtual void SetReason(quint64 key, const QString& reason) = 0;
    // Rebuilds what the grid shows from the list.
    virtual bool FillDownloadList() = 0;
};

// The local name and the size text worked out for a video file.
struct LocalFileInfo {
    QString FileName;
    QString SizeText;
    qint64 ExpectedBytes = -1; // the length the server announced; -1 when it gave none
    bool FileReported = false; // the server reported the file as there
};

// Works out the local name and size text of a video file from its server's answer to the
// header request. A video found on a page of no known site comes with the raw name made from
// the page (foundName), which then stands for the server's name and the address's.
class FileNamer {
public:
    virtual ~FileNamer() = default;
    virtual LocalFileInfo MakeLocalFileName(const QString& url, int32_t siteCode,
                                            const HeaderValues& header,
                                            const QString& foundName = QString()) = 0;
};

// Resolves one entry of the download list to the address of its video file, writing the
// outcome into the entry in the words the list shows: "Preparing (0%)", the page fetch and
// its extraction (PageDriver), then the header request for the file and its local name and
// size. ResolveEntry starts and returns at once; Resolved follows with the file's address,
// or "-1" when there is nothing to download (the entry then shows "ERROR", or is gone, or the
// resolution was stopped). On success the entry's size text is replaced, and its file name
// too while it still holds the placeholder: a name the user typed survives. The entry is
// found by its identity at every step, wherever the user moved it meanwhile.
class EntryResolver : public QObject {
    Q_OBJECT
public:
    EntryResolver(quint64 key, EntryList& list, const ResolveNeeds& needs, FileNamer& naming,
                  QObject* parent = nullptr);
    ~EntryResolver() override;

    void ResolveEntry();
    // Stops whatever request runs; Resolved follows with "-1" and nothing more is written.
    void Stop();
    quint64 key() const { return key_; }
    // After a failed resolution: whether it may pass when tried again a little later (the page
    // or the header request refused, broken off, too slow, or answered "try later"), and the
    // wait its server asked for (seconds; -1 for none).
    bool MayPassLater() const { return mayPass_; }
    qint64 RetryAfter() const { return retryAfter_; }
    // The final answer's header block of the header request for the file (its validators).
    const QByteArray& FileHeaders() const { return fileHeaders_; }
    // The page a video was found on (a page of no known site), sent as Referer for the file;
    // empty otherwise.
    const QString& Referer() const { return referer_; }
    // Whether the link is an HLS playlist (a page of no known site): no header request is made
    // for it, and its name is left to the stream's download, which knows its container; the
    // page's title for that name (empty without one).
    bool Hls() const { return hls_; }
    const QString& FoundTitle() const { return title_; }

signals:
    void Resolved(quint64 key, const QString& link);

private:
    void OnLink(const QString& link);
    void OnHead(const QString& link, const TransferResult& answer);
    void Done(const QString& link);

    const quint64 key_;
    EntryList& list_;
    const ResolveNeeds& needs_;
    FileNamer& naming_;
    PageDriver* pages_ = nullptr;
    QPointer<TransferJob> head_;
    bool stopped_ = false;
    bool done_ = false;
    bool mayPass_ = false;
    qint64 retryAfter_ = -1;
    QByteArray fileHeaders_;
    QString referer_;
    QString title_;
    bool hls_ = false;
};

} // namespace orvello
