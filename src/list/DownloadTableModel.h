#pragma once

#include "common/DownloadItem.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <QVariant>

#include <vector>

namespace orvello {

class DownloadTableModel;

// Told about every edit the user makes in a cell of the grid: asked before the typed value is
// taken (true refuses it and the cell keeps its old value), and told after it was taken.
class CellUpdateHandler {
public:
    virtual ~CellUpdateHandler() = default;
    virtual bool BeforeCellUpdate(DownloadTableModel& model, const QModelIndex& cell,
                                  const QVariant& newValue) = 0;
    virtual void AfterCellUpdate(DownloadTableModel& model, const QModelIndex& cell) = 0;
};

// The display copy of the download list that the grid binds to. Every fill brings it in line
// with the whole list (showEntries); between fills only the running entry's status cell is
// written.
class DownloadTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColID = 0, ColVideoURL, ColFileName, ColStatus, ColFileSize, ColumnCount };
    // The Status cell's percentage while its entry's file comes in with a known size (an
    // int, possibly above 100); null otherwise. The progress bar is drawn from it.
    static constexpr int PercentRole = Qt::UserRole + 1;

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
        quint64 Key = 0;  // the entry's identity; 0 for records not made from an entry
        QVariant Percent; // see PercentRole
        // Every cell's tooltip and accessible description: why the entry failed, its speed
        // and time left while it comes in, and its page address when that was replaced.
        QString Note;
    };

    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    // Column captions are the column keys until the grid gives its own; rows have none.
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;
    // Only the FileName column can be edited in place.
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // An edit of a FileName cell: the handler is asked first and may refuse it, then the
    // value is written and the handler told. Without a handler no edit is taken.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    void setCellUpdateHandler(CellUpdateHandler* handler) { m_cellHandler = handler; }

    void reserve(std::size_t n) { m_records.reserve(n); }
    void appendRecord(Record record);
    const Record& record(int row) const { return m_records[std::size_t(row)]; }
    // The row that shows the entry with this Key; -1 when no row does (or the key is 0).
    int rowOfKey(quint64 key) const;

    // Makes the rows show exactly these entries, in their order. When every row already
    // shows the entry at its position (added entries come at the end), only the rows whose
    // texts differ are written and the new rows appended, so the views keep their selection,
    // scroll position and open editor, and the cost follows what changed. When entries were
    // removed or moved, the rows are rebuilt in one reset, which clears the views' selection.
    void showEntries(const std::vector<DownloadItem>& entries);
    // Makes the rows show these entries when only the entries at `changed` positions (and
    // entries past the last row) changed since the rows were last brought in line: writes
    // those rows and appends the new ones, in time that follows what changed, not the
    // list's length. Anything else falls back to showEntries.
    void showChanges(const std::vector<DownloadItem>& entries, const std::vector<int>& changed);
    // Writes a row's status text and percentage from its entry, without a refill.
    void setStatus(int row, const DownloadItem& entry);
    // Changes whenever a row may have come to show another entry (a rebuild, rows removed):
    // a row number kept from before then no longer names the same entry.
    quint64 rowsGeneration() const { return m_rowsGeneration; }

    // The text a cell shows ("" for a null ID).
    QString cellText(int row, int column) const;
    // Writes one cell and tells the views; rows or columns outside the model are ignored.
    void setCellText(int row, int column, const QString& text);

    static const char* columnKey(int column);

private:
    // Writes the entry's texts into the record; true when any of them changed.
    static bool assignEntry(Record& record, const DownloadItem& entry);
    static QVariant percentOf(const DownloadItem& entry);
    static QString noteOf(const DownloadItem& entry);

    std::vector<Record> m_records;
    quint64 m_rowsGeneration = 0;
    QStringList m_captions; // empty: the column keys
    CellUpdateHandler* m_cellHandler = nullptr;
};

} // namespace orvello
