#pragma once

#include "common/Prompter.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <cstdint>

namespace orvello {

// How the latest resolution ended. Only Found yields an address.
enum class RedirectEnd {
    Pending,    // no resolution has ended yet
    Found,      // the answer held a Location line whose target has a query
    NoLocation, // no "Location:" line, or it or its line end lies past the 16-bit limit
    NoQuery,    // the Location target holds no "?"
    SocketError,
    PeerClosed, // the peer closed before an answer was taken
    TimedOut,
    Stopped, // the user stopped downloading during the wait
};

// Parses the first portion of a redirect answer. On Found, `videoPath` becomes "/get_video"
// followed by the query of the Location target ("?" included); otherwise it is untouched.
// "Location:" is matched in any letter case; the target starts ten characters after it
// (name, colon and exactly one blank) and runs to the first CR LF. Positions are held as
// signed 16-bit values counted from 1, so a header or line end past character 32,767
// counts as absent.
RedirectEnd ParseRedirectAnswer(const QString& answer, QString& videoPath);

// Asks a video player's host, with one hand-written HTTP/1.1 GET over a plain TCP
// connection, where the player redirects to, and turns the redirect's query into a
// "/get_video" address on the player's host. GetYoutubePathLnik starts the resolution and
// returns at once; `Resolved` follows (queued) with the address, or the empty text after any
// failure (socket error, peer close, time-out, stop, no usable Location). One resolution at a
// time per object; its members keep the state of the latest one.
class YoutubeRedirect : public QObject {
    Q_OBJECT
public:
    explicit YoutubeRedirect(Prompter& prompter, QObject* parent = nullptr);
    ~YoutubeRedirect() override;

    // Starts resolving a player address. A second call while one runs is refused: it resolves
    // to the empty text at once.
    void GetYoutubePathLnik(const QString& sLink);
    // Ends the wait at once: the resolution resolves to the empty text (RedirectEnd::Stopped).
    void Stop();
    bool Resolving() const { return bResolving_; }

    // How the latest resolution ended.
    RedirectEnd LastEnd() const { return lastEnd_; }

    // The program always uses port 80; tests point it at their loopback peer.
    quint16 RemotePort = 80;
    // Longest wait for an answer once connecting has started.
    std::chrono::milliseconds WaitTimeout{30000};

signals:
    void Resolved(const QString& link);

private slots:
    void WS_Connect();
    void WS_DataArrival();
    void WS_Error(QAbstractSocket::SocketError error);
    void WS_Close();

private:
    // Tests look at the resolution's state through this.
    friend struct YoutubeRedirectProbe;

    // Closes the socket, whatever it was doing, and starts connecting to wsHost.
    void Connect();
    // Ends the wait (once) and has Resolved follow.
    void EndWait(RedirectEnd end);
    // Shows "Connection Error,..." and then ends the wait.
    void ReportSocketError(const QString& text);

    Prompter& prompter_;
    QString wsHost; // host being resolved; connected to and named in "Host:"
    QString wsLink; // request target; kept from before when the address has no path
    bool bFindYoutubeFinish = false; // the wait is over
    QString sYoutubeDownLink;        // the raw answer, then the "/get_video" path
    QTcpSocket WS;
    QTimer deadline_;
    RedirectEnd lastEnd_ = RedirectEnd::Pending;
    bool bResolving_ = false;
    bool boxOpen_ = false; // a socket error's box is open; the wait ends when it closes
};

} // namespace orvello
