#include "scheduler/StartStop.h"

#include "common/Prompter.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "scheduler/Connectivity.h"
#include "scheduler/QueueRunner.h"

namespace orvello {

StartStop::StartStop(const RunState& run, modMain& list, QueueRunner& runner, Prompter& prompter,
                     Connectivity& connectivity)
    : run_(run), list_(list), runner_(runner), prompter_(prompter), connectivity_(&connectivity) {
    tmrDownload.setSingleShot(true);
    tmrDownload.setInterval(200);
    connect(&tmrDownload, &QTimer::timeout, this, &StartStop::tmrDownload_Timer);
    connect(&runner_, &QueueRunner::RunEnded, this, &StartStop::Ended);
}

void StartStop::tmrDownload_Timer() {
    tmrDownload.stop();
    cmdStartDownload_Click();
}

bool StartStop::IsConnected() {
    return connectivity_->IsConnected();
}

void StartStop::setStopOffered(bool offered) {
    stopOffered_ = offered;
    emit StopOfferedChanged(offered);
}

bool StartStop::ConfirmStop() {
    const MsgAnswer answer =
        prompter_.MsgBox({QStringLiteral("Are you sure that you want to cancel downloading?"),
                          MsgButtons::YesNo, MsgIcon::Question, kAppTitle});
    if (answer != MsgAnswer::Yes)
        return false;
    setStopOffered(false);
    emit ControlsChanged(RunControls::Stopped);
    runner_.Stop(); // what runs stops at once, and the run ends
    return true;
}

void StartStop::cmdStartDownload_Click() {
    if (list_.IsDownloadListEmpty()) {
        emit ControlsChanged(RunControls::NothingToDo);
        prompter_.MsgBox({QStringLiteral("Please add video URL's first."), MsgButtons::Ok,
                          MsgIcon::Exclamation, QStringLiteral("Empty List")});
        return;
    }

    if (StopOffered()) {
        ConfirmStop();
        return;
    }

    // A run that is still going without offering its stop: a second run never begins inside
    // it.
    if (run_.bDownloading())
        return;
    if (!IsConnected()) {
        prompter_.MsgBox({QStringLiteral("You are not connected to the internet, Please connect "
                                         "first then try again"),
                          MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle});
        return;
    }
    setStopOffered(true);
    emit ControlsChanged(RunControls::Running);
    runner_.StartDownloading(); // returns at once; Ended follows
}

void StartStop::Ended(int complete, int failed) {
    emit RunEnded(complete, failed);
    // A stopped run: the stop has switched the controls back already.
    if (!run_.bStopRequested()) {
        stopOffered_ = false;
        emit ControlsChanged(RunControls::Ended);
        setStopOffered(false);
    }
}

} // namespace orvello
