#include "resolve/YoutubeRedirect.h"

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

YoutubeRedirect::YoutubeRedirect(Prompter& prompter, QObject* parent)
    : QObject(parent), prompter_(prompter) {
    // A direct connection to the host, as a plain TCP client makes it.
    WS.setProxy(QNetworkProxy::NoProxy);
    connect(&WS, &QTcpSocket::connected, this, &YoutubeRedirect::WS_Connect);
    connect(&WS, &QTcpSocket::readyRead, this, &YoutubeRedirect::WS_DataArrival);
    connect(&WS, &QTcpSocket::errorOccurred, this, &YoutubeRedirect::WS_Error);
    connect(&WS, &QTcpSocket::disconnected, this, &YoutubeRedirect::WS_Close);
    deadline_.setSingleShot(true);
    connect(&deadline_, &QTimer::timeout, this, [this] { EndWait(RedirectEnd::TimedOut); });
}

YoutubeRedirect::~YoutubeRedirect() {
    // The socket goes after this body; what it signals on its way out (an abort, a close)
    // must not reach the half-destroyed object.
    WS.disconnect(this);
}

void YoutubeRedirect::GetYoutubePathLnik(const QString& sLink) {
    // Everything here is shared by one resolution; a second one would take over the socket of
    // the first.
    if (bResolving_) {
        QMetaObject::invokeMethod(
            this, [this] { emit Resolved(QString()); }, Qt::QueuedConnection);
        return;
    }
    bResolving_ = true;
    lastEnd_ = RedirectEnd::Pending;
    sYoutubeDownLink.clear();

    wsHost = sLink;
    SplitUrl(wsHost, wsLink);
    bFindYoutubeFinish = false;
    deadline_.start(WaitTimeout);
    Connect();
}

void YoutubeRedirect::Stop() {
    EndWait(RedirectEnd::Stopped);
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

// Ends the wait once: the connection is let go (its late signals belong to nobody), and the
// result follows once control is back in the event loop, never inside a socket's signal.
void YoutubeRedirect::EndWait(RedirectEnd end) {
    if (!bResolving_ || bFindYoutubeFinish)
        return;
    if (end != RedirectEnd::Pending)
        lastEnd_ = end;
    bFindYoutubeFinish = true;
    deadline_.stop();
    QMetaObject::invokeMethod(
        this,
        [this] {
            {
                const QSignalBlocker quiet(WS);
                WS.abort();
            }
            bResolving_ = false;
            if (lastEnd_ != RedirectEnd::Found)
                sYoutubeDownLink.clear();
            emit Resolved(lastEnd_ == RedirectEnd::Found
                              ? QStringLiteral("http://") + wsHost + sYoutubeDownLink
                              : QString());
        },
        Qt::QueuedConnection);
}

void YoutubeRedirect::WS_Connect() {
    WS.write(BuildRequest(wsHost, wsLink));
}

void YoutubeRedirect::WS_DataArrival() {
    if (!bResolving_ || bFindYoutubeFinish || boxOpen_)
        return;
    sYoutubeDownLink.clear();
    // Data that shows up while the connection is going away is left unread.
    if (WS.state() != QAbstractSocket::ConnectedState)
        return;
    // Only the first portion of the answer is ever looked at.
    const QString answer = QString::fromLatin1(WS.readAll());
    QString path;
    const RedirectEnd end = ParseRedirectAnswer(answer, path);
    sYoutubeDownLink = path;
    EndWait(end);
    const QSignalBlocker quiet(WS); // our own close is no peer closing
    WS.close();
}

void YoutubeRedirect::WS_Error(QAbstractSocket::SocketError error) {
    // An orderly close by the peer is not an error to report; it only ends the wait.
    if (error == QAbstractSocket::RemoteHostClosedError) {
        WS_Close();
        return;
    }
    if (!bResolving_ || bFindYoutubeFinish || boxOpen_)
        return;
    // The box runs a nested event loop: it is opened once the socket's signal has returned,
    // and the wait ends when it is closed (or at once on a stop meanwhile).
    boxOpen_ = true;
    deadline_.stop();
    const QString text = QStringLiteral("Connection Error,") + WS.errorString();
    QMetaObject::invokeMethod(
        this, [this, text] { ReportSocketError(text); }, Qt::QueuedConnection);
}

void YoutubeRedirect::ReportSocketError(const QString& text) {
    const QPointer<YoutubeRedirect> self(this);
    MsgRequest box;
    box.text = text;
    box.buttons = MsgButtons::Ok;
    prompter_.MsgBox(box);
    if (!self)
        return; // the box's loop saw the resolution's owner go
    boxOpen_ = false;
    EndWait(RedirectEnd::SocketError);
}

void YoutubeRedirect::WS_Close() {
    // The peer closed before any answer was taken: nothing more will come. A socket error
    // waiting for its box came first, and it is what ends the wait.
    if (!boxOpen_)
        EndWait(RedirectEnd::PeerClosed);
}

} // namespace orvello
