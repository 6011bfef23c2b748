#pragma once

#include "common/Prompter.h"
#include "common/RunState.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

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
// "/get_video" address on the player's host. The wait for the answer runs on the UI thread
// and lets window events run, so stop and other commands are handled inside it.
// One resolution at a time; the members keep the state of the latest one. An event inside
// the wait (the message box of a socket error included) may delete the object; the running
// GetYoutubePathLnik then returns the empty text at once and touches it no more.
class YoutubeRedirect : public QObject {
    Q_OBJECT
public:
    YoutubeRedirect(Prompter& prompter, const RunState& runState, QObject* parent = nullptr);
    ~YoutubeRedirect() override;

    // Resolves a player address. Returns "http://" + host + "/get_video?..." or, after any
    // failure (socket error, peer close, time-out, stop, no usable Location), the empty text.
    QString GetYoutubePathLnik(const QString& sLink);

    // How the latest resolution ended.
    RedirectEnd LastEnd() const { return lastEnd_; }

    // The program always uses port 80; tests point it at their loopback peer.
    quint16 RemotePort = 80;
    // Longest wait for an answer once connecting has started.
    std::chrono::milliseconds WaitTimeout{30000};

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
    // False when an event inside the wait deleted this object.
    bool WaitForAnswer();
    void EndWait(RedirectEnd end);
    // Shows "Connection Error,..." and ends the wait; false when the box deleted this object.
    bool ReportSocketError(const QString& text);

    Prompter& prompter_;
    const RunState& runState_;
    QString wsHost; // host being resolved; connected to and named in "Host:"
    QString wsLink; // request target; kept from before when the address has no path
    bool bFindYoutubeFinish = false; // the wait is over
    QString sYoutubeDownLink;        // the raw answer, then the "/get_video" path
    QTcpSocket WS;
    RedirectEnd lastEnd_ = RedirectEnd::Pending;
    bool bResolving_ = false;
    QString pendingError_; // a socket error's text, until the wait shows it
};

} // namespace orvello
