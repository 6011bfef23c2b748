#include "list/modMain.h"

#include "common/Prompter.h"
#include "list/GridBinding.h"
#include "resolve/Sites.h"

#include <new>

namespace orvello {

modMain::modMain(RunState& run, GridBinding* grid, Prompter* prompter)
    : m_run(run), m_grid(grid), m_prompter(prompter) {}

modMain::~modMain() {
    if (m_grid && m_gridBound)
        m_grid->SetDataSource(nullptr);
}

void modMain::SetCellUpdateHandler(CellUpdateHandler* handler) {
    m_cellHandler = handler;
    if (ListRecordset)
        ListRecordset->setCellUpdateHandler(handler);
}

void modMain::bindGrid(DownloadTableModel* model) {
    // Marked unbound first: a grid that throws while binding is bound to nothing known.
    m_gridBound = false;
    m_grid->SetDataSource(model);
    m_gridBound = model != nullptr;
}

void modMain::appendEntry(const QString& url, const QString& fileName, QString& status,
                          QString& fileSize, quint64 key) {
    if (status.isEmpty())
        status = EntryText::Waiting;
    if (fileSize.isEmpty())
        fileSize = EntryText::UnknownSize;
    DownloadItem item;
    item.ID = int16_t(DownloadList.size() + 1);
    item.Video_URL = url;
    item.FileName = fileName;
    item.Status = status;
    item.FileSize = fileSize;
    item.Key = key ? key : ++m_lastKey;
    DownloadList.push_back(std::move(item));
}

bool modMain::AddToDownloadList(const QString& url, const QString& fileName, QString& status,
                                QString& fileSize) {
    for (const DownloadItem& item : DownloadList) {
        if (item.Video_URL == url)
            return true;
    }
    if (DownloadList.size() >= std::size_t(kCapacity))
        return false;
    try {
        appendEntry(url, fileName, status, fileSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool modMain::UpdateDownloadItem(int16_t id, const QString& url, const QString& fileName,
                                 const QString& status, const QString& fileSize) {
    if (id < 1 || std::size_t(id) > DownloadList.size())
        return true;
    DownloadItem& item = DownloadList[std::size_t(id - 1)];
    if (!url.isEmpty())
        item.Video_URL = url;
    if (!fileName.isEmpty())
        item.FileName = fileName;
    if (!status.isEmpty())
        item.Status = status;
    if (!fileSize.isEmpty())
        item.FileSize = fileSize;
    return true;
}

DownloadItem* modMain::EntryAt(int16_t index) {
    if (index < 0 || std::size_t(index) >= DownloadList.size())
        return nullptr;
    return &DownloadList[std::size_t(index)];
}

void modMain::AddUrlToList(const QString& url) {
    QString fileSize = EntryText::UnknownSize;
    if (IdentifySite(url) == kSiteNotSupported) {
        QString status = EntryText::LinkNotSupported;
        AddToDownloadList(url, EntryText::Error, status, fileSize);
    } else {
        QString status = EntryText::Waiting;
        AddToDownloadList(url, EntryText::AutoDetect, status, fileSize);
    }
    FillDownloadList();
    if (m_run.bDownloading)
        FindCurrentRow();
}

bool modMain::FillDownloadList() {
    if (FillBusy)
        return false;
    if (DownloadList.empty()) {
        if (m_grid)
            bindGrid(nullptr);
        CurrentRow = RowRef{};
        return false;
    }
    if (!m_grid)
        return false;

    FillBusy = true;
    try {
        if (!ListRecordset) {
            ListRecordset = std::make_unique<DownloadTableModel>();
            ListRecordset->setCellUpdateHandler(m_cellHandler);
        }
        // The grid is bound and laid out before the copy changes, so a failed step leaves
        // the grid showing what it showed before.
        const bool wasBound = m_gridBound;
        try {
            FormatDownloadGrid(false);
        } catch (...) {
            try {
                bindGrid(wasBound ? ListRecordset.get() : nullptr);
            } catch (...) {
                m_gridBound = wasBound; // the grid refused again: it kept its binding
            }
            throw;
        }
        // No events run while the copy changes: whoever looks sees the whole list, ordered
        // and complete, before the fill or after it.
        ListRecordset->showEntries(DownloadList);
    } catch (const ListError& e) {
        return fillFailed(e.number, QString::fromUtf8(e.what()));
    } catch (const std::bad_alloc&) {
        return fillFailed(7, QStringLiteral("Out of memory"));
    } catch (const std::exception& e) {
        return fillFailed(5, QString::fromUtf8(e.what()));
    }
    FillBusy = false;
    return true;
}

bool modMain::fillFailed(int number, const QString& description) {
    FillBusy = false;
    if (m_prompter) {
        MsgRequest box;
        box.text = QStringLiteral("An error occured while filling the Download list\r") +
                   QString::number(number) + QLatin1Char(':') + description;
        box.icon = MsgIcon::Critical;
        box.buttons = MsgButtons::Ok;
        m_prompter->MsgBox(box);
    }
    return false;
}

bool modMain::FormatDownloadGrid(bool bInit) {
    if (!m_grid)
        return true;
    bindGrid(ListRecordset.get());
    if (GridFormatted)
        return true;
    m_grid->ApplyLayout();
    if (!bInit)
        GridFormatted = true;
    return true;
}

void modMain::FindCurrentRow() {
    CurrentRow = RowRef{};
    DownloadTableModel* model = BoundRecordset();
    if (!model)
        return;
    const QString key = QString::number(int(m_run.iCurrentItem) + 1);
    const auto shows = [&](int row) {
        return row >= 0 && row < model->rowCount() &&
               model->cellText(row, DownloadTableModel::ColID) == key;
    };
    // The copy follows the list, so the entry's own position is the row to try first.
    int row = m_run.iCurrentItem;
    if (!shows(row)) {
        for (row = 0; row < model->rowCount() && !shows(row); ++row) {
        }
    }
    if (shows(row))
        CurrentRow = RowRef{model, row, model->rowsGeneration()};
}

bool modMain::RemoveFromDownloadList(int16_t id) {
    return RemoveFromDownloadList(QSet<int16_t>{id});
}

bool modMain::RemoveFromDownloadList(const QSet<int16_t>& ids) {
    if (DownloadList.empty())
        return false;
    std::vector<DownloadItem> copy = std::move(DownloadList);
    DownloadList.clear();
    DownloadList.reserve(copy.size());
    // Re-adding entry by entry: the same result as AddToDownloadList for each, with the
    // duplicate test kept in a set so removing from a long list stays linear.
    QSet<QString> seen;
    seen.reserve(qsizetype(copy.size()));
    for (DownloadItem& item : copy) {
        if (ids.contains(item.ID))
            continue;
        if (seen.contains(item.Video_URL))
            continue;
        seen.insert(item.Video_URL);
        appendEntry(item.Video_URL, item.FileName, item.Status, item.FileSize, item.Key);
    }
    followCurrentEntry();
    return true;
}

void modMain::MoveItemUp(int16_t id) {
    for (std::size_t i = 1; i < DownloadList.size(); ++i) {
        if (DownloadList[i].ID == id) {
            std::swap(DownloadList[i - 1], DownloadList[i]);
            DownloadList[i - 1].ID--;
            DownloadList[i].ID++;
            followCurrentEntry();
            return;
        }
    }
}

void modMain::MoveItemDown(int16_t id) {
    for (std::size_t i = 0; i + 1 < DownloadList.size(); ++i) {
        if (DownloadList[i].ID == id) {
            std::swap(DownloadList[i], DownloadList[i + 1]);
            DownloadList[i + 1].ID++;
            DownloadList[i].ID--;
            followCurrentEntry();
            return;
        }
    }
}

void modMain::followCurrentEntry() {
    if (m_run.currentKey == 0)
        return;
    for (std::size_t i = 0; i < DownloadList.size(); ++i) {
        if (DownloadList[i].Key == m_run.currentKey) {
            m_run.iCurrentItem = int16_t(i);
            return;
        }
    }
    m_run.iCurrentItem = -1; // the running entry is gone: nothing more is written to it
}

} // namespace orvello
