#pragma once

#include "list/DownloadTableModel.h"

#include <QPointer>

#include <memory>

namespace orvello {

class EntryStore;
class GridBinding;
class Prompter;

// What the grid shows of the download list: the one display copy, the grid's binding to it
// and its column layout, the row of the running entry, and the message box of a failed fill.
class GridFeed {
public:
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

    GridFeed(GridBinding* grid, Prompter* prompter);
    ~GridFeed();
    GridFeed(const GridFeed&) = delete;
    GridFeed& operator=(const GridFeed&) = delete;

    // Brings the display copy in line with the list and binds the grid to it: the rows whose
    // entries changed since the last fill are written and new entries appended, or, when
    // entries were removed or moved, the rows are rebuilt. False when the list is empty (the
    // grid is unbound), when a fill is already running (one started from the copy's own
    // signals), or on failure, which shows the fill's error box and leaves the copy as it
    // was (the next fill then shows the whole list afresh).
    bool Fill(EntryStore& entries);
    // Binds the grid to the display copy, applying the full layout while it is not applied
    // (bInit: the first formatting at start-up, which leaves it to be applied again).
    void Format(bool bInit);
    // The next fill with entries applies the full layout afresh (after the list was emptied).
    void ResetLayout() { formatted_ = false; }
    bool LayoutApplied() const { return formatted_; }

    // Finds the row that shows the entry with this identity at `index` in the list (tried
    // first); none when the index is -1 (the entry is gone).
    void FindRow(int index, quint64 key);
    const RowRef& CurrentRow() const { return currentRow_; }
    // Writes a running entry's status (its text and percentage) into its row, if the display
    // copy shows it; `index` is the entry's place in the list, tried first.
    void ShowRunningStatus(const DownloadItem& entry, int index);

    // The display copy the grid is bound to; nullptr while the grid is unbound (the list
    // was emptied, or never filled).
    DownloadTableModel* Bound() const { return bound_ ? rows_.get() : nullptr; }
    // Who hears about the user's edits in the grid's cells.
    void SetCellUpdateHandler(CellUpdateHandler* handler);

private:
    // Binds the grid to this copy or to nothing, and keeps track of which.
    void bind(DownloadTableModel* model);
    bool failed(int number, const QString& description);

    GridBinding* grid_;
    Prompter* prompter_;
    std::unique_ptr<DownloadTableModel> rows_; // made by the first fill, kept from then on
    CellUpdateHandler* cellHandler_ = nullptr;
    RowRef currentRow_;
    bool bound_ = false;
    bool formatted_ = false;
    bool busy_ = false;
};

} // namespace orvello
