#pragma once

#include <QtGlobal>

#include <cstdint>

namespace orvello {

// The run state of the main window, read and written across subsystems while a
// download run goes on (the run handles the user's other commands inside itself).
struct RunState {
    bool bDownloading = false;   // the queue runner is working through the list
    bool bStopRequested = false; // the user confirmed a stop
    int16_t iCurrentItem = 0;    // index of the entry being worked on (its ID - 1)
    // The identity (DownloadItem::Key) of the entry being worked on, 0 for none. While it is
    // set, the list keeps iCurrentItem on that entry when entries are removed or moved, and
    // sets it to -1 when the entry itself is removed.
    quint64 currentKey = 0;
};

} // namespace orvello
