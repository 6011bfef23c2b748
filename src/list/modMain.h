#pragma once

#include "common/DownloadItem.h"
#include "common/RunState.h"
#include "list/DownloadTableModel.h"
#include "resolve/EntryResolver.h"

#include <QObject>
#include <QPointer>

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

    // The grid row that shows the entry being downloaded, in the display copy it was
    // found in; writing to it after that copy was replaced goes nowhere.
    struct RowRef {
        QPointer<DownloadTableModel> model;
        int row = -1;
        bool isNone() const { return model.isNull() || row < 0; }
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
    // Rebuilds the display copy and binds the grid to it. False when the list is empty
    // (the grid is unbound), when a fill is already running, or on failure.
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
    // Who hears about the user's edits in the grid's cells, in this and every later copy.
    void SetCellUpdateHandler(CellUpdateHandler* handler);
    // Deletes the display copies that fills have replaced. Only for callers that know no
    // grid code is running further down the stack (the queue runner between two entries):
    // a copy replaced from inside one of the grid's own signals may still be in use there.
    void ReleaseRetiredCopies();
    int RetiredCopies() const;

    // Removes the entry with this ID by re-adding all others in order, which renumbers
    // them and drops an entry whose address repeats an earlier one. False on an empty list.
    bool RemoveFromDownloadList(int16_t id);
    void MoveItemUp(int16_t id);
    void MoveItemDown(int16_t id);

    std::vector<DownloadItem> DownloadList;
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
    // Drops a display copy that the grid no longer shows. The copy is deleted only when
    // control is back in the event loop: the fill that replaced it may run from one of the
    // grid's own signals (an edit committed, a click), and the view's code further up the
    // stack may still use it.
    void retireCopy(std::unique_ptr<DownloadTableModel> copy);

    RunState& m_run;
    GridBinding* m_grid;
    Prompter* m_prompter;
    quint64 m_lastKey = 0;
    bool m_gridBound = false;
    CellUpdateHandler* m_cellHandler = nullptr;
    QObject m_retiredCopies; // parent of the copies waiting for deletion
};

} // namespace orvello
