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
class RunState;

// The one operation that starts and stops downloading, and the short timer that starts it
// outside the handler of the event that asked for it. Which of the two it does depends on
// whether a run is going that can still be stopped; the start/stop caption says the same,
// and the tray menu's item always carries that caption.
class StartStop : public QObject {
    Q_OBJECT
public:
    static inline const QString kStart = QStringLiteral("Start Downloading");
    static inline const QString kStop = QStringLiteral("Stop Downloading");

    StartStop(const RunState& run, modMain& list, QueueRunner& runner, UiVariables& ui,
              Prompter& prompter, Connectivity& connectivity);

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
    // The run has ended: the controls go back to their idle look unless a stop did that.
    void Ended(int complete, int failed);
    void setMenuCaption(const QString& caption);
    void setRunVariables(const char* value, bool startFirst);

    const RunState& run_;
    modMain& list_;
    QueueRunner& runner_;
    UiVariables& ui_;
    Prompter& prompter_;
    Connectivity* connectivity_;
    bool stopOffered_ = false; // a run is going and no stop was requested yet
    QString mnuDownload_ = kStart;
};

} // namespace orvello
