#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <chrono>

class QWidget;

namespace orvello {

// Lets a window redraw at most once per display frame. Qt redraws a widget window once for
// every pass of the event loop in which something changed, so a burst of changes (thousands
// of addresses added one by one, each with its own pass) would be drawn thousands of times
// although the screen shows only one frame in each refresh. A redraw asked for within a
// frame of the last one is postponed to the frame's end and then made with everything
// changed by then; nothing asked for is ever dropped.
class FramePacer : public QObject {
public:
    static constexpr std::chrono::milliseconds kFrame{16};

    explicit FramePacer(QWidget* window, std::chrono::milliseconds frame = kFrame);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void redrawNow();

    QWidget* m_window;
    std::chrono::milliseconds m_frame;
    QElapsedTimer m_sinceRedraw;
    QTimer m_frameEnd;
    bool m_due = false; // the postponed redraw is on its way
};

} // namespace orvello
