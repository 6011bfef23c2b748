#include "scheduler/DownloadScheduler.h"

#include "list/modMain.h"

namespace orvello {

DownloadScheduler::DownloadScheduler(RunState& run, modMain& list, Prompter& prompter,
                                     UiVariables& ui, const ProgramSettings& settings)
    : redirect(prompter, run), pages(download, &redirect), naming(download),
      events(download, pages, run, list), resolver(list, pages, naming),
      runner(run, list, resolver, download, ui, settings),
      startStop(run, list, runner, ui, prompter, networkInterfaces) {}

} // namespace orvello
