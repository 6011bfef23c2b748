#pragma once

#include <chrono>

class QObject;

namespace orvello {

// Lets the pending window events run, as every long operation does between its steps.
// Calls closer together than the throttle interval are skipped, so a tight loop that yields
// several times per block is not slowed, while the window still answers within a few ms.
// This helper and WaitForEvents() are the only places that call into the event loop.
void DoEvents();

// Blocks until some event arrives (socket activity, a timer, input) or maxWait passes,
// then lets the pending events run. Used by loops that have nothing to do until the
// network answers, so they sleep instead of spinning.
void WaitForEvents(std::chrono::milliseconds maxWait);

// The same for a caller that an event may delete while they run: false when `self` is gone
// afterwards, and the caller must then touch nothing of itself.
bool DoEventsFor(const QObject* self);
bool WaitForEventsFor(const QObject* self, std::chrono::milliseconds maxWait);

} // namespace orvello
