#include "scheduler/DownloadScheduler.h"

#include "list/modMain.h"

namespace orvello {

DownloadScheduler::DownloadScheduler(RunState& run, modMain& list, Prompter& prompter,
                                     const ProgramSettings& settings)
    : session(), needs{.session = session,
                       .prompter = prompter,
                       .purpose = &events,
                       .limits = {},
                       .cookieFile = {},
                       .retry = {}},
      events(list), entries{list, events, naming, settings, needs, records},
      runner(run, list, entries), startStop(run, list, runner, prompter, networkInterfaces) {}

} // namespace orvello
