#include "app/DownloadGrid.h"

#include "app/GridCellDelegate.h"
#include "app/ProgressDelegate.h"
#include "list/DownloadTableModel.h"

#include <QEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QScrollBar>

#include <cstring>

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
}

DownloadGrid::~DownloadGrid() = default;

int DownloadGrid::TwipsToPixels(int twips) {
    return qRound(twips / 15.0);
}

void DownloadGrid::SetDataSource(DownloadTableModel* model) {
    if (model != this->model()) {
        setModel(model);
        freeReplacedSelectionModels();
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
    // or a double click starts the edit.
    setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
                    QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
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

void DownloadGrid::ScrollUp() {
    if (isActiveControl())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
}

void DownloadGrid::ScrollDown() {
    if (isActiveControl())
        verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
}

} // namespace orvello
