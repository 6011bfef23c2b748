#include "modhook.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace orvello {

modhook::modhook(QWidget& mainWindow, QWidget& flash, Grid grid)
    : main_(mainWindow), flash_(flash), grid_(std::move(grid)) {}

void modhook::HookFlashWindow(bool bOn) {
    if (bOn != flashHooked_)
        bOn ? flash_.installEventFilter(this) : flash_.removeEventFilter(this);
    flashHooked_ = bOn;
}

void modhook::HookMainWindow(bool bOn) {
    // The window sees a wheel event when the control under the pointer (the surface, as a
    // rule) leaves it unhandled and it passes on to the window.
    if (bOn != mainHooked_)
        bOn ? main_.installEventFilter(this) : main_.removeEventFilter(this);
    mainHooked_ = bOn;
}

bool modhook::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &main_ && event->type() == QEvent::Wheel)
        MainWndProc(event);
    return watched == &flash_ && FlashWndProc(event);
}

bool modhook::FlashWndProc(QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        return static_cast<QMouseEvent*>(event)->button() == Qt::RightButton;
    case QEvent::KeyPress:
        return static_cast<QKeyEvent*>(event)->key() == Qt::Key_Menu;
    case QEvent::ContextMenu:
        return true;
    default:
        return false;
    }
}

void modhook::MainWndProc(QEvent* event) {
    const QPoint angle = static_cast<QWheelEvent*>(event)->angleDelta();
    if (angle.y() == 0 && angle.x() != 0)
        return; // a sideways wheel is no scroll of the list
    if (!grid_.isActive || !grid_.isActive())
        return;
    // One step per wheel event whatever its size: forward (away from the user) moves the
    // list down, backward moves it up.
    if (angle.y() >= 0)
        grid_.ScrollDown();
    else
        grid_.ScrollUp();
}

} // namespace orvello
