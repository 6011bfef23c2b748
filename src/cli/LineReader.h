#pragma once

#include <QStringList>

namespace orvello::cli {

// The lines of the descriptor up to its end, each trimmed, empty ones left out. Stops early,
// with what was read, when a stop signal comes (StopSignals::Received), which the wait looks
// at every 100 ms.
QStringList ReadLines(int fd);

} // namespace orvello::cli
