#include "list/GridFeed.h"

#include "common/Prompter.h"
#include "list/EntryStore.h"
#include "list/GridBinding.h"

#include <new>

namespace orvello {

GridFeed::GridFeed(GridBinding* grid, Prompter* prompter) : grid_(grid), prompter_(prompter) {}

GridFeed::~GridFeed() {
    if (grid_ && bound_)
        grid_->SetDataSource(nullptr);
}

void GridFeed::SetCellUpdateHandler(CellUpdateHandler* handler) {
    cellHandler_ = handler;
    if (rows_)
        rows_->setCellUpdateHandler(handler);
}

void GridFeed::bind(DownloadTableModel* model) {
    // Marked unbound first: a grid that throws while binding is bound to nothing known.
    bound_ = false;
    grid_->SetDataSource(model);
    bound_ = model != nullptr;
}

bool GridFeed::Fill(EntryStore& entries) {
    if (busy_)
        return false;
    if (entries.empty()) {
        if (grid_)
            bind(nullptr);
        currentRow_ = RowRef{};
        return false;
    }
    if (!grid_)
        return false;

    busy_ = true;
    try {
        if (!rows_) {
            rows_ = std::make_unique<DownloadTableModel>();
            rows_->setCellUpdateHandler(cellHandler_);
        }
        // The grid is bound and laid out before the copy changes, so a failed step leaves
        // the grid showing what it showed before.
        const bool wasBound = bound_;
        try {
            Format(false);
        } catch (...) {
            try {
                bind(wasBound ? rows_.get() : nullptr);
            } catch (...) {
                bound_ = wasBound; // the grid refused again: it kept its binding
            }
            throw;
        }
        // No events run while the copy changes: whoever looks sees the whole list, ordered
        // and complete, before the fill or after it.
        const EntryStore::Changes changes = entries.TakeChanges();
        try {
            if (changes.reordered)
                rows_->showEntries(entries.Entries());
            else
                rows_->showChanges(entries.Entries(), changes.rows);
        } catch (...) {
            entries.MarkAllChanged(); // what was not shown is shown by the next fill
            throw;
        }
    } catch (const ListError& e) {
        return failed(e.number, QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        return failed(7, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        return failed(5, QString::fromUtf8(e.what()));
    }
    busy_ = false;
    return true;
}

bool GridFeed::failed(int number, const QString& description) {
    busy_ = false;
    if (prompter_) {
        MsgRequest box;
        box.text = QStringLiteral("An error occured while filling the Download list\r") +
                   QString::number(number) + QLatin1Char(':') + description;
        box.icon = MsgIcon::Critical;
        box.buttons = MsgButtons::Ok;
        prompter_->MsgBox(box);
    }
    return false;
}

void GridFeed::Format(bool bInit) {
    if (!grid_)
        return;
    bind(rows_.get());
    if (formatted_)
        return;
    grid_->ApplyLayout();
    if (!bInit)
        formatted_ = true;
}

void GridFeed::FindRow(int index, quint64 key) {
    currentRow_ = RowRef{};
    DownloadTableModel* model = Bound();
    if (!model || key == 0 || index < 0) // no such entry (now): no row either
        return;
    // The copy follows the list, so the entry's own position is the row to try first.
    int row = index;
    if (row < 0 || row >= model->rowCount() || model->record(row).Key != key)
        row = model->rowOfKey(key);
    if (row >= 0)
        currentRow_ = RowRef{model, row, model->rowsGeneration()};
}

void GridFeed::ShowRunningStatus(const DownloadItem& entry, int index) {
    DownloadTableModel* model = Bound();
    if (!model)
        return;
    // The running entry's own row first (found by FindRow), then its place in the list,
    // then a search: several entries may run at a time.
    if (!currentRow_.isNone() && currentRow_.model == model &&
        model->record(currentRow_.row).Key == entry.Key) {
        model->setStatus(currentRow_.row, entry);
        return;
    }
    int row = index;
    if (row < 0 || row >= model->rowCount() || model->record(row).Key != entry.Key)
        row = model->rowOfKey(entry.Key);
    if (row >= 0)
        model->setStatus(row, entry);
}

} // namespace orvello
