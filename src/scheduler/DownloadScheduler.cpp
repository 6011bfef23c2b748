#include "scheduler/DownloadScheduler.h"

#include "list/modMain.h"

namespace orvello {

DownloadScheduler::DownloadScheduler(RunState& run, modMain& list, Prompter& prompter,
                                     UiVariables& ui, const ProgramSettings& settings)
    : redirect(prompter, run), pages(download, &redirect, &events), naming(download),
      events(download, run, list, ui), resolver(list, pages, naming),
      runner(run, list, resolver, download, events, ui, settings),
      startStop(run, list, runner, ui, prompter, networkInterfaces) {}

} // namespace orvello
