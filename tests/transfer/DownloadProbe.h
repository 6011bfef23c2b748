#pragma once

#include "transfer/CurlSession.h"
#include "transfer/Download.h"

namespace orvello {

// What the tests look at inside a Download: its connection-keeping session.
struct DownloadProbe {
    static bool SessionOpen(const Download& d) { return d.hSession != nullptr; }
    // How many sessions the instance has opened so far.
    static int SessionsOpened(const Download& d) { return d.sessionsOpened_; }
};

} // namespace orvello
