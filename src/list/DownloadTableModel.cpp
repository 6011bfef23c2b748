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
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromLatin1(columnKey(section));
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
