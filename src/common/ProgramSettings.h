#pragma once

#include <QString>

#include <cstdint>

namespace orvello {

// The settings every part of the program reads while it runs; loaded at start-up and saved
// when the user changes them.
struct ProgramSettings {
    // The most entries that may be downloaded at a time.
    static constexpr int kMostSimultaneous = 8;

    bool bMonitorClipboard = false; // watching the clipboard for video addresses
    QString sDownloadDir;           // the folder the videos are downloaded into
    int iSimultaneous = 1;          // entries downloaded at a time, 1 to 8
    std::int64_t lSpeedLimit = 0;   // bytes a second all downloads together may come at; 0: none
    bool bAnySite = false;          // an address no site knows is searched for a video
    QString sCookieFile = {};       // a cookies.txt read for every request; empty: none
};

} // namespace orvello
