#pragma once

#include "app/GridCellDelegate.h"

class QPainter;

namespace orvello {

// Draws the Status cell of a download that comes in with a known size (the row's
// percentage, DownloadTableModel::PercentRole) as a progress bar with the centred caption
// "45%". Every other cell is painted as the grid paints any cell.
class ProgressDelegate : public GridCellDelegate {
    Q_OBJECT
public:
    using GridCellDelegate::GridCellDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// True when the cell is drawn selected. The view marks a cell selected when it lies in any
// selected range, which covers a selected row or column as well.
bool IsCellSelected(const QStyleOptionViewItem& cell);

// Draws one progress cell into cell.rect: the percentage clamped to 0..100, the part up to
// it in bar, the rest in back, and (with showText) the caption centred, in bar outside the
// bar and in back over it. A selected cell is drawn whole in its selection colours (the
// resolved Highlight and HighlightedText of cell.palette) instead.
void DrawProgressCell(QPainter* painter, const QStyleOptionViewItem& cell, qint32 percent,
                      const QColor& bar, const QColor& back, bool showText);

} // namespace orvello
