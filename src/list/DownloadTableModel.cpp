#include "list/DownloadTableModel.h"

#include <algorithm>
#include <cstdint>
#include <utility>

namespace orvello {

int DownloadTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_records.size());
}

int DownloadTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DownloadTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= ColumnCount)
        return {};
    const Record& r = m_records[std::size_t(index.row())];
    if (role == PercentRole)
        return index.column() == ColStatus ? r.Percent : QVariant();
    if (role == Qt::ToolTipRole || role == Qt::AccessibleDescriptionRole)
        return r.Note.isEmpty() ? QVariant() : QVariant(r.Note);
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    switch (index.column()) {
    case ColID:
        return r.ID;
    case ColVideoURL:
        return r.Video_URL;
    case ColFileName:
        return r.FileName;
    case ColStatus:
        return r.Status;
    case ColFileSize:
        return r.FileSize;
    }
    return {};
}

QVariant DownloadTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole || section < 0)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (orientation == Qt::Vertical)
        return QString(); // blank row selectors: the ID column already numbers the rows
    if (section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    if (section < m_captions.size())
        return m_captions[section];
    return QString::fromLatin1(columnKey(section));
}

bool DownloadTableModel::setHeaderData(int section, Qt::Orientation orientation,
                                       const QVariant& value, int role) {
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::EditRole) ||
        section < 0 || section >= ColumnCount)
        return false;
    if (m_captions.isEmpty()) {
        for (int c = 0; c < ColumnCount; ++c)
            m_captions << QString::fromLatin1(columnKey(c));
    }
    const QString caption = value.toString();
    if (m_captions[section] == caption)
        return true; // the grid applies its captions at every binding: nothing to redraw
    m_captions[section] = caption;
    emit headerDataChanged(orientation, section, section);
    return true;
}

Qt::ItemFlags DownloadTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == ColFileName)
        f |= Qt::ItemIsEditable;
    return f;
}

bool DownloadTableModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    // The handler is read once: the edit ends with the handler it started with.
    CellUpdateHandler* handler = m_cellHandler;
    if (!handler || role != Qt::EditRole || !checkIndex(index, CheckIndexOption::IndexIsValid) ||
        !(flags(index) & Qt::ItemIsEditable))
        return false;
    if (handler->BeforeCellUpdate(*this, index, value))
        return false; // refused: the cell keeps its old value
    setCellText(index.row(), index.column(), value.toString());
    handler->AfterCellUpdate(*this, index);
    return true;
}

void DownloadTableModel::appendRecord(Record record) {
    const int row = int(m_records.size());
    beginInsertRows({}, row, row);
    m_records.push_back(std::move(record));
    endInsertRows();
}

int DownloadTableModel::rowOfKey(quint64 key) const {
    if (key == 0)
        return -1;
    const auto found = std::find_if(m_records.begin(), m_records.end(),
                                    [key](const Record& r) { return r.Key == key; });
    return found == m_records.end() ? -1 : int(found - m_records.begin());
}

namespace {

// Equal texts; most are the very same shared text, found without reading the characters.
bool sameText(QStringView shown, const QString& value) {
    return shown.size() == value.size() &&
           (shown.data() == value.constData() || shown == QStringView(value));
}

} // namespace

bool DownloadTableModel::assignEntry(Record& r, const DownloadItem& e) {
    bool changed = false;
    // A row keeps its ID while it keeps its entry: an entry's ID is its position.
    if (r.Key != e.Key || e.Key == 0 || r.ID.isNull()) {
        if (r.ID.isNull() || r.ID.toInt() != int(e.ID)) {
            r.ID = int(e.ID);
            changed = true;
        }
        r.Key = e.Key;
    }
    // The grid shows no more of an address than its column holds.
    if (e.Video_URL.size() <= kVideoUrlShown) {
        if (!sameText(r.Video_URL, e.Video_URL)) {
            r.Video_URL = e.Video_URL;
            changed = true;
        }
    } else if (QStringView(e.Video_URL).left(kVideoUrlShown) != QStringView(r.Video_URL)) {
        r.Video_URL = e.Video_URL.left(kVideoUrlShown);
        changed = true;
    }
    const std::pair<QString*, const QString*> texts[] = {
        {&r.FileName, &e.FileName}, {&r.Status, &e.Status}, {&r.FileSize, &e.FileSize}};
    for (auto [shown, value] : texts) {
        if (!sameText(*shown, *value)) {
            *shown = *value;
            changed = true;
        }
    }
    const QVariant percent = percentOf(e);
    if (r.Percent != percent) {
        r.Percent = percent;
        changed = true;
    }
    const QString note = noteOf(e);
    if (r.Note != note) {
        r.Note = note;
        changed = true;
    }
    return changed;
}

QString DownloadTableModel::noteOf(const DownloadItem& e) {
    QStringList lines;
    if (!e.Reason.isEmpty())
        lines << e.Reason;
    if (!e.TransferNote.isEmpty())
        lines << e.TransferNote;
    if (!e.PageAddress.isEmpty() && e.PageAddress != e.Video_URL)
        lines << QStringLiteral("Page: ") + e.PageAddress;
    return lines.join(QLatin1Char('\n'));
}

QVariant DownloadTableModel::percentOf(const DownloadItem& e) {
    if (e.State != EntryState::Transferring || e.Progress < INT32_MIN || e.Progress > INT32_MAX)
        return {};
    return int(e.Progress);
}

void DownloadTableModel::showChanges(const std::vector<DownloadItem>& entries,
                                     const std::vector<int>& changed) {
    if (entries.size() < m_records.size()) {
        showEntries(entries);
        return;
    }
    int first = -1, last = -1;
    for (int row : changed) {
        if (row < 0 || std::size_t(row) >= m_records.size())
            continue; // a new entry: appended below
        Record& r = m_records[std::size_t(row)];
        const DownloadItem& e = entries[std::size_t(row)];
        if (r.Key != e.Key) { // not the entry the row showed: the order changed after all
            showEntries(entries);
            return;
        }
        if (assignEntry(r, e)) {
            first = first < 0 ? row : std::min(first, row);
            last = std::max(last, row);
        }
    }
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1),
                         {Qt::DisplayRole, Qt::EditRole, PercentRole, Qt::ToolTipRole,
                          Qt::AccessibleDescriptionRole});
    if (entries.size() > m_records.size()) {
        const std::size_t from = m_records.size();
        beginInsertRows({}, int(from), int(entries.size()) - 1);
        m_records.resize(entries.size());
        for (std::size_t i = from; i < entries.size(); ++i)
            assignEntry(m_records[i], entries[i]);
        endInsertRows();
    }
}

void DownloadTableModel::setStatus(int row, const DownloadItem& entry) {
    if (row < 0 || row >= rowCount())
        return;
    Record& r = m_records[std::size_t(row)];
    r.Status = entry.Status;
    r.Percent = percentOf(entry);
    const QString note = noteOf(entry);
    if (r.Note != note) { // the whole row's tooltip
        r.Note = note;
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1),
                         {Qt::DisplayRole, Qt::EditRole, PercentRole, Qt::ToolTipRole,
                          Qt::AccessibleDescriptionRole});
        return;
    }
    const QModelIndex i = index(row, ColStatus);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole, PercentRole});
}

void DownloadTableModel::showEntries(const std::vector<DownloadItem>& entries) {
    const std::size_t kept = std::min(m_records.size(), entries.size());
    // One pass: each row is checked for its entry and written at once. A row that shows
    // another entry turns the fill into a rebuild, which announces every row anew, the ones
    // already written included.
    int first = -1, last = -1;
    for (std::size_t i = 0; i < kept; ++i) {
        if (entries[i].Key == 0 || m_records[i].Key != entries[i].Key) {
            beginResetModel();
            m_records.clear();
            m_records.resize(entries.size());
            for (std::size_t j = 0; j < entries.size(); ++j)
                assignEntry(m_records[j], entries[j]);
            ++m_rowsGeneration;
            endResetModel();
            return;
        }
        if (assignEntry(m_records[i], entries[i])) {
            first = first < 0 ? int(i) : first;
            last = int(i);
        }
    }
    // One signal for the span of rows that changed, whole rows: an editor open in one of
    // them keeps what the user is typing.
    if (first >= 0)
        emit dataChanged(index(first, 0), index(last, ColumnCount - 1),
                         {Qt::DisplayRole, Qt::EditRole, PercentRole, Qt::ToolTipRole,
                          Qt::AccessibleDescriptionRole});
    if (entries.size() > m_records.size()) {
        beginInsertRows({}, int(m_records.size()), int(entries.size()) - 1);
        m_records.resize(entries.size());
        for (std::size_t i = kept; i < entries.size(); ++i)
            assignEntry(m_records[i], entries[i]);
        endInsertRows();
    } else if (entries.size() < m_records.size()) {
        beginRemoveRows({}, int(entries.size()), int(m_records.size()) - 1);
        m_records.resize(entries.size());
        ++m_rowsGeneration;
        endRemoveRows();
    }
}

QString DownloadTableModel::cellText(int row, int column) const {
    if (row < 0 || row >= rowCount())
        return {};
    return data(index(row, column)).toString();
}

void DownloadTableModel::setCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= ColumnCount)
        return;
    Record& r = m_records[std::size_t(row)];
    switch (column) {
    case ColID:
        r.ID = text.isEmpty() ? QVariant() : QVariant(text.toInt());
        break;
    case ColVideoURL:
        r.Video_URL = text;
        break;
    case ColFileName:
        r.FileName = text;
        break;
    case ColStatus:
        r.Status = text;
        break;
    case ColFileSize:
        r.FileSize = text;
        break;
    }
    const QModelIndex i = index(row, column);
    emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
}

const char* DownloadTableModel::columnKey(int column) {
    static const char* const kKeys[ColumnCount] = {"ID", "Video_URL", "FileName", "Status",
                                                   "FileSize"};
    return (column >= 0 && column < ColumnCount) ? kKeys[column] : "";
}

} // namespace orvello
