#pragma once

#include <QtGlobal>

#include <cstdint>

namespace orvello {

// The run state of the main window, read and written across subsystems while a
// download run goes on (the run handles the user's other commands inside itself).
struct RunState {
    bool bDownloading = false;   // the queue runner is working through the list
    bool bStopRequested = false; // the user confirmed a stop
    // The identity (DownloadItem::Key) of the entry being worked on, 0 for none. The list
    // finds that entry wherever it is moved (its index is modMain::iCurrentItem), and nothing
    // more is written to it once it is removed.
    quint64 currentKey = 0;
};

} // namespace orvello
