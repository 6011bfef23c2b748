#include "monitor/ClipboardMonitor.h"

#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "resolve/Sites.h"
#include "scheduler/StartStop.h"

#include <QClipboard>
#include <QGuiApplication>

namespace orvello {

namespace {

QClipboard* Clipboard() {
    // Only a GUI application has a clipboard.
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance())
               ? QGuiApplication::clipboard()
               : nullptr;
}

} // namespace

ClipboardMonitor::ClipboardMonitor(ProgramSettings& settings, modMain& list, const RunState& run,
                                   StartStop& startStop, QObject* parent)
    : QObject(parent), settings_(settings), list_(list), run_(run), startStop_(startStop) {}

QString ClipboardMonitor::ClipboardText() {
    QClipboard* clipboard = Clipboard();
    return clipboard ? clipboard->text(QClipboard::Clipboard) : QString();
}

void ClipboardMonitor::Monitor(bool bState) {
    if (bState && !listener_) {
        if (QClipboard* clipboard = Clipboard())
            listener_ = connect(clipboard, &QClipboard::dataChanged, this,
                                &ClipboardMonitor::ClipboardChanged);
    } else if (!bState && listener_) {
        disconnect(listener_);
        listener_ = {};
    }
    settings_.bMonitorClipboard = bState;
}

QString ClipboardMonitor::CopiedAddress(const QString& text) {
    if (text.size() > kMaxCopiedText)
        return QString();
    const QString address = text.trimmed();
    if (address.isEmpty())
        return QString();
    for (const QChar c : address) {
        if (c.isSpace())
            return QString();
    }
    return IdentifySiteByHost(address) == kSiteNotSupported ? QString() : address;
}

void ClipboardMonitor::ClipboardChanged() {
    // Only a copied text that is one address of a supported site is handed over: watching
    // is on by default, and ordinary copying must not fill the list.
    const QString address = CopiedAddress(ClipboardText());
    if (!address.isEmpty())
        txtMonitor_Change(address);
}

void ClipboardMonitor::txtMonitor_Change(const QString& text) {
    if (text.isEmpty())
        return;
    list_.AddUrlToList(text);
    emit AddressTaken(text);
    if (!run_.bDownloading())
        startStop_.tmrDownload.start();
}

void ClipboardMonitor::tmrMonitor_Timer() {
    const QString text = ClipboardText();
    // The address first: it passes over a long text at once, before any comparison.
    const QString address = CopiedAddress(text);
    if (address.isEmpty() || text == sLastClipboard) {
        sLastClipboard = text;
        return;
    }
    list_.AddUrlToList(address);
    emit AddressTaken(address);
    sLastClipboard = text;
    if (!run_.bDownloading()) {
        // The run starts right after this poll rather than inside it, so the poll's caller
        // gets its answer before the run takes its time.
        QTimer::singleShot(0, this, [this] {
            if (!run_.bDownloading())
                startStop_.cmdStartDownload_Click();
        });
    }
}

} // namespace orvello
