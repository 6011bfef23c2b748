#pragma once

#include <QObject>
#include <QString>

namespace orvello {

class Download;
class PageDriver;
class modMain;
struct RunState;

// Turns the transfer component's events into the running entry's status text, passes a
// stop request on to the transfer, and records the outcome of the last transfer for the
// page fetch. Connected directly, so the handlers run inside the transfer loop, in order.
class TransferEvents : public QObject {
    Q_OBJECT
public:
    TransferEvents(Download& download, PageDriver& pages, RunState& run, modMain& list);

    // During a page fetch: "Preparing (n%)" (or "Preparing..." once the value is a byte
    // count past 100), and the list is refilled. During a video transfer: the percentage,
    // or the amount "so far.." when the size is unknown, written into the entry and its
    // one grid cell only.
    void Download_DownloadProgress(qint32& lProgress);
    void Download_DownloadComplete();
    void Download_DownloadError(const QString& sErrorDescription);

private:
    Download& download_;
    PageDriver& pages_;
    RunState& run_;
    modMain& list_;

    // The text of the last video progress value, so the common case (the same value as the
    // block before) builds no new text.
    qint32 lastProgress_ = -1;
    bool lastSoFar_ = false;
    QString lastText_;
};

} // namespace orvello
