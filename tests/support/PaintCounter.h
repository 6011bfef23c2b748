#pragma once

#include <QEvent>
#include <QObject>

namespace orvello::test {

// Counts the paint events of the widgets it is installed on, to show that (and how often) a
// view really drew.
class PaintCounter : public QObject {
public:
    long long paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        paints += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

} // namespace orvello::test
