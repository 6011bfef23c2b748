#pragma once

#include <QString>

namespace orvello {

// The two settings every part of the program reads while it runs; loaded at start-up and
// saved when the user changes them.
struct ProgramSettings {
    bool bMonitorClipboard = false; // watching the clipboard for video addresses
    QString sDownloadDir;           // the folder the videos are downloaded into
};

} // namespace orvello
