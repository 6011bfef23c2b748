#include "scheduler/QueueRunner.h"

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/EntryStatus.h"
#include "list/modMain.h"
#include "resolve/EntryResolver.h"
#include "scheduler/PartialFile.h"
#include "scheduler/TransferEvents.h"
#include "transfer/Download.h"

#include <QDir>
#include <QFileInfo>

namespace orvello {

namespace {

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
                         TransferEvents& events, UiVariables& ui, const ProgramSettings& settings)
    : run_(run), list_(list), resolver_(resolver), download_(download), events_(events), ui_(ui),
      settings_(settings) {}

void QueueRunner::StartDownloading() {
    if (ui_.sCurrentTab == QLatin1String("About"))
        ui_.SetUiVariable(QStringLiteral("_root.downloadBtnTab"), QStringLiteral("1"));
    // The folder itself is created, not missing parents. One that can't be created makes
    // each transfer fail to open its file, and each entry ends "ERROR".
    if (!settings_.sDownloadDir.isEmpty() && !QFileInfo(settings_.sDownloadDir).isDir())
        QDir().mkdir(settings_.sDownloadDir);

    RunScope scope(run_);
    tally_ = {};
    // The position is compared with the list's length as it is now, so entries added during
    // the run are reached, also after the last earlier entry was passed over.
    int next = 0;
    while (const DownloadItem* item = list_.EntryAt(int16_t(next))) {
        if (IsFinished(item->State)) {
            ++next;
            continue;
        }
        const quint64 key = item->Key;
        run_.currentKey = key;
        list_.FindCurrentRow();

        const QString link = resolver_.ResolveEntry(key);
        list_.FillDownloadList();
        // A stop during the resolution ends the run at once, as one during a transfer does.
        if (run_.bStopRequested) {
            FinishCurrent(EntryState::Cancelled);
            return;
        }
        const DownloadItem* resolved = list_.EntryByKey(key);
        if (resolved && resolved->State == EntryState::Error)
            ++tally_.failed;
        if (resolved && resolved->State != EntryState::Error && !DownloadCurrent(link))
            return;
        // Go on after the entry where it stands now; if it was removed, its place holds the
        // entry that followed it.
        const int at = list_.IndexOfKey(key);
        next = at >= 0 ? at + 1 : next;
    }
}

bool QueueRunner::DownloadCurrent(const QString& link) {
    const quint64 key = run_.currentKey;
    const QString& folder = settings_.sDownloadDir;
    if (folder.isEmpty()) {
        // No folder at all: a bare name would land in whatever folder the program runs in.
        FinishCurrent(EntryState::Error, QStringLiteral("No download folder is set."));
        return true;
    }
    // The data goes into a partial file of the entry's own, created new: no file in the
    // folder is replaced or written into, and a cut-off download never stands under the
    // name a finished one would have.
    RemovePartialFile();
    QString why;
    const DownloadItem* item = list_.EntryByKey(key);
    const QString startName = item->FileName;
    partialPath_ = PartialFile::Create(folder, startName, &why);
    if (partialPath_.isEmpty()) {
        FinishCurrent(EntryState::Error, why);
        return true;
    }
    download_.setUrl(link);
    download_.setLocalFile(partialPath_);
    list_.FindCurrentRow();
    bool complete = false;
    events_.BeginVideo(item->ExpectedBytes, item->FileReported);
    try {
        complete = download_.StartDownload();
    } catch (...) { // out of a handler: the run ends here, and leaves no partial file
        events_.EndTransfer();
        RemovePartialFile();
        throw;
    }
    events_.EndTransfer();

    if (run_.bStopRequested) {
        RemovePartialFile();
        FinishCurrent(EntryState::Cancelled);
        return false;
    }
    // A transfer that did not complete failed; so did one whose server answered with an
    // error page, or that reported neither a length nor the file.
    item = list_.EntryByKey(key);
    const bool noFile = item && item->ExpectedBytes < 0 && !item->FileReported;
    if (!complete || download_.ResponseCode() >= 400 || noFile) {
        RemovePartialFile();
        FinishCurrent(EntryState::Error,
                      !complete ? download_.FailureReason()
                      : download_.ResponseCode() >= 400
                          ? Download::StatusReason(download_.ResponseCode())
                          : QStringLiteral("The server reported neither the file nor its length."));
        return true;
    }
    // The finished file takes the entry's name as it is now (the user may have renamed it
    // meanwhile), or the first free numbered form of it; the entry shows the name written.
    const QString finalName =
        PartialFile::Finish(partialPath_, folder, item ? item->FileName : startName, &why);
    if (finalName.isEmpty()) {
        RemovePartialFile();
        FinishCurrent(EntryState::Error, why);
        return true;
    }
    partialPath_.clear();
    list_.SetFileName(key, finalName);
    list_.SetSavedPath(key, QDir(folder).filePath(finalName));
    FinishCurrent(EntryState::Complete);
    return true;
}

void QueueRunner::RemovePartialFile() {
    PartialFile::Remove(partialPath_);
    partialPath_.clear();
}

void QueueRunner::FinishCurrent(EntryState state, const QString& reason) {
    if (state == EntryState::Complete)
        ++tally_.complete;
    else if (state == EntryState::Error)
        ++tally_.failed;
    list_.SetState(run_.currentKey, state);
    list_.SetReason(run_.currentKey, reason);
    list_.SetTransferNote(run_.currentKey, QString());
    list_.FillDownloadList();
}

} // namespace orvello
