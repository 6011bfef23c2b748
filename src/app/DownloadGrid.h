#pragma once

#include "list/GridBinding.h"

#include <QStringList>
#include <QTableView>

namespace orvello {

class GridCellDelegate;
class ProgressDelegate;

// The download grid: shows the list's display copy, one row per entry, and lets the user
// select rows and cells and rename an entry's local file in place. The list binds it and
// applies its layout through GridBinding; the window shows it and forwards the wheel to it.
class DownloadGrid : public QTableView, public GridBinding {
    Q_OBJECT
public:
    explicit DownloadGrid(QWidget* parent = nullptr);
    ~DownloadGrid() override;

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

private:
    bool isActiveControl() const;
    void applyCaptions();
    // Frees the selection models that a binding left behind: QTableView::setModel keeps
    // the old one, and each header makes one of its own that the table's then replaces.
    void freeReplacedSelectionModels();

    GridCellDelegate* m_cells;
    ProgressDelegate* m_progress;
    QStringList m_captions; // by column position, once the layout was applied
};

} // namespace orvello
