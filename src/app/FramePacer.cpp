#include "app/FramePacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

namespace orvello {

FramePacer::FramePacer(QWidget* window, std::chrono::milliseconds frame)
    : QObject(window), m_window(window), m_frame(frame) {
    m_frameEnd.setSingleShot(true);
    m_frameEnd.setTimerType(Qt::PreciseTimer);
    connect(&m_frameEnd, &QTimer::timeout, this, &FramePacer::redrawNow);
    window->installEventFilter(this);
}

bool FramePacer::eventFilter(QObject* watched, QEvent* event) {
    // The window's redraw request: Qt sends it once and then waits for it to be handled
    // before it sends another, so one postponed here stands for every change until then.
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    const qint64 since = m_sinceRedraw.isValid() ? m_sinceRedraw.elapsed() : m_frame.count();
    if (m_due || since >= m_frame.count()) {
        m_due = false;
        m_frameEnd.stop();
        m_sinceRedraw.start();
        return false; // the window redraws now
    }
    if (!m_frameEnd.isActive())
        m_frameEnd.start(std::chrono::milliseconds(m_frame.count() - since));
    return true;
}

void FramePacer::redrawNow() {
    m_due = true;
    QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

} // namespace orvello
