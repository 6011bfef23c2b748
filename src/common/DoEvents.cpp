#include "common/DoEvents.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace orvello {

namespace {
using Clock = std::chrono::steady_clock;
// How close together two DoEvents() calls may be before the second is skipped.
constexpr std::chrono::microseconds g_interval{4000};
Clock::time_point g_lastRun{};
} // namespace

void DoEvents() {
    const auto now = Clock::now();
    if (g_interval.count() > 0 && now - g_lastRun < g_interval)
        return;
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    g_lastRun = Clock::now();
}

void WaitForEvents(std::chrono::milliseconds maxWait) {
    // The timer bounds the wait: its expiry is itself an event that ends it.
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(maxWait);
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    g_lastRun = Clock::now();
}

bool DoEventsFor(const QObject* self) {
    const QPointer<const QObject> alive(self);
    DoEvents();
    return !alive.isNull();
}

bool WaitForEventsFor(const QObject* self, std::chrono::milliseconds maxWait) {
    const QPointer<const QObject> alive(self);
    WaitForEvents(maxWait);
    return !alive.isNull();
}

} // namespace orvello
