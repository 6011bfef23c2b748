#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

namespace orvello {

class StartStop;
class modMain;
struct ProgramSettings;
class RunState;

// Picks video addresses up from the clipboard, adds them to the download list and starts
// downloading: a listener on the clipboard's change notification, switched by Monitor(),
// adds the address, tells it (AddressTaken: the window shows it) and starts a run when none
// is going.
// Whatever is copied anywhere on the desktop is fetched without a question, so only a text
// that is one address on a supported site's own host is taken (CopiedAddress).
// One poll of the clipboard can also be run on request (CallMonTimer); no switch or timer
// of the program polls, since the listener hears every change.
class ClipboardMonitor : public QObject {
    Q_OBJECT
public:
    ClipboardMonitor(ProgramSettings& settings, modMain& list, const RunState& run,
                     StartStop& startStop, QObject* parent = nullptr);

    // Switches the clipboard listener on or off, and the setting with it.
    void Monitor(bool bState);
    bool Listening() const { return bool(listener_); }

    // The hand-over of one copied address: added, shown, and a run started 200 ms later
    // when none is going. An empty text does nothing.
    void txtMonitor_Change(const QString& text);

    // One poll: a new text that is an address to take (CopiedAddress) is added and shown,
    // and a run started right after the poll when none is going.
    void tmrMonitor_Timer();
    void CallMonTimer() { tmrMonitor_Timer(); }

    QString sLastClipboard; // the text seen at the last poll

    // The longest copied text looked at: a page address is far shorter, and a longer text is
    // passed over without being read, whatever its size.
    static constexpr qsizetype kMaxCopiedText = 4096;
    // The address a copied text is taken as, or the empty text: the text without the blanks
    // around it, when it is one address (no blank inside) whose host is a supported site's
    // domain or a subdomain of it (IdentifySiteByHost). A site's name elsewhere in an address,
    // as in "http://192.0.2.1/x?ref=youtube.com", does not make it one to fetch.
    static QString CopiedAddress(const QString& text);

signals:
    // An address was taken from the clipboard and added to the list.
    void AddressTaken(const QString& address);

private:
    void ClipboardChanged();
    static QString ClipboardText();

    ProgramSettings& settings_;
    modMain& list_;
    const RunState& run_;
    StartStop& startStop_;
    QMetaObject::Connection listener_;
};

} // namespace orvello
