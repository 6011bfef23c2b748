#pragma once

#include "common/DownloadItem.h"
#include "common/RunState.h"
#include "list/DownloadTableModel.h"
#include "resolve/EntryResolver.h"

#include <QPointer>
#include <QSet>

#include <memory>
#include <vector>

namespace orvello {

class GridBinding;
class Prompter;

// The download list: the one authoritative copy of the requested videos, and its display
// copy that the grid shows. Invariant: the entry at index i has ID i + 1.
class modMain : public EntryList {
public:
    static constexpr int kCapacity = 32767; // IDs are 16-bit

    // The grid row that shows the entry being downloaded. It goes nowhere once the rows of
    // that display copy were rebuilt or shortened, when the number may name another entry.
    struct RowRef {
        QPointer<DownloadTableModel> model;
        int row = -1;
        quint64 generation = 0;
        bool isNone() const {
            return model.isNull() || row < 0 || model->rowsGeneration() != generation;
        }
    };

    modMain(RunState& run, GridBinding* grid, Prompter* prompter);
    ~modMain() override;
    modMain(const modMain&) = delete;
    modMain& operator=(const modMain&) = delete;

    // Appends an entry unless the address is already in the list (then nothing is added
    // and the result is still true). An empty status becomes "Waiting" and an empty size
    // "????", in the caller's variables too. False when the list is full.
    bool AddToDownloadList(const QString& url, const QString& fileName, QString& status,
                           QString& fileSize);
    // Replaces each non-empty argument's field of the entry with this ID.
    bool UpdateDownloadItem(int16_t id, const QString& url, const QString& fileName,
                            const QString& status, const QString& fileSize);
    bool IsDownloadListEmpty() const { return DownloadList.empty(); }
    // The entry at this index, or nullptr when there is none.
    DownloadItem* EntryAt(int16_t index) override;
    // Adds a page address with the first texts for its site, refreshes the grid and, while
    // downloading, finds the running entry's row again.
    void AddUrlToList(const QString& url);
    // Binds the grid to the display copy and brings the copy in line with the whole list.
    // False when the list is empty (the grid is unbound), when a fill is already running
    // (one started from the copy's own signals), or on failure; a failed fill leaves the
    // copy as it was.
    bool FillDownloadList() override;
    // Binds the grid to the display copy, applying the full layout while it is not applied.
    bool FormatDownloadGrid(bool bInit);
    // Sets CurrentRow to the row of the bound copy that shows the running entry; none while
    // the grid is unbound.
    void FindCurrentRow();
    // The display copy the grid is bound to; nullptr while the grid is unbound (the list was
    // emptied, or never filled) even though ListRecordset still holds the last copy.
    DownloadTableModel* BoundRecordset() const {
        return m_gridBound ? ListRecordset.get() : nullptr;
    }
    // Who hears about the user's edits in the grid's cells.
    void SetCellUpdateHandler(CellUpdateHandler* handler);

    // Removes the entry with this ID by re-adding all others in order, which renumbers
    // them and drops an entry whose address repeats an earlier one. False on an empty list.
    bool RemoveFromDownloadList(int16_t id);
    // The same for every ID in the set at once, in one pass over the list: the result of
    // removing them one by one, highest first.
    bool RemoveFromDownloadList(const QSet<int16_t>& ids);
    void MoveItemUp(int16_t id);
    void MoveItemDown(int16_t id);

    std::vector<DownloadItem> DownloadList;
    // The one display copy, made by the first fill and kept for the list's lifetime.
    std::unique_ptr<DownloadTableModel> ListRecordset;
    bool FillBusy = false;
    bool GridFormatted = false;
    RowRef CurrentRow;

private:
    // Appends without the duplicate test; the caller has made sure there is room. A key of
    // 0 gives the entry a new identity.
    void appendEntry(const QString& url, const QString& fileName, QString& status,
                     QString& fileSize, quint64 key = 0);
    // Keeps iCurrentItem on the running entry after entries were removed or moved.
    void followCurrentEntry();
    bool fillFailed(int number, const QString& description);
    // Binds the grid to this copy or to nothing, and keeps track of which.
    void bindGrid(DownloadTableModel* model);

    RunState& m_run;
    GridBinding* m_grid;
    Prompter* m_prompter;
    quint64 m_lastKey = 0;
    bool m_gridBound = false;
    CellUpdateHandler* m_cellHandler = nullptr;
};

} // namespace orvello
