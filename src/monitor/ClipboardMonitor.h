#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvello {

class StartStop;
class UiVariables;
class modMain;
struct ProgramSettings;
class RunState;

// Picks video addresses up from the clipboard, adds them to the download list and starts
// downloading: a listener on the clipboard's change notification, switched by Monitor(),
// adds the address, shows it on the UI surface and starts a run when none is going.
// One poll of the clipboard can also be run on request (CallMonTimer); no switch or timer
// of the program polls, since the listener hears every change.
class ClipboardMonitor : public QObject {
    Q_OBJECT
public:
    ClipboardMonitor(ProgramSettings& settings, modMain& list, UiVariables& ui, const RunState& run,
                     StartStop& startStop, QObject* parent = nullptr);

    // Switches the clipboard listener on or off, and the setting with it.
    void Monitor(bool bState);
    bool Listening() const { return bool(listener_); }

    // The hand-over of one copied address: added, shown, and a run started 200 ms later
    // when none is going. An empty text does nothing.
    void txtMonitor_Change(const QString& text);

    // One poll: a new text of a supported address is added and shown, and a run started
    // right after the poll when none is going.
    void tmrMonitor_Timer();
    void CallMonTimer() { tmrMonitor_Timer(); }

    QString sLastClipboard; // the text seen at the last poll

private:
    void ClipboardChanged();
    static QString ClipboardText();

    ProgramSettings& settings_;
    modMain& list_;
    UiVariables& ui_;
    const RunState& run_;
    StartStop& startStop_;
    QMetaObject::Connection listener_;
};

} // namespace orvello
