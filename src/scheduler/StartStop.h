#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvello {

class Connectivity;
class Prompter;
class QueueRunner;
class UiVariables;
class modMain;
struct RunState;

// The one operation that starts and stops downloading, and the short timer that starts it
// outside the handler of the event that asked for it. Which of the two it does depends on
// whether a run is going that can still be stopped; the start/stop caption says the same,
// and the tray menu's item always carries that caption.
class StartStop : public QObject {
    Q_OBJECT
public:
    static inline const QString kStart = QStringLiteral("Start Downloading");
    static inline const QString kStop = QStringLiteral("Stop Downloading");

    StartStop(RunState& run, modMain& list, QueueRunner& runner, UiVariables& ui,
              Prompter& prompter, Connectivity& connectivity);

    // Starts a run and returns when it has ended, or, while one is going, asks the user to
    // confirm and requests the stop.
    void cmdStartDownload_Click();
    // Asks the user to confirm the stop of the run under way and, on Yes, requests it:
    // the run winds down once the transfer under way has seen the request. True when the
    // stop was requested.
    bool ConfirmStop();
    // True while the start/stop caption offers the stop: a run is going and no stop was
    // requested yet (a stopped run still winding down shows the start caption).
    bool StopOffered() const { return stopOffered_; }
    void tmrDownload_Timer();
    bool IsConnected();

    const QString& cmdStartDownloadCaption() const { return stopOffered_ ? kStop : kStart; }
    const QString& mnuDownloadCaption() const { return mnuDownload_; }
    void setConnectivity(Connectivity& connectivity) { connectivity_ = &connectivity; }

    QTimer tmrDownload; // 200 ms, single shot; started by the start command and the monitor

signals:
    // The tray menu's item shows this caption.
    void mnuDownloadCaptionChanged(const QString& caption);
    // A run has ended (by itself or stopped): how many of its entries completed and failed.
    void RunEnded(int complete, int failed);

private:
    void setMenuCaption(const QString& caption);
    void setRunVariables(const char* value, bool startFirst);

    RunState& run_;
    modMain& list_;
    QueueRunner& runner_;
    UiVariables& ui_;
    Prompter& prompter_;
    Connectivity* connectivity_;
    bool stopOffered_ = false; // a run is going and no stop was requested yet
    QString mnuDownload_ = kStart;
};

} // namespace orvello
