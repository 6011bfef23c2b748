#pragma once

#include "common/DownloadItem.h"
#include "common/ProgramSettings.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <map>

namespace orvello {

class EntryDownload;
class modMain;
class RunState;
struct EntryNeeds;
struct ListChange;

// The run: works through the download list once, in list order, resolving and downloading
// each entry that is neither finished nor failed, several at a time up to Simultaneous()
// (one by default), and writing each entry's final status ("Complete", "ERROR" or
// "Cancelled"). StartDownloading begins it and returns at once; RunEnded follows when it has
// passed the end of the list with nothing left running, or was stopped. The run owns the run
// state (RunState) that everybody else reads.
class QueueRunner : public QObject {
    Q_OBJECT
public:
    // The most entries that may run at a time.
    static constexpr int kMaxSimultaneous = ProgramSettings::kMostSimultaneous;

    QueueRunner(RunState& run, modMain& list, const EntryNeeds& needs, QObject* parent = nullptr);
    ~QueueRunner() override;

    void StartDownloading();
    // The user's stop: every running entry stops at once, its partial file goes and it ends
    // "Cancelled"; later entries keep their status, and the run ends before this returns.
    void Stop();

    // Entries that run at a time, 1 to kMaxSimultaneous; a change applies as places free up.
    // A run starts with the settings' values (ProgramSettings::iSimultaneous, lSpeedLimit).
    void setSimultaneous(int count);
    int Simultaneous() const { return simultaneous_; }
    // The most bytes a second all running files together may come at, shared among them;
    // 0 for no limit.
    void setSpeedLimit(std::int64_t bytesPerSecond);
    std::int64_t SpeedLimit() const { return speedLimit_; }

    // Where the run goes on in the list: every entry before it was started or passed over.
    int NextPosition() const;

    // How the entries the last run worked on ended.
    struct Tally {
        int complete = 0;
        int failed = 0;
    };
    const Tally& LastRun() const { return tally_; }

signals:
    // A run begins: nothing of it has happened yet.
    void RunStarted();
    // An entry the run started has ended ("Complete", "ERROR", or "Cancelled" when it was
    // stopped or removed), its final state and reason written; the run has let go of it.
    void EntryEnded(quint64 key, orvello::EntryState state);
    // An entry's download goes on from its partial file, at `from` of `total` bytes.
    void EntryContinued(quint64 key, qint64 from, qint64 total);
    // The run has ended (by itself or stopped): how many of its entries completed and failed.
    void RunEnded(int complete, int failed);

private:
    void FillSlots();
    void FillSoon();
    void StartEntry(quint64 key, int index);
    void EntryFinished(quint64 key, EntryState state);
    void ListChanged(const ListChange& change);
    void ShareSpeed();
    void EndRun();

    RunState& run_;
    modMain& list_;
    const EntryNeeds& needs_;
    std::map<quint64, EntryDownload*> entries_; // running, by key
    int simultaneous_ = 1;
    std::int64_t speedLimit_ = 0;
    // Where the run goes on: after the entry started last where it stands now, or, when it
    // was removed, at the place it was started from.
    quint64 lastStartedKey_ = 0;
    int lastStartedIndex_ = 0;
    Tally tally_;
    bool filling_ = false;
    bool fillQueued_ = false;
    int observer_ = 0;
};

} // namespace orvello
