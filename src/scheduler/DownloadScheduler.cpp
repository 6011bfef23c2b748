#include "scheduler/DownloadScheduler.h"

#include "list/modMain.h"

namespace orvello {

DownloadScheduler::DownloadScheduler(RunState& run, modMain& list, Prompter& prompter,
                                     UiVariables& ui, const ProgramSettings& settings)
    : session(), needs{.session = session,
                       .prompter = prompter,
                       .purpose = &events,
                       .limits = {},
                       .cookieFile = {},
                       .retry = {}},
      events(list, ui), entries{list, events, naming, settings, needs, records},
      runner(run, list, ui, entries),
      startStop(run, list, runner, ui, prompter, networkInterfaces) {}

} // namespace orvello
