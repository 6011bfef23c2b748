// Download benchmark: serves a large file from a private nginx on loopback and fetches it
// once with the curl command line and once with Download, whose progress handler does the
// queue runner's per-block work (percentage text into the entry and its grid cell). Prints
// both throughputs, their ratio, the longest stretch without a 5 ms timer tick during the
// Download transfer, and the process's peak memory before and during the transfer.
#include "BenchSupport.h"

#include "common/DownloadItem.h"
#include "common/RunState.h"
#include "list/DownloadTableModel.h"
#include "list/Formatting.h"
#include "transfer/Download.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <vector>

#include <sys/resource.h>

using namespace orvello;
using namespace orvello::bench;

namespace {

struct DownloadResult : SideRun {
    bool ok = false;
    double cpuSeconds = 0;
    long long progressEvents = 0;
    long long cellWrites = 0;
    qint32 lastProgress = -1;
};

DownloadResult runDownload(const QString& url, const QString& out) {
    DownloadResult r;
    QFile::remove(out);

    // What the run has at hand while a video transfer runs: the entry being downloaded and the
    // grid's display copy of the list with its row.
    const bool stopRequested = false;
    DownloadItem item;
    item.ID = 1;
    item.Video_URL = url;
    item.FileName = QFileInfo(out).fileName();
    item.Status = EntryText::Waiting;
    DownloadTableModel model;
    const int row = 0;

    Download download;
    download.setUrl(url);
    download.setLocalFile(out);
    download.RequestInformation();
    if (!download.FileExists() || download.FileSize() <= 0) {
        r.problem = QStringLiteral("the header request found no file at ") + url;
        return r;
    }
    item.FileSize = FormatFileSize(download.FileSize());
    DownloadTableModel::Record record;
    record.ID = int(item.ID);
    record.Video_URL = item.Video_URL;
    record.FileName = item.FileName;
    record.Status = item.Status;
    record.FileSize = item.FileSize;
    model.appendRecord(record);

    qint32 shown = std::numeric_limits<qint32>::min();
    QObject::connect(
        &download, &Download::DownloadProgress, &download,
        [&](qint32& lProgress) {
            ++r.progressEvents;
            r.lastProgress = lProgress;
            if (stopRequested)
                download.CancelDownload();
            if (lProgress == shown)
                return; // the text would not change
            shown = lProgress;
            item.Status = item.FileSize == QLatin1String("0")
                              ? FormatFileSize(float(lProgress)) + QStringLiteral("so far..")
                              : QString::number(lProgress);
            model.setCellText(row, DownloadTableModel::ColStatus, item.Status);
            ++r.cellWrites;
        },
        Qt::DirectConnection);
    QString error;
    QObject::connect(
        &download, &Download::DownloadError, &download,
        [&](const QString& description) { error = description; }, Qt::DirectConnection);

    GapMeter gaps(r.progressEvents);
    resetPeakMemory();
    r.hwmBeforeKiB = procStatusKiB("VmHWM");
    const double cpuBefore = cpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    gaps.start();
    clock.start();
    const bool completed = download.StartDownload();
    r.seconds = double(clock.nsecsElapsed()) / 1e9;
    gaps.stop();
    r.cpuSeconds = cpuSeconds(RUSAGE_SELF) - cpuBefore;
    r.hwmAfterKiB = procStatusKiB("VmHWM");
    r.gap = gaps.longest();
    r.gapText = gaps.describe("blocks");

    if (!completed) {
        r.problem = QStringLiteral("the transfer did not complete: ") +
                    (error.isEmpty() ? QStringLiteral("no error reported") : error);
        return r;
    }
    if (model.cellText(row, DownloadTableModel::ColStatus) != item.Status) {
        r.problem = QStringLiteral("the status cell was not written");
        return r;
    }
    r.ok = true;
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    return compareWithCurl(
        app.arguments(),
        {"download_bench", "Download benchmark", "Download", "transfer",
         [](test::NginxServer&, qint64, const QString&) { return true; },
         [](test::NginxServer& server, const Options& options, qint64 size, std::uint64_t seed,
            const QString& url) -> SideRun {
             const QString downloadOut = server.scratchDir() + QStringLiteral("/download.out");
             DownloadResult d = runDownload(url, downloadOut);
             if (d.ok)
                 d.problem = checkFile(downloadOut, size, seed, options.verifyContent);
             QFile::remove(downloadOut);
             printLine(QStringLiteral("  Download  %1 MB/s  (%2 s, CPU %3 s)  %4; %5 progress "
                                      "events, last %6%, %7 cell writes")
                           .arg(mbPerSecond(size, d.seconds), 8, 'f', 1)
                           .arg(d.seconds, 0, 'f', 3)
                           .arg(d.cpuSeconds, 0, 'f', 3)
                           .arg(d.problem.isEmpty() ? QStringLiteral("file ok")
                                                    : QStringLiteral("FAILED: ") + d.problem)
                           .arg(d.progressEvents)
                           .arg(d.lastProgress)
                           .arg(d.cellWrites));
             return d;
         }});
}
