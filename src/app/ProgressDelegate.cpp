#include "app/ProgressDelegate.h"

#include "list/DownloadTableModel.h"

#include <QApplication>
#include <QPainter>
#include <QRegion>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace orvello {

namespace {

// x to the nearest integer, a value exactly halfway going to the even neighbour (12.5 gives
// 12, 99.5 gives 100), whatever the floating-point rounding mode is.
double roundHalfEven(double x) {
    const double below = std::floor(x);
    const double rest = x - below;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0))
        return below + 1.0;
    return below;
}

bool isStatusCell(const QModelIndex& index) {
    return qobject_cast<const DownloadTableModel*>(index.model()) &&
           std::strcmp(DownloadTableModel::columnKey(index.column()), "Status") == 0;
}

} // namespace

bool IsCellSelected(const QStyleOptionViewItem& cell) {
    return cell.state & QStyle::State_Selected;
}

void ProgressDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    // The common case first, before anything is made for drawing.
    const QVariant percent =
        isStatusCell(index) ? index.data(DownloadTableModel::PercentRole) : QVariant();
    if (percent.isNull()) {
        GridCellDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem cell = option;
    initStyleOption(&cell, index); // the cell's resolved appearance: its selection colours
    // The bar in the highlight colours of the grid's palette, not of the cell's appearance.
    DrawProgressCell(painter, cell, percent.toInt(), option.palette.color(QPalette::Highlight),
                     option.palette.color(QPalette::HighlightedText), true);
}

void DrawProgressCell(QPainter* painter, const QStyleOptionViewItem& cell, qint32 percent,
                      const QColor& bar, const QColor& back, bool showText) {
    const qint32 p = std::clamp<qint32>(percent, 0, 100);
    const bool selected = IsCellSelected(cell);
    const QColor barColour = selected ? cell.palette.color(QPalette::Highlight) : bar;
    const QColor backColour = selected ? cell.palette.color(QPalette::HighlightedText) : back;
    const QRect& r = cell.rect;
    const int barWidth =
        selected ? r.width() : int(roundHalfEven(double(p) / 100.0 * double(r.width())));
    const QRect barRect(r.left(), r.top(), barWidth, r.height());

    painter->save();
    painter->fillRect(r, backColour);
    painter->fillRect(barRect, barColour);
    if (showText) {
        // The caption stays readable where the bar passes under it: in the bar colour
        // beside the bar, in the back colour over it.
        const QString caption = QString::number(p) + QLatin1Char('%');
        const int flags = Qt::AlignCenter | Qt::TextSingleLine;
        painter->setFont(cell.font);
        painter->save();
        painter->setClipRegion(QRegion(r).subtracted(QRegion(barRect)), Qt::IntersectClip);
        painter->setPen(barColour);
        painter->drawText(r, flags, caption);
        painter->restore();
        painter->setClipRect(barRect, Qt::IntersectClip);
        painter->setPen(backColour);
        painter->drawText(r, flags, caption);
    }
    painter->restore();
}

} // namespace orvello
