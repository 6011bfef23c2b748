#pragma once

#include "list/DownloadTableModel.h"

#include <QString>

#include <functional>
#include <optional>

class QItemSelectionModel;

namespace orvello {

class modMain;

// The user's edits of the download list besides adding: remove the selected entries, clear
// the completed ones, move an entry, select every row, and rename an entry's local file in
// the grid. They read the grid's rows from the display copy it is bound to and its selection
// from the grid's selection model, change the list through modMain and refill the grid.
//
// Selection as these operations see it: a selection range that spans every column is a row
// selected as a whole (through its row selector, or by SelectAllRows); any other range holds
// single selected cells, in the order the user selected them.
class ListEditing : public CellUpdateHandler {
public:
    // Registers itself with the list for the renames; the list must outlive it.
    explicit ListEditing(modMain& list);
    ~ListEditing() override;
    ListEditing(const ListEditing&) = delete;
    ListEditing& operator=(const ListEditing&) = delete;

    // selection: the grid's selection model. nullptr, or a selection model of anything but
    // the bound display copy, counts as nothing selected.

    // Removes every entry whose row is selected or has a selected cell, then refills.
    // Nothing at all happens while the grid shows no rows.
    void RemoveSelected(const QItemSelectionModel* selection);
    // Removes the entries whose status is exactly "Complete", then refills. Nothing at all
    // happens while the grid shows no rows.
    void ClearCompleted();
    // Moves the entry of the first selected cell one place up (down), then refills, also
    // when nothing moved. Rows selected as a whole don't count. The selection follows the
    // entries to their new rows, so another press moves the same entry on.
    void MoveSelectedUp(QItemSelectionModel* selection);
    void MoveSelectedDown(QItemSelectionModel* selection);
    // Selects every row of the grid as a whole; no refill.
    void SelectAllRows(QItemSelectionModel* selection);

    // The rename, raised by the display copy when the user edits a FileName cell: the typed
    // name is cleaned and refused when nothing usable is left; an accepted name is shown
    // cleaned and replaces only the FileName of the row's entry, without a refill. A row made
    // from an entry renames the entry with its Key wherever the list holds it now, and the
    // rename is refused once that entry is gone; any other row, the entry its ID names.
    //
    // A "Complete" entry's file is renamed with it, in its folder, never over anything: to
    // the typed name or the first free "name (2).ext", ...; the cell and the entry's FileName
    // and SavedPath then show the name the file got. When its file is not there as the
    // program wrote it, or the rename fails, the edit is refused and the reason told to the
    // listener, so the list never names a file that does not exist.
    bool BeforeCellUpdate(DownloadTableModel& model, const QModelIndex& cell,
                          const QVariant& newValue) override;
    void AfterCellUpdate(DownloadTableModel& model, const QModelIndex& cell) override;

    // Hears why a rename was refused, once the edit has returned or from inside it: a
    // listener that shows a message box should show it from the event loop.
    void SetRenameFailedListener(std::function<void(const QString& message)> listener) {
        m_renameFailed = std::move(listener);
    }

    // The last accepted name, kept between the two steps of a rename.
    QString PendingFileName;

private:
    // The bound copy, or nullptr while the grid shows no rows.
    DownloadTableModel* shownRows() const;
    // The ID of the entry a row shows (see BeforeCellUpdate); none when it is gone.
    std::optional<int16_t> entryOfRow(const DownloadTableModel& rows, int row) const;
    // The first single selected cell of the bound copy; invalid when there is none.
    QModelIndex firstSelectedCell(const QItemSelectionModel* selection) const;
    // Removes the entries of the rows that keep() accepts, all in one pass over the list, so
    // clearing thousands of entries stays quick. Then refills, clearing GridFormatted when
    // the list is empty.
    template <typename Keep> void removeRowsAndRefill(DownloadTableModel& rows, Keep keep);
    void moveSelected(QItemSelectionModel* selection, bool up);
    // Renames a "Complete" entry's file to `name` or the first free numbered form of it: the
    // name the file has then, or an empty text with the reason told.
    QString renameFinishedFile(const DownloadItem& entry, const QString& name);
    void renameFailed(const QString& message);

    modMain& m_list;
    std::function<void(const QString&)> m_renameFailed;
    // The saved path of a finished file renamed by the pending rename; empty for any other.
    QString m_pendingSavedPath;
};

} // namespace orvello
