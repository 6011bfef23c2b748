#include "scheduler/QueueRunner.h"

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "list/EntryStatus.h"
#include "list/modMain.h"
#include "scheduler/EntryDownload.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace orvello {

QueueRunner::QueueRunner(RunState& run, modMain& list, const EntryNeeds& needs, QObject* parent)
    : QObject(parent), run_(run), list_(list), needs_(needs) {
    observer_ = list_.AddObserver([this](const ListChange& change) { ListChanged(change); });
}

QueueRunner::~QueueRunner() {
    list_.RemoveObserver(observer_);
    for (auto& [key, entry] : entries_)
        entry->disconnect(this);
}

void QueueRunner::setSimultaneous(int count) {
    simultaneous_ = std::clamp(count, 1, kMaxSimultaneous);
    FillSoon();
}

void QueueRunner::setSpeedLimit(std::int64_t bytesPerSecond) {
    speedLimit_ = std::max<std::int64_t>(bytesPerSecond, 0);
    ShareSpeed();
}

void QueueRunner::StartDownloading() {
    if (run_.downloading_)
        return;
    emit RunStarted();
    // The folder itself is created, not missing parents. One that can't be created makes
    // each entry fail to make its file, and end "ERROR".
    const QString& folder = needs_.settings.sDownloadDir;
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        QDir().mkdir(folder);

    needs_.records.NewRun();
    simultaneous_ = std::clamp(needs_.settings.iSimultaneous, 1, kMaxSimultaneous);
    speedLimit_ = std::max<std::int64_t>(needs_.settings.lSpeedLimit, 0);
    run_.stopRequested_ = false;
    run_.downloading_ = true;
    run_.running_.clear();
    tally_ = {};
    lastStartedKey_ = 0;
    lastStartedIndex_ = 0;
    FillSlots();
}

// Starts entries in list order while places are free: from after the entry started last, the
// first that is neither finished nor running. The run ends once nothing is left to start and
// nothing runs.
void QueueRunner::FillSlots() {
    fillQueued_ = false;
    if (!run_.downloading_ || run_.stopRequested_ || filling_)
        return;
    filling_ = true;
    while (int(entries_.size()) < simultaneous_) {
        int next = NextPosition();
        const DownloadItem* item = nullptr;
        for (; (item = list_.EntryAt(int16_t(next))); ++next) {
            if (!IsFinished(item->State) && !run_.IsRunning(item->Key))
                break;
        }
        if (!item)
            break;
        StartEntry(item->Key, next);
    }
    filling_ = false;
    if (entries_.empty())
        EndRun();
}

int QueueRunner::NextPosition() const {
    if (lastStartedKey_ == 0)
        return 0;
    const int at = list_.IndexOfKey(lastStartedKey_);
    return at >= 0 ? at + 1 : lastStartedIndex_;
}

void QueueRunner::FillSoon() {
    if (fillQueued_ || !run_.downloading_)
        return;
    fillQueued_ = true;
    QMetaObject::invokeMethod(this, &QueueRunner::FillSlots, Qt::QueuedConnection);
}

void QueueRunner::StartEntry(quint64 key, int index) {
    lastStartedKey_ = key;
    lastStartedIndex_ = index;
    run_.running_.push_back(key);
    auto* entry = new EntryDownload(key, needs_, this);
    entries_[key] = entry;
    connect(entry, &EntryDownload::Finished, this, &QueueRunner::EntryFinished);
    connect(entry, &EntryDownload::FileStarted, this, [this] { ShareSpeed(); });
    connect(entry, &EntryDownload::Continued, this, &QueueRunner::EntryContinued);
    list_.FindCurrentRow();
    entry->Start();
}

void QueueRunner::EntryFinished(quint64 key, EntryState state) {
    const auto it = entries_.find(key);
    if (it == entries_.end())
        return;
    it->second->deleteLater();
    entries_.erase(it);
    std::erase(run_.running_, key);
    if (state == EntryState::Complete)
        ++tally_.complete;
    else if (state == EntryState::Error)
        ++tally_.failed;
    ShareSpeed();
    emit EntryEnded(key, state);
    if (run_.stopRequested_) {
        if (entries_.empty())
            EndRun();
        return;
    }
    // The next entry starts right after, from the event loop (not from inside the one that
    // ended, which may be inside a change of the list).
    FillSoon();
}

void QueueRunner::Stop() {
    if (!run_.downloading_)
        return;
    run_.stopRequested_ = true;
    fillQueued_ = false;
    // Each stops at once and tells its end, which takes it off the run.
    std::vector<EntryDownload*> running;
    for (const auto& [key, entry] : entries_)
        running.push_back(entry);
    for (EntryDownload* entry : running)
        entry->Stop();
    if (entries_.empty())
        EndRun();
}

// A running entry that is removed stops (its partial file goes); one that is added may start
// at once when a place is free.
void QueueRunner::ListChanged(const ListChange& change) {
    if (!run_.downloading_)
        return;
    switch (change.kind) {
    case ListChange::Kind::Removed:
        if (const auto it = entries_.find(change.key); it != entries_.end())
            it->second->Drop();
        break;
    case ListChange::Kind::Replaced: {
        std::vector<EntryDownload*> running;
        for (const auto& [key, entry] : entries_)
            if (!list_.EntryByKey(key))
                running.push_back(entry);
        for (EntryDownload* entry : running)
            entry->Drop();
        break;
    }
    case ListChange::Kind::Added:
        if (int(entries_.size()) < simultaneous_)
            FillSoon();
        break;
    default:
        break;
    }
}

// The speed limit is shared equally among the files coming in.
void QueueRunner::ShareSpeed() {
    int receiving = 0;
    for (const auto& [key, entry] : entries_)
        receiving += entry->Receiving() ? 1 : 0;
    const std::int64_t share =
        speedLimit_ > 0 && receiving > 0 ? std::max<std::int64_t>(speedLimit_ / receiving, 1) : 0;
    for (const auto& [key, entry] : entries_)
        entry->setMaxRecvSpeed(share);
}

void QueueRunner::EndRun() {
    if (!run_.downloading_)
        return;
    run_.downloading_ = false;
    run_.running_.clear();
    emit RunEnded(tally_.complete, tally_.failed);
}

} // namespace orvello
