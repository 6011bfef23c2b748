#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvello {

class StartStop;
class UiVariables;
class modMain;
struct ProgramSettings;
struct RunState;

// Picks video addresses up from the clipboard, adds them to the download list and starts
// downloading. Two ways: a listener on the clipboard's change notification, switched by
// Monitor(), and a poll every 2000 ms, switched by chkMonitor_Click(). Both end in the same
// steps: add the address, show it on the UI surface, start a run when none is going.
class ClipboardMonitor : public QObject {
    Q_OBJECT
public:
    ClipboardMonitor(ProgramSettings& settings, modMain& list, UiVariables& ui, RunState& run,
                     StartStop& startStop, QObject* parent = nullptr);

    // Switches the clipboard listener on or off, and the setting with it.
    void Monitor(bool bState);
    bool Listening() const { return bool(listener_); }

    // The hand-over of one copied address: added, shown, and a run started 200 ms later
    // when none is going. An empty text does nothing.
    void txtMonitor_Change(const QString& text);

    // Polling: switched on (taking the clipboard's current text as new) or off.
    void chkMonitor_Click();
    void tmrMonitor_Timer();
    void CallMonTimer() { tmrMonitor_Timer(); }

    QTimer tmrMonitor;      // 2000 ms while polling
    QString sLastClipboard; // the text seen at the last poll

private:
    void ClipboardChanged();
    static QString ClipboardText();

    ProgramSettings& settings_;
    modMain& list_;
    UiVariables& ui_;
    RunState& run_;
    StartStop& startStop_;
    QMetaObject::Connection listener_;
};

} // namespace orvello
