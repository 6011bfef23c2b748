#pragma once

#include "common/Prompter.h"

#include <QString>

class QWidget;

namespace orvello {

// Shows the core's message boxes as modal QMessageBoxes over the main window.
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent) : m_parent(parent) {}
    MsgAnswer MsgBox(const MsgRequest& request) override;
    // The text as the box shows it: every line end (CR LF, or a bare CR) becomes a break.
    static QString DisplayText(QString text);

private:
    QWidget* m_parent;
};

} // namespace orvello
