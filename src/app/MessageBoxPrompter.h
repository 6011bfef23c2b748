#pragma once

#include "common/Prompter.h"

class QWidget;

namespace orvello {

// Shows the core's message boxes as modal QMessageBoxes over the main window.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent) : m_parent(parent) {}
    MsgAnswer MsgBox(const MsgRequest& request) override;

private:
    QWidget* m_parent;
};

} // namespace orvello
