#pragma once

#include "common/DownloadItem.h"
#include "common/RunState.h"
#include "list/EntryStore.h"
#include "list/GridFeed.h"
#include "resolve/EntryResolver.h"

#include <QSet>
#include <QStringList>

#include <vector>

namespace orvello {

class GridBinding;
class Prompter;

// The download list's procedures: the list itself (EntryStore) and what the grid shows of
// it (GridFeed), kept in step. Invariant: the entry at index i has ID i + 1.
class modMain : public EntryList {
public:
    static constexpr int kCapacity = EntryStore::kCapacity;
    using RowRef = GridFeed::RowRef;

    modMain(const RunState& run, GridBinding* grid, Prompter* prompter);
    modMain(const modMain&) = delete;
    modMain& operator=(const modMain&) = delete;

    // The entries, in order; they change only through the operations here.
    const std::vector<DownloadItem>& Entries() const { return store_.Entries(); }

    // Appends an entry unless the address is already in the list (then nothing is added
    // and the result is still true). An empty status becomes "Waiting" and an empty size
    // "????", in the caller's variables too. False when the list is full.
    bool AddToDownloadList(const QString& url, const QString& fileName, QString& status,
                           QString& fileSize);
    // Replaces each non-empty argument's field of the entry with this ID.
    bool UpdateDownloadItem(int16_t id, const QString& url, const QString& fileName,
                            const QString& status, const QString& fileSize);
    bool IsDownloadListEmpty() const { return store_.empty(); }
    // Adds a page address with the first texts for its site, refreshes the grid and, while
    // downloading, finds the running entry's row again.
    void AddUrlToList(const QString& url);
    // Adds each address as AddUrlToList does, with one refresh at the end (none for no
    // address). The result is how many found the list full (an address already in the list
    // is not one of them).
    qsizetype AddUrlsToList(const QStringList& urls);
    // Removes the entry with this ID (or every ID in the set, in one pass), renumbering the
    // rest and dropping an entry whose address repeats an earlier one. False on an empty list.
    bool RemoveFromDownloadList(int16_t id);
    bool RemoveFromDownloadList(const QSet<int16_t>& ids);
    void MoveItemUp(int16_t id);
    void MoveItemDown(int16_t id);

    // Brings what the grid shows in line with the list (see GridFeed::Fill).
    bool FillDownloadList() override;
    // Binds the grid to the display copy, applying the full layout while it is not applied.
    bool FormatDownloadGrid(bool bInit);
    // The next fill with entries applies the full layout afresh.
    void ResetLayout() { feed_.ResetLayout(); }
    bool LayoutApplied() const { return feed_.LayoutApplied(); }
    // Finds the grid row of the running entry (RunState::currentKey); none while the grid is
    // unbound.
    void FindCurrentRow();
    const RowRef& CurrentRow() const { return feed_.CurrentRow(); }
    // The index of the running entry: -1 when none runs or it was removed.
    int16_t iCurrentItem() const { return int16_t(store_.IndexOfKey(m_run.currentKey())); }
    // The display copy the grid is bound to; nullptr while the grid is unbound.
    DownloadTableModel* BoundRecordset() const { return feed_.Bound(); }
    // Who hears about the user's edits in the grid's cells.
    void SetCellUpdateHandler(CellUpdateHandler* handler) { feed_.SetCellUpdateHandler(handler); }

    // EntryList: the entries by identity, and the changes the resolution and the run make.
    const DownloadItem* EntryAt(int16_t index) const { return store_.At(index); }
    const DownloadItem* EntryByKey(quint64 key) const override { return store_.ByKey(key); }
    int IndexOfKey(quint64 key) const { return store_.IndexOfKey(key); }
    void SetState(quint64 key, EntryState state, qint64 progress = 0) override {
        store_.SetState(key, state, progress);
    }
    void SetFileName(quint64 key, const QString& name) override { store_.SetFileName(key, name); }
    void SetFileSize(quint64 key, const QString& sizeText, qint64 expectedBytes,
                     bool fileReported) override {
        store_.SetFileSize(key, sizeText, expectedBytes, fileReported);
    }
    void SetVideoUrl(quint64 key, const QString& url) override { store_.SetVideoUrl(key, url); }
    void SetReason(quint64 key, const QString& reason) override { store_.SetReason(key, reason); }
    void SetSavedPath(quint64 key, const QString& path) { store_.SetSavedPath(key, path); }
    void SetTransferNote(quint64 key, const QString& note) { store_.SetTransferNote(key, note); }
    // Sets the running entry's speed note and writes it into its row at once.
    void ShowTransferNote(quint64 key, const QString& note);
    // See EntryStore::Retry; refills when any entry went back to "Waiting".
    bool RetryEntries(const QSet<quint64>& keys);
    // Whether an address no site knows is added as a page to search for a video (on) or as
    // "Link is not supported" (off, the default).
    void SetAnySite(bool on) { anySite_ = on; }
    bool AnySite() const { return anySite_; }
    // Makes each entry of these whose address no site knows (EntryStore::NoSiteKnows) a page
    // to search for a video, and refreshes the grid when any changed. True when any did.
    bool SearchPages(const QSet<quint64>& keys);

    // Replaces the list with entries read back from disk (see EntryStore::Restore): an entry
    // that was under way when they were written comes back "Cancelled". Refills.
    void RestoreEntries(std::vector<DownloadItem> entries);
    // Called after every change of the list.
    void SetChangeListener(std::function<void()> listener) {
        store_.SetChangeListener(std::move(listener));
    }
    // Observers hear each change with what it was (EntryStore::AddObserver).
    int AddObserver(std::function<void(const ListChange&)> observer) {
        return store_.AddObserver(std::move(observer));
    }
    void RemoveObserver(int id) { store_.RemoveObserver(id); }
    // Writes a running entry's state into its grid row at once, without a refill: the
    // progress of a video comes many times a second.
    void ShowRunningStatus(quint64 key, EntryState state, qint64 progress);

private:
    // Appends the entry for a page address with the first texts for its site; false when the
    // list is full.
    bool AddEntryFor(const QString& url);

    const RunState& m_run;
    bool anySite_ = false;
    EntryStore store_;
    GridFeed feed_;
};

} // namespace orvello
