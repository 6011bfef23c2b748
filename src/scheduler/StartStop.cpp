#include "scheduler/StartStop.h"

#include "common/Prompter.h"
#include "common/RunState.h"
#include "common/UiVariables.h"
#include "list/modMain.h"
#include "scheduler/Connectivity.h"
#include "scheduler/QueueRunner.h"

namespace orvello {

StartStop::StartStop(const RunState& run, modMain& list, QueueRunner& runner, UiVariables& ui,
                     Prompter& prompter, Connectivity& connectivity)
    : run_(run), list_(list), runner_(runner), ui_(ui), prompter_(prompter),
      connectivity_(&connectivity) {
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

void StartStop::setMenuCaption(const QString& caption) {
    mnuDownload_ = caption;
    emit mnuDownloadCaptionChanged(caption);
}

// The three variables that switch the surface between its idle and running look.
void StartStop::setRunVariables(const char* value, bool startFirst) {
    const QString v = QString::fromLatin1(value);
    if (startFirst)
        ui_.SetUiVariable(QStringLiteral("_root.startDownload"), v);
    ui_.SetUiVariable(QStringLiteral("_root.downloadBtn"), v);
    if (!startFirst)
        ui_.SetUiVariable(QStringLiteral("_root.startDownload"), v);
    ui_.SetUiVariable(QStringLiteral("_root.downloadTab"), v);
}

bool StartStop::ConfirmStop() {
    const MsgAnswer answer =
        prompter_.MsgBox({QStringLiteral("Are you sure that you want to cancel downloading?"),
                          MsgButtons::YesNo, MsgIcon::Question, kAppTitle});
    if (answer != MsgAnswer::Yes)
        return false;
    stopOffered_ = false;
    setMenuCaption(kStart);
    setRunVariables("1", false);
    runner_.Stop(); // what runs stops at once, and the run ends
    return true;
}

void StartStop::cmdStartDownload_Click() {
    if (list_.IsDownloadListEmpty()) {
        ui_.SetUiVariable(QStringLiteral("_root.startDownload"), QStringLiteral("1"));
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
    stopOffered_ = true;
    setMenuCaption(kStop);
    setRunVariables("0", false);
    runner_.StartDownloading(); // returns at once; Ended follows
}

void StartStop::Ended(int complete, int failed) {
    emit RunEnded(complete, failed);
    // A stopped run: the stop has switched the controls back already.
    if (!run_.bStopRequested()) {
        stopOffered_ = false;
        setRunVariables("1", true);
        setMenuCaption(kStart);
    }
}

} // namespace orvello
