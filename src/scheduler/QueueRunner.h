#pragma once

#include "common/DownloadItem.h"

#include <QString>

namespace orvello {

class Download;
class EntryResolver;
class TransferEvents;
class UiVariables;
class modMain;
struct ProgramSettings;
struct RunState;

// Works through the download list once, one entry at a time: resolves each entry that is
// neither finished nor failed, downloads its file into the download folder and writes its
// final status ("Complete", "ERROR" or "Cancelled"). Runs inside the call that started it;
// the transfer lets the window's events run, so the user adds, removes, moves and stops
// while it goes on.
class QueueRunner {
public:
    QueueRunner(RunState& run, modMain& list, EntryResolver& resolver, Download& download,
                TransferEvents& events, UiVariables& ui, const ProgramSettings& settings);

    void StartDownloading();

    // How the entries the last run worked on ended.
    struct Tally {
        int complete = 0;
        int failed = 0;
    };
    const Tally& LastRun() const { return tally_; }
    // Removes the partial file of the transfer under way, if there is one. For the end of
    // the program during a run: the process ends from inside the transfer, so the run never
    // gets to remove it itself.
    void RemovePartialFile();

private:
    // Downloads the resolved running entry; false when the run must end.
    bool DownloadCurrent(const QString& link);
    // Puts the running entry, if it is still in the list, in its final state (with the reason
    // of a failure), and refills.
    void FinishCurrent(EntryState state, const QString& reason = QString());

    RunState& run_;
    modMain& list_;
    EntryResolver& resolver_;
    Download& download_;
    TransferEvents& events_;
    UiVariables& ui_;
    const ProgramSettings& settings_;
    QString partialPath_; // the running transfer's partial file, empty when none
    Tally tally_;
};

} // namespace orvello
