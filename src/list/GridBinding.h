#pragma once

#include <stdexcept>

namespace orvello {

class DownloadTableModel;

// What the list needs of the grid widget: binding it to a display copy (or to nothing)
// and applying the full column layout. The window implements it with a QTableView; tests
// with a plain recorder.
class GridBinding {
public:
    virtual ~GridBinding() = default;
    // Binds the grid to model; nullptr leaves the grid empty and unbound.
    virtual void SetDataSource(DownloadTableModel* model) = 0;
    // Captions, widths, editability and colours of the columns of the bound model.
    virtual void ApplyLayout() = 0;
};

// A failure with a number and a description, reported by the list fill's message box.
struct ListError : std::runtime_error {
    ListError(int number, const char* description)
        : std::runtime_error(description), number(number) {}
    int number;
};

} // namespace orvello
