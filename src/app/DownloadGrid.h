#pragma once

#include "list/GridBinding.h"

#include <QPersistentModelIndex>
#include <QStringList>
#include <QTableView>
#include <QTimer>

#include <optional>

namespace orvello {

class GridCellDelegate;
class ProgressDelegate;

// The download grid: shows the list's display copy, one row per entry, and lets the user
// select rows and cells and rename an entry's local file in place. The list binds it and
// applies its layout through GridBinding; the window shows it and forwards the wheel to it.
//
// A cell editor opens only on the cell the user asked for, while the grid has the keyboard:
// a double click, F2, Return or Enter, or typing on the current cell, or a click on a cell
// that was already selected, which opens it once the double-click interval has passed, and
// only if by then the grid still has the focus and that cell is still the current one.
// An open editor stays with its entry: when the rows are rebuilt (entries removed or
// moved) it opens again on the entry's new row with what the user typed, and it is dropped
// when its entry is gone; either way the keyboard stays in the grid.
//
// The row menu is asked for by a right click (on a row none of whose cells is selected, that
// cell is selected first; on a row selector, that row), the menu key or Shift+F10 (for the
// selection, or the current cell when nothing is selected); the Delete key asks for the
// selected entries to be removed. The window answers both.
class DownloadGrid : public QTableView, public GridBinding {
    Q_OBJECT
public:
    explicit DownloadGrid(QWidget* parent = nullptr);
    ~DownloadGrid() override;

    using QTableView::edit;

    // GridBinding. Every binding attaches the progress drawing to the Status column again;
    // binding to what the grid is already bound to changes nothing else.
    void SetDataSource(DownloadTableModel* model) override;
    // Captions, widths, editability and colours of the bound copy's columns. The captions
    // carry over to every later copy the grid is bound to, until it is unbound.
    void ApplyLayout() override;

    // Makes the grid visible in front of its siblings.
    void ShowDownloadGrid();
    // One row up or down (the view moves down with ScrollDown), only while the grid is the
    // window's active control.
    void ScrollUp();
    void ScrollDown();

    // A width in twips as pixels at 96 dpi (15 twips a pixel).
    static int TwipsToPixels(int twips);

signals:
    // The row menu, at this place on the screen, for the entries with a selected cell.
    void rowMenuRequested(const QPoint& globalPos);
    // The Delete key: the entries with a selected cell are to be removed.
    void removeRequested();

protected:
    bool event(QEvent* event) override;
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override;
    void closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

protected slots:
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;

private:
    // What an open editor held when the rows were about to be rebuilt.
    struct KeptEdit {
        quint64 key = 0; // the entry it was opened on
        QString text;
        bool modified = false;
        int cursor = 0;
        int selectionStart = -1;
        int selectionLength = 0;
    };

    bool isActiveControl() const;
    // Selects what the row menu is for and asks for it: at the pointer, or, from the
    // keyboard, at the current cell.
    void requestRowMenu(bool fromKeyboard, const QPoint& globalPos);
    // The click on an already selected cell: remembered, then opened by clickEditDue.
    void startClickEdit(const QModelIndex& cell);
    void cancelClickEdit();
    void clickEditDue();
    // The open editor, or nullptr.
    QWidget* openEditorWidget() const;
    // Qt drops the editor of a rebuilt or removed row without committing it; the grid takes
    // the keyboard back first, so it goes neither to the next widget of the window nor, by
    // the delegate's commit on focus-out, into whichever entry the row shows by then.
    void takeFocusFromEditor(QWidget* editor);
    void keepEditBeforeReset();
    void reopenEditAfterReset();
    void applyCaptions();
    // Frees the selection models that a binding left behind: QTableView::setModel keeps
    // the old one, and each header makes one of its own that the table's then replaces.
    void freeReplacedSelectionModels();

    GridCellDelegate* m_cells;
    ProgressDelegate* m_progress;
    QStringList m_captions; // by column position, once the layout was applied

    QTimer m_clickEdit;                    // single shot, the double-click interval
    QPersistentModelIndex m_clickEditCell; // the cell it opens
    QPersistentModelIndex m_pressedCell;
    bool m_pressedSelected = false;           // the pressed cell was selected before the press
    QPersistentModelIndex m_editorCell;       // where the open editor is
    QPersistentModelIndex m_closedEditorCell; // an editor closed during this pass of the loop
    std::optional<KeptEdit> m_keptEdit;
    QMetaObject::Connection m_aboutToReset;
    QMetaObject::Connection m_reset;
};

} // namespace orvello
