#pragma once

#include "list/DownloadTableModel.h"
#include "list/GridBinding.h"

#include <functional>

namespace orvello::test {

// A grid that remembers what it was bound to and how often its layout was applied.
class RecordingGrid : public GridBinding {
public:
    DownloadTableModel* bound = nullptr;
    int binds = 0;
    int unbinds = 0;
    int layouts = 0;
    std::function<void()> onBind;   // may throw to simulate a failing grid
    std::function<void()> onLayout; // likewise, for the layout step

    void SetDataSource(DownloadTableModel* model) override {
        if (model && onBind)
            onBind();
        bound = model;
        model ? ++binds : ++unbinds;
    }
    void ApplyLayout() override {
        if (onLayout)
            onLayout();
        ++layouts;
    }
};

} // namespace orvello::test
