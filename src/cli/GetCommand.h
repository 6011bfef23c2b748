#pragma once

#include "cli/ConsoleReport.h"
#include "cli/GetOptions.h"
#include "common/ProgramSettings.h"
#include "common/Prompter.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "scheduler/DownloadScheduler.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <utility>
#include <vector>

namespace orvello::cli {

class AddressFeed;

// Exit statuses.
constexpr int kExitComplete = 0;     // every address ended "Complete"
constexpr int kExitFailed = 1;       // an address failed or was left out; no folder; a failed write
constexpr int kExitUsage = 2;        // a wrong command line
constexpr int kExitSignalBase = 128; // + the signal that stopped the run

// Questions the core would ask in a message box are written to standard error and answered
// with the choice that changes nothing (No, Cancel): a script is never held by a question.
class ConsolePrompter : public Prompter {
public:
    explicit ConsolePrompter(ConsoleReport& report) : report_(report) {}
    MsgAnswer MsgBox(const MsgRequest& request) override;

private:
    ConsoleReport& report_;
};

// The download list and its run without a window: the addresses go into the list in order,
// the queue runner works through them as it does for the window, and each entry's progress
// and end go to the console.
class GetCommand {
public:
    explicit GetCommand(ConsoleReport& report);
    GetCommand(const GetCommand&) = delete;
    GetCommand& operator=(const GetCommand&) = delete;

    // The settings the window keeps (its folder, the default one when none is stored, the
    // entries at a time and the speed limit).
    static ProgramSettings StoredSettings();
    // The folder the files go to: `folder` made absolute and created with its parents. Empty
    // with `why` set when it can't be created.
    static QString PrepareFolder(const QString& folder, QString* why);

    // Downloads the feed's addresses as they come into the folder of `chosen`, as many at a
    // time and within the speed limit it says, and waits for the next one while the feed goes
    // on, all from the event loop; once the feed has ended and every entry has, or after a
    // stop, calls `finished` with kExitComplete or kExitFailed (the caller answers for a stop
    // signal). The feed is asked for more only while few entries wait, so an endless feed is
    // taken at the pace of the downloads.
    void Start(AddressFeed& feed, const ProgramSettings& chosen,
               std::function<void(int status)> finished);
    // The cookies file every request of the run reads (libcurl's engine, never written).
    void setCookieFile(const QByteArray& path) { scheduler_.needs.cookieFile = path; }
    // How often a failure that may pass is tried again (5 unless set before Start).
    void setRetries(int tries) { scheduler_.needs.retry.tries = tries; }
    // Whether an address no site knows is searched for a video (--any-site).
    void setAnySite(bool on) { list_.SetAnySite(on); }
    // Stops the run: what runs ends at once, its partial file kept for a later run to continue
    // when it can be (else removed), and no other entry starts. Safe to call at any time, also
    // before the run begins.
    void Stop();

private:
    void onAddress(const QString& address);
    void onRunEnded();
    void maybeFinish();
    // The entries not yet started: those after the running one, or not yet reached.
    int waiting() const;
    void askForMore();
    void onListChanged();
    // The live lines of the entries that run, redrawn when one begins, ends or changes its
    // state, else at most every kRedrawMs (or at once when `now`).
    void drawLive(bool now);
    void onEntryEnded(quint64 key);

    ConsoleReport& report_;
    RunState run_;
    ConsolePrompter prompter_;
    ProgramSettings settings_;
    modMain list_;
    DownloadScheduler scheduler_;
    bool stopped_ = false;
    bool done_ = false;
    QObject context_;             // the feed's connections
    AddressFeed* feed_ = nullptr; // until done
    std::function<void(int status)> finished_;
    bool fed_ = false;     // the feed has ended, or the list is full
    bool allTaken_ = true; // every address came into the list
    int settled_ = 0;      // the entries a run has gone past
    // The entries on the live lines, with the states they were drawn in.
    std::vector<std::pair<quint64, EntryState>> shown_;
    QElapsedTimer sinceDrawn_;
};

} // namespace orvello::cli
