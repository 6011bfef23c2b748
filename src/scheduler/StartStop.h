#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvello {

class Connectivity;
class Prompter;
class QueueRunner;
class modMain;
class RunState;

// What the start and stop controls show, as StartStop changes them. The window draws each on
// its surface; the command line has no such controls.
enum class RunControls {
    Running,    // a run began: the controls offer the stop
    Stopped,    // the user stopped the run: back to the idle look at once
    Ended,      // the run ended by itself: back to the idle look
    NothingToDo // the start command found the list empty: the start control is let go
};

// The one operation that starts and stops downloading, and the short timer that starts it
// outside the handler of the event that asked for it. Which of the two it does depends on
// whether a run is going that can still be stopped (StopOffered); the window's start/stop
// caption and its tray menu's item follow that.
class StartStop : public QObject {
    Q_OBJECT
public:
    StartStop(const RunState& run, modMain& list, QueueRunner& runner, Prompter& prompter,
              Connectivity& connectivity);

    // Starts a run (it goes on from the event loop, and RunEnded tells its end), or, while one
    // is going, asks the user to confirm and stops it.
    void cmdStartDownload_Click();
    // Asks the user to confirm the stop of the run under way and, on Yes, stops it: what runs
    // stops at once and the run ends. True when the run was stopped.
    bool ConfirmStop();
    // True while the start/stop caption offers the stop: a run is going and no stop was
    // requested yet.
    bool StopOffered() const { return stopOffered_; }
    void tmrDownload_Timer();
    bool IsConnected();

    void setConnectivity(Connectivity& connectivity) { connectivity_ = &connectivity; }

    QTimer tmrDownload; // 200 ms, single shot; started by the start command and the monitor

signals:
    // StopOffered changed: the start/stop caption and the tray menu's item follow it.
    void StopOfferedChanged(bool offered);
    // The controls changed their look.
    void ControlsChanged(orvello::RunControls controls);
    // A run has ended (by itself or stopped): how many of its entries completed and failed.
    void RunEnded(int complete, int failed);

private:
    // The run has ended: the controls go back to their idle look unless a stop did that.
    void Ended(int complete, int failed);
    void setStopOffered(bool offered);

    const RunState& run_;
    modMain& list_;
    QueueRunner& runner_;
    Prompter& prompter_;
    Connectivity* connectivity_;
    bool stopOffered_ = false; // a run is going and no stop was requested yet
};

} // namespace orvello
