#pragma once

#include <QObject>

#include <functional>

class QWidget;

namespace orvello {

// Two small interventions in the main window's events, installed at start-up and removed
// at shutdown: the surface never opens a context menu of its own (right button press and
// the context-menu key are swallowed), and the mouse wheel over the window scrolls the
// download grid one row per wheel event while the grid is the window's active control.
// Every other event passes on unchanged, the wheel events included.
class modhook : public QObject {
    Q_OBJECT
public:
    struct Grid {
        std::function<bool()> isActive;
        std::function<void()> ScrollUp;
        std::function<void()> ScrollDown;
    };

    modhook(QWidget& mainWindow, QWidget& flash, Grid grid);

    void HookFlashWindow(bool bOn);
    void HookMainWindow(bool bOn);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool FlashWndProc(QEvent* event);
    void MainWndProc(QEvent* event);

    QWidget& main_;
    QWidget& flash_;
    Grid grid_;
    bool flashHooked_ = false;
    bool mainHooked_ = false;
};

} // namespace orvello
