#pragma once

#include "resolve/EntryResolver.h"
#include "resolve/PageDriver.h"
#include "resolve/YoutubeRedirect.h"
#include "scheduler/Connectivity.h"
#include "scheduler/LocalFileNaming.h"
#include "scheduler/QueueRunner.h"
#include "scheduler/StartStop.h"
#include "scheduler/TransferEvents.h"
#include "transfer/Download.h"

namespace orvello {

class Prompter;
class UiVariables;
class modMain;
struct ProgramSettings;
struct RunState;

// The download machinery of the main window: the one transfer component that every page
// fetch, header request and video transfer uses, the redirect resolution, the page driver,
// the local naming, the transfer-event handling, the entry resolution, the queue runner and
// the start/stop operation, wired together.
class DownloadScheduler {
public:
    DownloadScheduler(RunState& run, modMain& list, Prompter& prompter, UiVariables& ui,
                      const ProgramSettings& settings);
    DownloadScheduler(const DownloadScheduler&) = delete;
    DownloadScheduler& operator=(const DownloadScheduler&) = delete;

    Download download;
    YoutubeRedirect redirect;
    PageDriver pages;
    LocalFileNaming naming;
    TransferEvents events;
    EntryResolver resolver;
    QueueRunner runner;
    NetworkInterfaces networkInterfaces;
    StartStop startStop;
};

} // namespace orvello
