#include "app/DownloadGrid.h"

#include "app/GridCellDelegate.h"
#include "app/ProgressDelegate.h"
#include "list/DownloadTableModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QScrollBar>

#include <cstring>
#include <utility>

namespace orvello {

namespace {

constexpr int kMinimumColumnWidth = 8;
constexpr int kRowSelectorWidth = 12;

// The columns of the layout, found by their keys.
struct ColumnLayout {
    const char* key;
    const char* caption;
    int twips;
};
constexpr ColumnLayout kColumns[] = {
    {"ID", " ", 300},
    {"Video_URL", "Video URL", 3800},
    {"FileName", "Local File Name", 1800},
    {"Status", "Download Status", 1700},
    {"FileSize", "File Size", 750},
};

const ColumnLayout* layoutOf(int column) {
    const char* key = DownloadTableModel::columnKey(column);
    for (const ColumnLayout& c : kColumns) {
        if (std::strcmp(c.key, key) == 0)
            return &c;
    }
    return nullptr;
}

QString rgb(const QColor& c) {
    return QStringLiteral("rgb(%1,%2,%3)").arg(c.red()).arg(c.green()).arg(c.blue());
}

// The colours the style draws: background, grid lines, headers, row selectors and corner.
// The cells' own colours are the cell delegate's.
QString gridStyleSheet() {
    const QString border = QStringLiteral("1px solid ") + rgb(GridColour::Second);
    const QString section =
        QStringLiteral("border: none; border-right: %1; border-bottom: %1;").arg(border);
    return QStringLiteral("QTableView { background-color: %1; gridline-color: %2; }\n"
                          "QHeaderView::section:horizontal { background-color: %3; color: %4; "
                          "padding: 0 3px; %5 }\n"
                          "QHeaderView::section:vertical { background-color: %6; %5 }\n"
                          "QTableCornerButton::section { background-color: %6; %5 }")
        .arg(rgb(GridColour::Background), rgb(GridColour::Second), rgb(GridColour::Header),
             rgb(GridColour::HeaderText), section, rgb(GridColour::RowSelector));
}

// The row selectors: blank sections, all alike, so their size hint does not depend on how
// many there are. Qt's header works it out from up to 200 sections again after every row
// added; this one works it out once and keeps it until the font or style changes.
class RowSelectors : public QHeaderView {
public:
    explicit RowSelectors(QWidget* parent) : QHeaderView(Qt::Vertical, parent) {
        // As the table's own row header: a click selects the row, which it then highlights.
        setSectionsClickable(true);
        setHighlightSections(true);
    }

    QSize sizeHint() const override {
        if (count() == 0)
            return QHeaderView::sizeHint();
        if (!m_hint.isValid())
            m_hint = QHeaderView::sizeHint();
        return m_hint;
    }

protected:
    void changeEvent(QEvent* e) override {
        if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
            m_hint = QSize();
        QHeaderView::changeEvent(e);
    }

private:
    mutable QSize m_hint;
};

} // namespace

DownloadGrid::DownloadGrid(QWidget* parent)
    : QTableView(parent), m_cells(new GridCellDelegate(this)),
      m_progress(new ProgressDelegate(this)) {
    setObjectName(QStringLiteral("DownloadGrid"));
    setVerticalHeader(new RowSelectors(this));
    // One flat band of rows. A click selects a single cell; a row selector (the vertical
    // header) selects its row as a whole; Shift and Ctrl extend the selection.
    setSelectionBehavior(QAbstractItemView::SelectItems);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    horizontalHeader()->setSectionsClickable(false); // a caption selects no column
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setMinimumSectionSize(kMinimumColumnWidth); // the ID column is narrow
    verticalHeader()->setMinimumWidth(kRowSelectorWidth);    // blank, so its text gives no width
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem); // a scroll step is one row
    setWordWrap(false);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers); // until the layout is applied
    setItemDelegate(m_cells);
    m_clickEdit.setSingleShot(true);
    connect(&m_clickEdit, &QTimer::timeout, this, &DownloadGrid::clickEditDue);
}

DownloadGrid::~DownloadGrid() = default;

int DownloadGrid::TwipsToPixels(int twips) {
    return qRound(twips / 15.0);
}

void DownloadGrid::SetDataSource(DownloadTableModel* model) {
    if (model != this->model()) {
        // Another copy, or none: Qt drops the open editor with the old rows.
        if (QWidget* editor = openEditorWidget())
            takeFocusFromEditor(editor);
        cancelClickEdit();
        m_keptEdit.reset();
        disconnect(m_aboutToReset);
        disconnect(m_reset);
        setModel(model);
        freeReplacedSelectionModels();
        if (model) {
            // Connected after setModel, so the view and its selection model have dealt with
            // a reset before the editor opens again.
            m_aboutToReset = connect(model, &QAbstractItemModel::modelAboutToBeReset, this,
                                     &DownloadGrid::keepEditBeforeReset);
            m_reset = connect(model, &QAbstractItemModel::modelReset, this,
                              &DownloadGrid::reopenEditAfterReset);
        }
        // Without columns the headers drop their sections, widths included: the layout is
        // gone until it is applied again.
        if (!model)
            m_captions.clear();
    }
    if (model) {
        applyCaptions();
        if (itemDelegateForColumn(DownloadTableModel::ColStatus) != m_progress)
            setItemDelegateForColumn(DownloadTableModel::ColStatus, m_progress);
    }
}

void DownloadGrid::freeReplacedSelectionModels() {
    const QItemSelectionModel* current = selectionModel();
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(this),
                                    static_cast<QAbstractItemView*>(horizontalHeader()),
                                    static_cast<QAbstractItemView*>(verticalHeader())}) {
        for (QItemSelectionModel* s :
             view->findChildren<QItemSelectionModel*>(Qt::FindDirectChildrenOnly)) {
            // Later, not now: the binding may run from one of their own signals.
            if (s != current)
                s->deleteLater();
        }
    }
}

void DownloadGrid::applyCaptions() {
    QAbstractItemModel* m = model();
    if (!m)
        return;
    const int columns = std::min<int>(m_captions.size(), m->columnCount());
    for (int c = 0; c < columns; ++c)
        m->setHeaderData(c, Qt::Horizontal, m_captions[c]);
}

void DownloadGrid::ApplyLayout() {
    // Captions and widths need the bound columns; at start-up there are none yet.
    const int columns = model() ? model()->columnCount() : 0;
    m_captions.clear();
    for (int c = 0; c < columns; ++c) {
        const ColumnLayout* layout = layoutOf(c);
        m_captions << (layout ? QString::fromLatin1(layout->caption)
                              : QString::fromLatin1(DownloadTableModel::columnKey(c)));
        if (layout)
            setColumnWidth(c, TwipsToPixels(layout->twips));
    }
    applyCaptions();
    // Only the FileName cells are editable (the display copy's flags); typing into one, F2
    // or a double click starts the edit, and so do Return, Enter and the click on a selected
    // cell, which the grid handles itself (keyPressEvent, startClickEdit).
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                    QAbstractItemView::AnyKeyPressed);
    setStyleSheet(gridStyleSheet());
}

void DownloadGrid::ShowDownloadGrid() {
    setVisible(true);
    raise();
}

bool DownloadGrid::isActiveControl() const {
    // The grid's cell editor is part of the grid.
    const QWidget* focus = window()->focusWidget();
    return focus && (focus == this || isAncestorOf(focus));
}

bool DownloadGrid::edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) {
    const bool started = QTableView::edit(index, trigger, event);
    if (started && state() == EditingState && indexWidget(index))
        m_editorCell = index;
    return started;
}

void DownloadGrid::closeEditor(QWidget* editor, QAbstractItemDelegate::EndEditHint hint) {
    if (m_editorCell.isValid() && indexWidget(m_editorCell) == editor) {
        // A press that took the focus from the editor is handled right after this; on the
        // same cell it must not open the editor again.
        m_closedEditorCell = std::exchange(m_editorCell, QPersistentModelIndex());
        QTimer::singleShot(0, this, [this] { m_closedEditorCell = QPersistentModelIndex(); });
    }
    QTableView::closeEditor(editor, hint);
}

void DownloadGrid::mousePressEvent(QMouseEvent* event) {
    cancelClickEdit();
    if (event->button() == Qt::RightButton) {
        // The selection is the row menu's (contextMenuEvent): a right press on a selected
        // row keeps the rest of the selection.
        m_pressedCell = QPersistentModelIndex();
        m_pressedSelected = false;
        setFocus(Qt::MouseFocusReason);
        event->accept();
        return;
    }
    const QModelIndex cell = indexAt(event->position().toPoint());
    m_pressedCell = cell;
    m_pressedSelected = cell.isValid() && event->button() == Qt::LeftButton && selectionModel() &&
                        selectionModel()->isSelected(cell) &&
                        !(m_closedEditorCell.isValid() && m_closedEditorCell == cell);
    QTableView::mousePressEvent(event);
}

void DownloadGrid::mouseReleaseEvent(QMouseEvent* event) {
    const QPersistentModelIndex cell = indexAt(event->position().toPoint());
    const bool selectedClicked = std::exchange(m_pressedSelected, false) &&
                                 state() != EditingState && event->button() == Qt::LeftButton &&
                                 event->modifiers() == Qt::NoModifier && cell.isValid() &&
                                 m_pressedCell == cell;
    QTableView::mouseReleaseEvent(event);
    if (selectedClicked)
        startClickEdit(cell);
}

void DownloadGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    // The double click edits at once; the click before it was its first half.
    cancelClickEdit();
    m_pressedSelected = false;
    QTableView::mouseDoubleClickEvent(event);
}

void DownloadGrid::keyPressEvent(QKeyEvent* event) {
    cancelClickEdit();
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (state() != EditingState) {
        // The menu key comes as a context menu where the window system makes one of it; then
        // the menu is open by now and takes the key itself.
        if ((event->key() == Qt::Key_Menu && modifiers == Qt::NoModifier) ||
            (event->key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
            event->accept();
            requestRowMenu(true, QPoint());
            return;
        }
        if (event->key() == Qt::Key_Delete && modifiers == Qt::NoModifier) {
            event->accept();
            emit removeRequested();
            return;
        }
    }
    // Return and Enter edit the current cell. While an editor is open they come up from it
    // (it commits on them) and are left to the view.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier &&
        state() != EditingState) {
        const QModelIndex cell = currentIndex();
        if (cell.isValid() && (cell.flags() & Qt::ItemIsEditable) &&
            edit(cell, EditKeyPressed, event)) {
            event->accept();
            return;
        }
    }
    QTableView::keyPressEvent(event);
}

bool DownloadGrid::event(QEvent* event) {
    // A right click on a row selector comes up from the header; the scroll area would drop
    // it, as it takes only the clicks on its cells.
    if (event->type() == QEvent::ContextMenu) {
        contextMenuEvent(static_cast<QContextMenuEvent*>(event));
        return true;
    }
    return QTableView::event(event);
}

void DownloadGrid::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    requestRowMenu(event->reason() == QContextMenuEvent::Keyboard, event->globalPos());
}

void DownloadGrid::requestRowMenu(bool fromKeyboard, const QPoint& globalPos) {
    QItemSelectionModel* selection = selectionModel();
    if (!model() || !selection || state() == EditingState)
        return;
    const auto rowSelected = [&](int row) {
        for (int c = 0; c < model()->columnCount(); ++c) {
            if (selection->isSelected(model()->index(row, c)))
                return true;
        }
        return false;
    };
    QPoint at = globalPos;
    if (fromKeyboard) {
        const QModelIndex cell = currentIndex();
        if (cell.isValid()) {
            if (!selection->hasSelection())
                selection->select(cell, QItemSelectionModel::Select);
            const QRect r = visualRect(cell);
            at = viewport()->mapToGlobal(QPoint(r.left() + r.width() / 4, r.bottom()));
        } else {
            at = viewport()->mapToGlobal(QPoint(0, 0));
        }
    } else {
        const QPoint inView = viewport()->mapFromGlobal(globalPos);
        const int row = rowAt(inView.y());
        const int column = columnAt(inView.x());
        if (row >= 0 && !rowSelected(row)) {
            if (column >= 0) {
                selection->setCurrentIndex(model()->index(row, column),
                                           QItemSelectionModel::ClearAndSelect);
            } else { // a row selector: its row as a whole
                selection->setCurrentIndex(model()->index(row, 0),
                                           QItemSelectionModel::ClearAndSelect |
                                               QItemSelectionModel::Rows);
            }
        }
    }
    if (selection->hasSelection())
        emit rowMenuRequested(at);
}

void DownloadGrid::focusOutEvent(QFocusEvent* event) {
    cancelClickEdit();
    QTableView::focusOutEvent(event);
}

void DownloadGrid::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QWidget* editor = openEditorWidget();
    if (editor && !parent.isValid() && m_editorCell.row() >= start && m_editorCell.row() <= end)
        takeFocusFromEditor(editor);
    QTableView::rowsAboutToBeRemoved(parent, start, end);
}

void DownloadGrid::startClickEdit(const QModelIndex& cell) {
    // The click edits where a double click does.
    if (!cell.isValid() || !(cell.flags() & Qt::ItemIsEditable) ||
        !(editTriggers() & QAbstractItemView::DoubleClicked))
        return;
    m_clickEditCell = cell;
    // A second click within the interval makes it a double click, which edits at once.
    m_clickEdit.start(QApplication::doubleClickInterval());
}

void DownloadGrid::cancelClickEdit() {
    m_clickEdit.stop();
    m_clickEditCell = QPersistentModelIndex();
}

void DownloadGrid::clickEditDue() {
    const QModelIndex cell = std::exchange(m_clickEditCell, QPersistentModelIndex());
    // Only while the user is still at it: the grid has the keyboard (so its window is
    // active), nothing is being edited, and the clicked cell is still the current, selected
    // one. Anything else, and the click was just a click.
    if (!cell.isValid() || !hasFocus() || state() == EditingState || currentIndex() != cell ||
        !selectionModel()->isSelected(cell))
        return;
    edit(cell, AllEditTriggers, nullptr);
}

QWidget* DownloadGrid::openEditorWidget() const {
    return m_editorCell.isValid() ? indexWidget(m_editorCell) : nullptr;
}

void DownloadGrid::takeFocusFromEditor(QWidget* editor) {
    // Without the delegate's filter the editor's loss of focus commits nothing.
    if (QAbstractItemDelegate* delegate = itemDelegateForIndex(m_editorCell))
        editor->removeEventFilter(delegate);
    const QWidget* focus = window()->focusWidget();
    if (focus && (focus == editor || editor->isAncestorOf(focus)))
        setFocus(Qt::OtherFocusReason);
}

void DownloadGrid::keepEditBeforeReset() {
    cancelClickEdit();
    m_keptEdit.reset();
    QWidget* editor = openEditorWidget();
    if (!editor)
        return;
    const auto* rows = qobject_cast<const DownloadTableModel*>(model());
    const auto* line = qobject_cast<const QLineEdit*>(editor);
    if (rows && line && rows->record(m_editorCell.row()).Key != 0) {
        KeptEdit kept;
        kept.key = rows->record(m_editorCell.row()).Key;
        kept.text = line->text();
        kept.modified = line->isModified();
        kept.cursor = line->cursorPosition();
        if (line->hasSelectedText()) {
            kept.selectionStart = line->selectionStart();
            kept.selectionLength = line->selectionLength();
        }
        m_keptEdit = std::move(kept);
    }
    takeFocusFromEditor(editor);
}

void DownloadGrid::reopenEditAfterReset() {
    cancelClickEdit();
    if (!m_keptEdit)
        return;
    const KeptEdit kept = *std::exchange(m_keptEdit, std::nullopt);
    const auto* rows = qobject_cast<const DownloadTableModel*>(model());
    const int row = rows ? rows->rowOfKey(kept.key) : -1;
    if (row < 0)
        return; // the entry is gone, and its edit with it
    const QModelIndex cell = rows->index(row, DownloadTableModel::ColFileName);
    setCurrentIndex(cell);
    if (!edit(cell, AllEditTriggers, nullptr))
        return;
    auto* line = qobject_cast<QLineEdit*>(indexWidget(cell));
    if (!line)
        return;
    // Untouched, the editor shows the cell as it is now; typed into, what was typed.
    if (kept.modified) {
        line->setText(kept.text);
        line->setModified(true);
    }
    // The cursor and selection were on that text; on another the editor starts afresh.
    if (line->text() != kept.text)
        return;
    if (kept.selectionLength > 0 && kept.cursor == kept.selectionStart)
        line->setSelection(kept.selectionStart + kept.selectionLength, -kept.selectionLength);
    else if (kept.selectionLength > 0)
        line->setSelection(kept.selectionStart, kept.selectionLength);
    else
        line->setCursorPosition(kept.cursor); // also ends the selection the editor opened with
}

void DownloadGrid::ScrollUp() {
    if (isActiveControl())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

void DownloadGrid::ScrollDown() {
    if (isActiveControl())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

} // namespace orvello
