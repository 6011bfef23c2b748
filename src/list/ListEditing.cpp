#include "list/ListEditing.h"

#include "common/DownloadItem.h"
#include "common/Files.h"
#include "list/FinishedFile.h"
#include "list/Formatting.h"
#include "list/modMain.h"

#include <QFile>
#include <QHash>
#include <QItemSelectionModel>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <optional>
#include <unistd.h>
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

// How many numbered names a finished file's rename tries before the folder counts as full of
// them, as many as a download's own naming tries.
constexpr int kMaxChoices = 9999;

// Selected cells of one row, kept by the row's entry across a rebuild of the rows.
struct PickedCells {
    quint64 key;
    int left, right;
};

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

void ListEditing::moveSelected(QItemSelectionModel* selection, bool up) {
    const QModelIndex cell = firstSelectedCell(selection);
    // The selection by entry, in the order it was made: a move rebuilds the rows, which clears
    // the views' selection, and it comes back on the rows the entries went to.
    std::vector<PickedCells> picked;
    quint64 movedKey = 0;
    if (cell.isValid()) {
        const DownloadTableModel& rows = *m_list.BoundRecordset();
        for (const QItemSelectionRange& range : selection->selection()) {
            for (int row = range.top(); row <= range.bottom(); ++row) {
                if (const quint64 key = rows.record(row).Key)
                    picked.push_back({key, range.left(), range.right()});
            }
        }
        movedKey = rows.record(cell.row()).Key;
        if (const std::optional<int16_t> id = rowId(rows, cell.row()))
            up ? m_list.MoveItemUp(*id) : m_list.MoveItemDown(*id);
    }
    m_list.FillDownloadList();
    DownloadTableModel* rows = m_list.BoundRecordset();
    if (picked.empty() || !rows || selection->model() != rows)
        return;
    QHash<quint64, int> rowOf;
    rowOf.reserve(rows->rowCount());
    for (int row = 0; row < rows->rowCount(); ++row)
        rowOf.insert(rows->record(row).Key, row);
    // Rows that stay side by side become one range again, so a selection of thousands of
    // rows costs no more than it did.
    QItemSelection again;
    int lastRow = -2;
    for (const PickedCells& p : picked) {
        const int row = rowOf.value(p.key, -1);
        if (row < 0)
            continue;
        if (!again.isEmpty() && row == lastRow + 1 && again.last().left() == p.left &&
            again.last().right() == p.right)
            again.last() = QItemSelectionRange(again.last().topLeft(), rows->index(row, p.right));
        else
            again.append(QItemSelectionRange(rows->index(row, p.left), rows->index(row, p.right)));
        lastRow = row;
    }
    selection->select(again, QItemSelectionModel::ClearAndSelect);
    if (const int row = rowOf.value(movedKey, -1); row >= 0)
        selection->setCurrentIndex(rows->index(row, cell.column()), QItemSelectionModel::NoUpdate);
}

void ListEditing::MoveSelectedUp(QItemSelectionModel* selection) {
    moveSelected(selection, true);
}

void ListEditing::MoveSelectedDown(QItemSelectionModel* selection) {
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
    m_pendingSavedPath.clear();
    const std::optional<int16_t> id = entryOfRow(model, cell.row());
    if (model.record(cell.row()).Key != 0 && !id)
        return true; // the row's entry was removed: nothing left to rename
    const QString cleaned = CleanFileName(newValue);
    if (cleaned.isEmpty() || cleaned == kEnterFileName)
        return true;
    const DownloadItem* entry = id ? m_list.EntryAt(int16_t(*id - 1)) : nullptr;
    if (entry && entry->State == EntryState::Complete) {
        // The name shown is the name its file has.
        const QString got = renameFinishedFile(*entry, cleaned);
        if (got.isEmpty())
            return true;
        PendingFileName = got;
        return false;
    }
    PendingFileName = cleaned;
    return false;
}

void ListEditing::AfterCellUpdate(DownloadTableModel& model, const QModelIndex& cell) {
    if (!isFileNameColumn(cell.column()))
        return;
    // The cell shows the cleaned name, not what was typed, and the entry gets what it shows.
    model.setCellText(cell.row(), cell.column(), PendingFileName);
    const std::optional<int16_t> id = entryOfRow(model, cell.row());
    if (!id)
        return;
    m_list.UpdateDownloadItem(*id, QString(), model.cellText(cell.row(), cell.column()), QString(),
                              QString());
    if (!m_pendingSavedPath.isEmpty()) {
        if (const DownloadItem* entry = m_list.EntryAt(int16_t(*id - 1)))
            m_list.SetSavedPath(entry->Key, m_pendingSavedPath);
        m_pendingSavedPath.clear();
    }
}

QString ListEditing::renameFinishedFile(const DownloadItem& entry, const QString& name) {
    QString path;
    switch (FinishedFileOf(entry, &path)) {
    case FinishedFile::Present:
        break;
    case FinishedFile::None:
        renameFailed(QStringLiteral("%1 can't be renamed: the list does not say where its file "
                                    "was saved.")
                         .arg(entry.FileName));
        return {};
    case FinishedFile::Gone:
        renameFailed(QStringLiteral("The file %1 is no longer there.").arg(path));
        return {};
    case FinishedFile::Replaced:
        renameFailed(QStringLiteral("%1 is no longer the file that was downloaded; it is not "
                                    "renamed.")
                         .arg(path));
        return {};
    }
    // FinishedFileOf answers Present only for the entry's name in an absolute folder.
    const QString folder = path.left(path.size() - entry.FileName.size() - 1);
    if (name == entry.FileName) {
        m_pendingSavedPath = path;
        return name;
    }
    // Both names in the one folder, held open, so the file stays where it was written
    // whatever the folder's path comes to mean meanwhile.
    const int dir = ::open(folder.isEmpty() ? "/" : QFile::encodeName(folder).constData(),
                           O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) {
        renameFailed(QStringLiteral("The file %1 could not be renamed. %2")
                         .arg(path, FileErrorReason(errno)));
        return {};
    }
    const QByteArray from = QFile::encodeName(entry.FileName);
    QString got, why;
    for (int n = 1; n <= kMaxChoices && got.isEmpty() && why.isEmpty(); ++n) {
        const QString choice = NumberedFileName(name, n);
        if (choice == entry.FileName) {
            got = choice; // the file has this name already
            break;
        }
        const int result = RenameNoReplace(dir, from, dir, QFile::encodeName(choice));
        if (result == 0)
            got = choice;
        else if (result != EEXIST)
            why = FileErrorReason(result);
    }
    ::close(dir);
    if (got.isEmpty()) {
        renameFailed(QStringLiteral("The file %1 could not be renamed. %2")
                         .arg(path, why.isEmpty()
                                        ? QStringLiteral("Every name like %1 is taken.").arg(name)
                                        : why));
        return {};
    }
    m_pendingSavedPath = folder + QLatin1Char('/') + got;
    return got;
}

void ListEditing::renameFailed(const QString& message) {
    if (m_renameFailed)
        m_renameFailed(message);
}

} // namespace orvello
