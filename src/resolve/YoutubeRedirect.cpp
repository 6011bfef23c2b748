#include "resolve/YoutubeRedirect.h"

#include "common/DoEvents.h"
#include "common/WireText.h"
#include "resolve/modGlobal.h"

#include <QNetworkProxy>
#include <QPointer>
#include <QSignalBlocker>

#include <algorithm>
#include <utility>

namespace orvello {

namespace {

// Positions in the answer are counted from 1 and must fit a signed 16-bit value.
constexpr qsizetype kLastPosition = 32767;

// The wait sleeps at most this long between two looks at the stop flag and the clock;
// any event (socket activity, a UI command) wakes it earlier.
constexpr std::chrono::milliseconds kWaitSlice{50};

// The request block, byte for byte; the odd spacing of the encoding line is deliberate:
// the answer is never decoded, so the server must not think gzip is welcome. The target and
// the host are the only lines that aren't fixed ASCII; they take the wire form every request
// of the program uses.
QByteArray BuildRequest(const QString& host, const QString& link) {
    const QByteArray lines[] = {
        "GET " + WireTarget(link) + " HTTP/1.1",
        "Host: " + WireHost(host),
        "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,text/plain;q=0.8,"
        "image/png,*/*;q=0.5",
        "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.9) Gecko/20071025 "
        "Firefox/2.0.0.9",
        "Accept -Encoding: gzip , deflate",
        "Accept-Language: en-us,en;q=0.5",
        "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7",
        "Connection: Close",
    };
    QByteArray block;
    for (const QByteArray& line : lines)
        block += line + "\r\n";
    return block + "\r\n";
}

} // namespace

RedirectEnd ParseRedirectAnswer(const QString& answer, QString& videoPath) {
    const qsizetype location = answer.indexOf(QLatin1String("Location:"), 0, Qt::CaseInsensitive);
    if (location < 0 || location + 1 > kLastPosition)
        return RedirectEnd::NoLocation;
    const qsizetype lineEnd = answer.indexOf(QLatin1String("\r\n"), location);
    if (lineEnd < 0 || lineEnd + 1 > kLastPosition)
        return RedirectEnd::NoLocation;

    // Skip "Location:" and exactly one blank. A line too short for that has no target.
    const qsizetype targetStart = location + 10;
    if (lineEnd <= targetStart)
        return RedirectEnd::NoQuery;
    const QString target = answer.mid(targetStart, lineEnd - targetStart);
    const qsizetype query = target.indexOf(QLatin1Char('?'));
    if (query < 0)
        return RedirectEnd::NoQuery;
    videoPath = QStringLiteral("/get_video") + target.mid(query);
    return RedirectEnd::Found;
}

YoutubeRedirect::YoutubeRedirect(Prompter& prompter, const RunState& runState, QObject* parent)
    : QObject(parent), prompter_(prompter), runState_(runState) {
    // A direct connection to the host, as a plain TCP client makes it.
    WS.setProxy(QNetworkProxy::NoProxy);
    connect(&WS, &QTcpSocket::connected, this, &YoutubeRedirect::WS_Connect);
    connect(&WS, &QTcpSocket::readyRead, this, &YoutubeRedirect::WS_DataArrival);
    connect(&WS, &QTcpSocket::errorOccurred, this, &YoutubeRedirect::WS_Error);
    connect(&WS, &QTcpSocket::disconnected, this, &YoutubeRedirect::WS_Close);
}

YoutubeRedirect::~YoutubeRedirect() {
    // The socket goes after this body; what it signals on its way out (an abort, a close)
    // must not reach the half-destroyed object.
    WS.disconnect(this);
}

QString YoutubeRedirect::GetYoutubePathLnik(const QString& sLink) {
    // Everything here is shared by one resolution; a second one started from an event
    // inside the wait would take over the socket of the first.
    if (bResolving_)
        return QString();
    bResolving_ = true;
    lastEnd_ = RedirectEnd::Pending;
    sYoutubeDownLink.clear();
    pendingError_.clear();

    wsHost = sLink;
    SplitUrl(wsHost, wsLink);
    bFindYoutubeFinish = false;
    Connect();
    // An event inside the wait may delete this object: then nothing of it is touched again.
    if (!WaitForAnswer())
        return QString();

    // Release the connection whatever ended the wait; its late signals belong to nobody.
    {
        const QSignalBlocker quiet(WS);
        WS.abort();
    }
    bResolving_ = false;

    if (lastEnd_ != RedirectEnd::Found) {
        sYoutubeDownLink.clear();
        return QString();
    }
    return QStringLiteral("http://") + wsHost + sYoutubeDownLink;
}

void YoutubeRedirect::Connect() {
    {
        // Closing an old connection must not count as the new one's peer closing.
        const QSignalBlocker quiet(WS);
        WS.abort();
    }
    // The host text goes to the name lookup as it is, an explicit ":port" included.
    WS.connectToHost(wsHost, RemotePort);
}

bool YoutubeRedirect::WaitForAnswer() {
    using Clock = std::chrono::steady_clock;
    // Each pass lets the pending events run several times; false once one deleted this.
    const auto runEvents = [this] {
        for (int i = 0; i < 7; ++i) {
            if (!DoEventsFor(this))
                return false;
        }
        return true;
    };
    const auto deadline = Clock::now() + WaitTimeout;
    for (;;) {
        if (!runEvents())
            return false;
        if (!pendingError_.isNull() && !ReportSocketError(std::exchange(pendingError_, {})))
            return false;
        if (bFindYoutubeFinish)
            return true;
        if (runState_.bStopRequested) {
            EndWait(RedirectEnd::Stopped);
            return true;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            EndWait(RedirectEnd::TimedOut);
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
        if (!WaitForEventsFor(this, std::min(left, kWaitSlice)) || !runEvents())
            return false;
    }
}

void YoutubeRedirect::EndWait(RedirectEnd end) {
    if (bFindYoutubeFinish)
        return;
    lastEnd_ = end;
    bFindYoutubeFinish = true;
}

void YoutubeRedirect::WS_Connect() {
    WS.write(BuildRequest(wsHost, wsLink));
}

void YoutubeRedirect::WS_DataArrival() {
    sYoutubeDownLink.clear();
    // Data that shows up while the connection is going away is left unread.
    if (WS.state() != QAbstractSocket::ConnectedState)
        return;
    bFindYoutubeFinish = true;

    // Only the first portion of the answer is ever looked at.
    const QString answer = QString::fromLatin1(WS.readAll());
    WS.close();
    lastEnd_ = ParseRedirectAnswer(answer, sYoutubeDownLink);
}

void YoutubeRedirect::WS_Error(QAbstractSocket::SocketError error) {
    // An orderly close by the peer is not an error to report; it only ends the wait.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        WS_Close();
        return;
    }
    const QString text = QStringLiteral("Connection Error,") + WS.errorString();
    // The socket is inside its own signal here, and the message box runs events (a nested
    // loop in the program) that may delete this object and the socket with it. During a
    // resolution the box is left to the wait, which shows it once the signal has returned.
    if (bResolving_) {
        if (pendingError_.isNull())
            pendingError_ = text;
        return;
    }
    ReportSocketError(text);
}

bool YoutubeRedirect::ReportSocketError(const QString& text) {
    const QPointer<YoutubeRedirect> self(this);
    MsgRequest box;
    box.text = text;
    box.buttons = MsgButtons::Ok;
    prompter_.MsgBox(box);
    if (!self)
        return false;
    EndWait(RedirectEnd::SocketError);
    return true;
}

void YoutubeRedirect::WS_Close() {
    // The peer closed before any answer was taken: nothing more will come. A socket error
    // waiting for its box came first, and it is what ends the wait.
    if (bResolving_ && pendingError_.isNull())
        EndWait(RedirectEnd::PeerClosed);
}

} // namespace orvello
