#include "app/GridCellDelegate.h"

#include <QLineEdit>

namespace orvello {

namespace {

GridColours& coloursInForce() {
    static GridColours colours;
    return colours;
}

} // namespace

const GridColours& CurrentGridColours() {
    return coloursInForce();
}

void SetGridColours(const GridColours& colours) {
    // Assigned in place: the GridColour names refer to these members.
    coloursInForce() = colours;
}

void GridCellDelegate::initStyleOption(QStyleOptionViewItem* option,
                                       const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    option->backgroundBrush = GridColour::Cell;
    option->palette.setColor(QPalette::Highlight, GridColour::Selected);
    option->palette.setColor(QPalette::HighlightedText, GridColour::SelectedText);
    if (option->state & QStyle::State_HasFocus) {
        // The active cell stands out, selected or not, with the ordinary text colour.
        option->backgroundBrush = GridColour::ActiveCell;
        option->palette.setColor(QPalette::Highlight, GridColour::ActiveCell);
        option->palette.setColor(QPalette::HighlightedText, option->palette.color(QPalette::Text));
    }
}

void GridCellDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    if (const auto* line = qobject_cast<const QLineEdit*>(editor); line && line->isModified())
        return;
    QStyledItemDelegate::setEditorData(editor, index);
}

} // namespace orvello
