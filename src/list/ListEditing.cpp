#include "list/ListEditing.h"

#include "common/DownloadItem.h"
#include "list/Formatting.h"
#include "list/modMain.h"

#include <QItemSelectionModel>
#include <QSet>

#include <cstring>
#include <limits>
#include <optional>
#include <vector>

namespace orvello {

namespace {

// The entry a row shows: the ID in its first cell, when that reads as a 16-bit number (a
// record whose ID was cleared has none).
std::optional<int16_t> rowId(const DownloadTableModel& rows, int row) {
    bool ok = false;
    const int id = rows.cellText(row, DownloadTableModel::ColID).toInt(&ok);
    if (!ok || id < std::numeric_limits<int16_t>::min() || id > std::numeric_limits<int16_t>::max())
        return std::nullopt;
    return int16_t(id);
}

bool isFileNameColumn(int column) {
    return std::strcmp(DownloadTableModel::columnKey(column), "FileName") == 0;
}

bool spansEveryColumn(const QItemSelectionRange& range) {
    return range.left() == 0 && range.right() == DownloadTableModel::ColumnCount - 1;
}

} // namespace

ListEditing::ListEditing(modMain& list) : m_list(list) {
    m_list.SetCellUpdateHandler(this);
}

ListEditing::~ListEditing() {
    m_list.SetCellUpdateHandler(nullptr);
}

std::optional<int16_t> ListEditing::entryOfRow(const DownloadTableModel& rows, int row) const {
    const quint64 key = rows.record(row).Key;
    const std::optional<int16_t> id = rowId(rows, row);
    if (key == 0)
        return id;
    // Between a change of the list and the fill after it, the key finds the entry where it
    // went.
    const int at = m_list.IndexOfKey(key);
    return at >= 0 ? std::optional<int16_t>(int16_t(at + 1)) : std::nullopt;
}

DownloadTableModel* ListEditing::shownRows() const {
    DownloadTableModel* rows = m_list.BoundRecordset();
    return rows && rows->rowCount() > 0 ? rows : nullptr;
}

template <typename Keep>
void ListEditing::removeRowsAndRefill(DownloadTableModel& rows, Keep keep) {
    // The entries go together, in one pass over the list however many there are.
    QSet<int16_t> ids;
    for (int row = rows.rowCount() - 1; row >= 0; --row) {
        if (!keep(row))
            continue;
        if (const std::optional<int16_t> id = rowId(rows, row))
            ids.insert(*id);
    }
    if (!ids.isEmpty())
        m_list.RemoveFromDownloadList(ids);
    if (m_list.IsDownloadListEmpty())
        m_list.ResetLayout(); // the next fill with entries applies the layout afresh
    m_list.FillDownloadList();
}

void ListEditing::RemoveSelected(const QItemSelectionModel* selection) {
    DownloadTableModel* rows = shownRows();
    if (!rows)
        return;
    // A row goes when it is selected as a whole or any of its cells is selected.
    QSet<int> marked;
    if (selection && selection->model() == rows) {
        for (const QModelIndex& cell : selection->selectedIndexes())
            marked.insert(cell.row());
    }
    removeRowsAndRefill(*rows, [&](int row) { return marked.contains(row); });
}

void ListEditing::ClearCompleted() {
    DownloadTableModel* rows = shownRows();
    if (!rows)
        return;
    removeRowsAndRefill(*rows, [&](int row) {
        return rows->cellText(row, DownloadTableModel::ColStatus) == EntryText::Complete;
    });
}

QModelIndex ListEditing::firstSelectedCell(const QItemSelectionModel* selection) const {
    const DownloadTableModel* rows = m_list.BoundRecordset();
    if (!rows || !selection || selection->model() != rows)
        return {};
    for (const QItemSelectionRange& range : selection->selection()) {
        if (!spansEveryColumn(range) && !range.isEmpty())
            return range.topLeft();
    }
    return {};
}

void ListEditing::moveSelected(const QItemSelectionModel* selection, bool up) {
    const QModelIndex cell = firstSelectedCell(selection);
    if (cell.isValid()) {
        if (const std::optional<int16_t> id = rowId(*m_list.BoundRecordset(), cell.row()))
            up ? m_list.MoveItemUp(*id) : m_list.MoveItemDown(*id);
    }
    m_list.FillDownloadList();
}

void ListEditing::MoveSelectedUp(const QItemSelectionModel* selection) {
    moveSelected(selection, true);
}

void ListEditing::MoveSelectedDown(const QItemSelectionModel* selection) {
    moveSelected(selection, false);
}

void ListEditing::SelectAllRows(QItemSelectionModel* selection) {
    DownloadTableModel* rows = shownRows();
    if (!rows || !selection || selection->model() != rows)
        return;
    // One range over all rows: the same selection as selecting each row, in one step.
    const QItemSelection all(
        rows->index(0, 0), rows->index(rows->rowCount() - 1, DownloadTableModel::ColumnCount - 1));
    selection->select(all, QItemSelectionModel::Select);
}

bool ListEditing::BeforeCellUpdate(DownloadTableModel& model, const QModelIndex& cell,
                                   const QVariant& newValue) {
    if (!isFileNameColumn(cell.column()))
        return false;
    if (model.record(cell.row()).Key != 0 && !entryOfRow(model, cell.row()))
        return true; // the row's entry was removed: nothing left to rename
    const QString cleaned = CleanFileName(newValue);
    if (cleaned.isEmpty() || cleaned == kEnterFileName)
        return true;
    PendingFileName = cleaned;
    return false;
}

void ListEditing::AfterCellUpdate(DownloadTableModel& model, const QModelIndex& cell) {
    if (!isFileNameColumn(cell.column()))
        return;
    // The cell shows the cleaned name, not what was typed, and the entry gets what it shows.
    model.setCellText(cell.row(), cell.column(), PendingFileName);
    if (const std::optional<int16_t> id = entryOfRow(model, cell.row()))
        m_list.UpdateDownloadItem(*id, QString(), model.cellText(cell.row(), cell.column()),
                                  QString(), QString());
}

} // namespace orvello
