#include "scheduler/QueueRunner.h"

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "transfer/Download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace orvello {

namespace {

// Deletes an earlier file of that name, read-only or not, so the download starts from its
// first byte. A folder of that name is never deleted (the transfer then fails to open it).
void RemoveOldFile(const QString& path) {
    const QFileInfo info(path);
    if ((!info.exists() && !info.isSymLink()) || (info.isDir() && !info.isSymLink()))
        return;
    QFile file(path);
    if (!file.remove()) {
        file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
        file.remove();
    }
}

bool IsDone(const QString& status) {
    return status == EntryText::Complete || status == EntryText::Error;
}

// Sets and clears the run flags around a run, also when a handler throws through it.
struct RunScope {
    RunState& run;
    explicit RunScope(RunState& r) : run(r) {
        run.bStopRequested = false;
        run.bDownloading = true;
    }
    ~RunScope() {
        run.currentKey = 0;
        run.bDownloading = false;
    }
};

} // namespace

QueueRunner::QueueRunner(RunState& run, modMain& list, EntryResolver& resolver, Download& download,
                         UiVariables& ui, const ProgramSettings& settings)
    : run_(run), list_(list), resolver_(resolver), download_(download), ui_(ui),
      settings_(settings) {}

void QueueRunner::StartDownloading() {
    if (ui_.sCurrentTab == QLatin1String("About"))
        ui_.SetUiVariable(QStringLiteral("_root.downloadBtnTab"), QStringLiteral("1"));
    // The folder itself is created, not missing parents. One that can't be created makes
    // each transfer fail to open its file, and each entry ends "ERROR".
    if (!settings_.sDownloadDir.isEmpty() && !QFileInfo(settings_.sDownloadDir).isDir())
        QDir().mkdir(settings_.sDownloadDir);

    RunScope scope(run_);
    // The position is compared with the list's length as it is now, so entries added during
    // the run are reached, also after the last earlier entry was passed over.
    int next = 0;
    while (DownloadItem* item = list_.EntryAt(int16_t(next))) {
        if (IsDone(item->Status)) {
            ++next;
            continue;
        }
        run_.iCurrentItem = int16_t(next);
        run_.currentKey = item->Key;
        list_.FindCurrentRow();

        const QString link = resolver_.ResolveEntry(run_.iCurrentItem);
        list_.FillDownloadList();
        // A stop during the resolution ends the run at once, as one during a transfer does.
        if (run_.bStopRequested) {
            FinishCurrent(EntryText::Cancelled);
            return;
        }
        const DownloadItem* resolved = list_.EntryAt(run_.iCurrentItem);
        if (resolved && resolved->Status != EntryText::Error && !DownloadCurrent(link))
            return;
        // Go on after the entry where it stands now; if it was removed, its place holds the
        // entry that followed it.
        next = run_.iCurrentItem >= 0 ? run_.iCurrentItem + 1 : next;
    }
}

bool QueueRunner::DownloadCurrent(const QString& link) {
    if (settings_.sDownloadDir.isEmpty()) {
        // No folder at all: a bare name would land in whatever folder the program runs in.
        FinishCurrent(EntryText::Error);
        return true;
    }
    const DownloadItem* item = list_.EntryAt(run_.iCurrentItem);
    const QString path = QDir(settings_.sDownloadDir).filePath(item->FileName);
    download_.setUrl(link);
    download_.setLocalFile(path);
    RemoveOldFile(path);
    list_.FindCurrentRow();
    bool writeFailed = false;
    const QMetaObject::Connection watch =
        QObject::connect(&download_, &Download::DownloadError, [&](const QString& why) {
            writeFailed = why.startsWith(QLatin1String("Could not write file"));
        });
    const bool complete = download_.StartDownload();
    QObject::disconnect(watch);
    // A file that could not be written holds only part of the video and takes the room the
    // next entries need on a full disk: it goes.
    if (!complete && writeFailed)
        QFile::remove(path);

    if (run_.bStopRequested) {
        FinishCurrent(EntryText::Cancelled);
        return false;
    }
    // A transfer that did not complete failed, whatever the size text says; so did one whose
    // server answered with an error page, which must not stay under the video's name.
    const int status = download_.ResponseCode();
    if (complete && status >= 400)
        QFile::remove(path);
    item = list_.EntryAt(run_.iCurrentItem);
    const bool noFile = item && item->FileSize.startsWith(QLatin1String("-1"));
    FinishCurrent(complete && status < 400 && !noFile ? EntryText::Complete : EntryText::Error);
    return true;
}

void QueueRunner::RemovePartialFile() {
    if (!partialPath_.isEmpty())
        QFile::remove(partialPath_);
    partialPath_.clear();
}

void QueueRunner::FinishCurrent(const QString& status) {
    if (DownloadItem* item = list_.EntryAt(run_.iCurrentItem))
        item->Status = status;
    list_.FillDownloadList();
}

} // namespace orvello
