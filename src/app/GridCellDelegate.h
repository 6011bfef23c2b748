#pragma once

#include <QColor>
#include <QStyledItemDelegate>

namespace orvello {

// The download grid's colours and where each one goes. The values are the surface theme's
// (its grid* colours, which the window hands over once the surface has loaded); until then,
// and for a surface without them, these:
//   background     207,221,99     the grid's background, around and below the rows
//   lines          39,104,146     the grid lines and the header borders
//   rowSelector    156,184,99     the row selectors and the corner button
//   header         156,184,99     the column headers, with white captions
//   cell           white          the cells of the rows
//   selected       84,121,18      selected cells and rows, with white text
//   activeCell     255,199,0      the active cell (the current cell while the grid has the focus)
struct GridColours {
    QColor background{207, 221, 99};
    QColor lines{39, 104, 146};
    QColor rowSelector{156, 184, 99};
    QColor header{156, 184, 99};
    QColor headerText{255, 255, 255};
    QColor cell{255, 255, 255};
    QColor selected{84, 121, 18};
    QColor selectedText{255, 255, 255};
    QColor activeCell{255, 199, 0};

    friend bool operator==(const GridColours&, const GridColours&) = default;
};

// The colours in force, which every grid draws with. The grid's style sheet takes them when
// its layout is applied; the cells take them as they are drawn.
const GridColours& CurrentGridColours();
void SetGridColours(const GridColours& colours);

// The colours in force by name, as the grid's drawing reads them.
namespace GridColour {
inline const QColor& Background = CurrentGridColours().background;
inline const QColor& Second = CurrentGridColours().lines;
inline const QColor& RowSelector = CurrentGridColours().rowSelector;
inline const QColor& Header = CurrentGridColours().header;
inline const QColor& HeaderText = CurrentGridColours().headerText;
inline const QColor& Cell = CurrentGridColours().cell;
inline const QColor& Selected = CurrentGridColours().selected;
inline const QColor& SelectedText = CurrentGridColours().selectedText;
inline const QColor& ActiveCell = CurrentGridColours().activeCell;
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
