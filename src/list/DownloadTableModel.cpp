#include "list/DownloadTableModel.h"

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
    if (role != Qt::DisplayRole && role != Qt::EditRole)
        return {};
    const Record& r = m_records[std::size_t(index.row())];
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
    m_captions[section] = value.toString();
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
