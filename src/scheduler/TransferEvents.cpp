#include "scheduler/TransferEvents.h"

#include "common/RunState.h"
#include "list/modMain.h"
#include "transfer/Download.h"

namespace orvello {

TransferEvents::TransferEvents(Download& download, RunState& run, modMain& list)
    : download_(download), run_(run), list_(list) {
    connect(&download, &Download::DownloadProgress, this,
            &TransferEvents::Download_DownloadProgress, Qt::DirectConnection);
    connect(&download, &Download::DownloadComplete, this,
            &TransferEvents::Download_DownloadComplete, Qt::DirectConnection);
}

void TransferEvents::BeginPageFetch() {
    kind_ = Kind::PageFetch;
}

void TransferEvents::BeginVideo(qint64 expectedBytes, bool fileReported) {
    kind_ = Kind::Video;
    soFar_ = expectedBytes < 0 && fileReported;
}

void TransferEvents::EndTransfer() {
    kind_ = Kind::None;
}

void TransferEvents::Download_DownloadProgress(qint32& lProgress) {
    if (run_.bStopRequested)
        download_.CancelDownload(); // the transfer ends cancelled right after this handler
    switch (kind_) {
    case Kind::PageFetch:
        list_.ShowRunningStatus(run_.currentKey, EntryState::Preparing,
                                lProgress <= 100 ? lProgress : -1);
        list_.FillDownloadList();
        break;
    case Kind::Video:
        list_.ShowRunningStatus(run_.currentKey,
                                soFar_ ? EntryState::TransferringUnsized : EntryState::Transferring,
                                lProgress);
        break;
    case Kind::None:
        break; // a transfer nobody announced shows nothing
    }
}

void TransferEvents::Download_DownloadComplete() {
    // Shown at the next refill of the list.
    if (kind_ == Kind::PageFetch)
        list_.SetState(run_.currentKey, EntryState::StartDownloading);
}

} // namespace orvello
