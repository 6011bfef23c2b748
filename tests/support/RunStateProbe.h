#pragma once

#include "common/RunState.h"

namespace orvello {

// Sets the run state as a run would, for tests of what reads it without a run.
struct RunStateProbe {
    // Makes an entry the running one (0: none).
    static void SetRunning(RunState& run, quint64 key) {
        run.running_.clear();
        if (key != 0)
            run.running_.push_back(key);
    }
    static void SetDownloading(RunState& run, bool downloading, quint64 key = 0) {
        run.downloading_ = downloading;
        SetRunning(run, key);
    }
};

} // namespace orvello
