#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace orvello {

// The download grid's colours and where each one goes:
//   Background  207,221,99     the grid's background, around and below the rows
//   Second      39,104,146     the grid lines and the header borders
//   A           156,184,99     the row selectors and the corner button
//   B           156,184,99     the column headers, with white captions
//   C           white          the cells of the rows
//   D           84,121,18      selected cells and rows, with white text
//   E           255,199,0      the active cell (the current cell while the grid has the focus)
namespace GridColour {
inline const QColor Background{207, 221, 99};
inline const QColor Second{39, 104, 146};
inline const QColor RowSelector{156, 184, 99};
inline const QColor Header{156, 184, 99};
inline const QColor HeaderText{255, 255, 255};
inline const QColor Cell{255, 255, 255};
inline const QColor Selected{84, 121, 18};
inline const QColor SelectedText{255, 255, 255};
inline const QColor ActiveCell{255, 199, 0};
} // namespace GridColour

// Paints the grid's cells in the appearances above (cell, selected, active cell); the
// drawing itself is the style's.
class GridCellDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // An open editor follows changes of its cell's value until the user types into it; from
    // then on it keeps what was typed, whatever the list writes into the cell meanwhile.
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace orvello
