#include "scheduler/TransferEvents.h"

#include "common/RunState.h"
#include "list/Formatting.h"
#include "list/modMain.h"
#include "resolve/PageDriver.h"
#include "transfer/Download.h"

namespace orvello {

TransferEvents::TransferEvents(Download& download, PageDriver& pages, RunState& run, modMain& list)
    : download_(download), pages_(pages), run_(run), list_(list) {
    connect(&download, &Download::DownloadProgress, this,
            &TransferEvents::Download_DownloadProgress, Qt::DirectConnection);
    connect(&download, &Download::DownloadComplete, this,
            &TransferEvents::Download_DownloadComplete, Qt::DirectConnection);
    connect(&download, &Download::DownloadError, this, &TransferEvents::Download_DownloadError,
            Qt::DirectConnection);
}

void TransferEvents::Download_DownloadProgress(qint32& lProgress) {
    if (run_.bStopRequested)
        download_.CancelDownload(); // the transfer ends cancelled right after this handler
    DownloadItem* item = list_.EntryAt(run_.iCurrentItem);
    const modMain::RowRef& row = list_.CurrentRow;

    if (pages_.bPreparing) {
        const QString text = lProgress <= 100 ? QStringLiteral("Preparing (%1%)").arg(lProgress)
                                              : QStringLiteral("Preparing...");
        if (item)
            item->Status = text;
        if (!row.isNone())
            row.model->setCellText(row.row, DownloadTableModel::ColStatus, text);
        list_.FillDownloadList();
        return;
    }

    if (!item)
        return; // the entry is gone: nothing to show the progress in
    const bool soFar = item->FileSize == QLatin1String("0");
    if (lProgress != lastProgress_ || soFar != lastSoFar_ || lastText_.isEmpty()) {
        lastText_ = soFar ? FormatFileSize(float(lProgress)) + QStringLiteral("so far..")
                          : QString::number(lProgress);
        lastProgress_ = lProgress;
        lastSoFar_ = soFar;
    }
    if (item->Status == lastText_)
        return; // nothing changes on screen
    item->Status = lastText_;
    if (!row.isNone())
        row.model->setCellText(row.row, DownloadTableModel::ColStatus, lastText_);
}

void TransferEvents::Download_DownloadComplete() {
    if (pages_.bPreparing) {
        // Shown at the next refill of the list.
        if (DownloadItem* item = list_.EntryAt(run_.iCurrentItem))
            item->Status = EntryText::StartDownloading;
    }
    pages_.sDownloadResult = QStringLiteral("1");
}

void TransferEvents::Download_DownloadError(const QString& sErrorDescription) {
    pages_.sDownloadResult = sErrorDescription;
}

} // namespace orvello
