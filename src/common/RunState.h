#pragma once

#include <QtGlobal>

#include <algorithm>
#include <vector>

namespace orvello {

// The state of the download run. Only the run (QueueRunner) changes it; the list, the window
// and the command line read it.
class RunState {
public:
    // The run is working through the list.
    bool bDownloading() const { return downloading_; }
    // The user confirmed a stop of the run under way.
    bool bStopRequested() const { return stopRequested_; }
    // The entries being worked on, in the order they were started.
    const std::vector<quint64>& runningKeys() const { return running_; }
    bool IsRunning(quint64 key) const {
        return std::find(running_.begin(), running_.end(), key) != running_.end();
    }
    // The identity (DownloadItem::Key) of the entry the run works on, the first of those
    // running; 0 for none. The list finds that entry wherever it is moved (its index is
    // modMain::iCurrentItem), and nothing more is written to it once it is removed.
    quint64 currentKey() const { return running_.empty() ? 0 : running_.front(); }

private:
    friend class QueueRunner;
    friend struct RunStateProbe; // tests set a running entry without a run
    bool downloading_ = false;
    bool stopRequested_ = false;
    std::vector<quint64> running_;
};

} // namespace orvello
