#include "scheduler/TransferEvents.h"

#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/Formatting.h"
#include "list/modMain.h"
#include "transfer/Download.h"

#include <algorithm>
#include <cmath>

namespace orvello {

TransferEvents::TransferEvents(Download& download, RunState& run, modMain& list, UiVariables& ui)
    : download_(download), run_(run), list_(list), ui_(ui) {
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
    expected_ = expectedBytes;
    clock_.start();
    lastMeasured_ = 0;
    lastBytes_ = 0;
    speed_ = -1;
}

void TransferEvents::EndTransfer() {
    if (kind_ == Kind::Video)
        ui_.SetUiVariable(kSpeedVariable, QString());
    kind_ = Kind::None;
}

QString TransferEvents::SpeedNote(double bytesPerSecond, qint64 bytesLeft) {
    QString note = FormatFileSize(float(bytesPerSecond)) + QStringLiteral("/s");
    if (bytesLeft < 0 || bytesPerSecond <= 0)
        return note;
    const qint64 seconds = qint64(std::ceil(double(bytesLeft) / bytesPerSecond));
    QString left;
    if (seconds < 60)
        left = QStringLiteral("%1 s").arg(seconds);
    else if (seconds < 3600)
        left = QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    else
        left = QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    return note + QStringLiteral(", ") + left + QStringLiteral(" left");
}

// At most twice a second: the speed over the time since the last measurement, smoothed
// with the speed before, into the running entry's note and the surface's badge.
void TransferEvents::measureSpeed() {
    const qint64 now = clock_.elapsed();
    if (now - lastMeasured_ < 500)
        return;
    const qint64 bytes = download_.BytesSoFar();
    const double recent = double(bytes - lastBytes_) * 1000.0 / double(now - lastMeasured_);
    speed_ = speed_ < 0 ? recent : 0.7 * speed_ + 0.3 * recent;
    lastMeasured_ = now;
    lastBytes_ = bytes;
    const QString note =
        SpeedNote(speed_, expected_ >= 0 ? std::max<qint64>(expected_ - bytes, 0) : -1);
    list_.ShowTransferNote(run_.currentKey, note);
    ui_.SetUiVariable(kSpeedVariable, note);
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
        measureSpeed();
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
