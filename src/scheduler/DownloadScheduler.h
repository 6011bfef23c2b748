#pragma once

#include "resolve/PageDriver.h"
#include "scheduler/Connectivity.h"
#include "scheduler/EntryDownload.h"
#include "scheduler/LocalFileNaming.h"
#include "scheduler/PartialRecord.h"
#include "scheduler/QueueRunner.h"
#include "scheduler/StartStop.h"
#include "scheduler/TransferEvents.h"
#include "transfer/CurlSession.h"

namespace orvello {

class Prompter;
class modMain;
struct ProgramSettings;
class RunState;

// The download machinery: one long-lived session for every request (so connections are
// reused across entries and runs), what the resolution of each entry needs, the local naming,
// the transfer-event handling, the run and the start/stop operation, wired together.
class DownloadScheduler {
public:
    DownloadScheduler(RunState& run, modMain& list, Prompter& prompter,
                      const ProgramSettings& settings);
    DownloadScheduler(const DownloadScheduler&) = delete;
    DownloadScheduler& operator=(const DownloadScheduler&) = delete;

    CurlSession session;
    // Limits, the cookies file and the redirect's port and wait; tests shorten them.
    ResolveNeeds needs;
    LocalFileNaming naming;
    TransferEvents events;
    PartialRecords records;
    EntryNeeds entries;
    QueueRunner runner;
    NetworkInterfaces networkInterfaces;
    StartStop startStop;
};

} // namespace orvello
