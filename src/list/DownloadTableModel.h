#pragma once

#include <QAbstractTableModel>
#include <QVariant>

#include <vector>

namespace orvello {

// The display copy of the download list that the grid binds to. It is rebuilt from the
// list at every fill; between fills only the running entry's status cell is written.
class DownloadTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColID = 0, ColVideoURL, ColFileName, ColStatus, ColFileSize, ColumnCount };

    // Widths of the text columns; an address longer than kVideoUrlShown is shown cut.
    static constexpr int kVideoUrlWidth = 220;
    static constexpr int kVideoUrlShown = kVideoUrlWidth - 1;
    static constexpr int kFileNameWidth = 100;
    static constexpr int kStatusWidth = 120;
    static constexpr int kFileSizeWidth = 10;

    struct Record {
        QVariant ID; // null when the record was appended for an entry that was gone
        QString Video_URL;
        QString FileName;
        QString Status;
        QString FileSize;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void reserve(std::size_t n) { m_records.reserve(n); }
    void appendRecord(Record record); // while building, before any view is bound
    const Record& record(int row) const { return m_records[std::size_t(row)]; }

    // The text a cell shows ("" for a null ID).
    QString cellText(int row, int column) const;
    // Writes one cell and tells the views; rows or columns outside the model are ignored.
    void setCellText(int row, int column, const QString& text);

    static const char* columnKey(int column);

private:
    std::vector<Record> m_records;
};

} // namespace orvello
