#include "scheduler/DownloadScheduler.h"

#include "list/modMain.h"

namespace orvello {

DownloadScheduler::DownloadScheduler(RunState& run, modMain& list, Prompter& prompter)
    : redirect(prompter, run), pages(download, &redirect), naming(download),
      events(download, pages, run, list), resolver(list, pages, naming) {}

} // namespace orvello
