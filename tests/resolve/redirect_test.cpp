#include "resolve/YoutubeRedirect.h"

#include "common/DoEvents.h"
#include "support/ScriptedPrompter.h"

#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <functional>

using orvello::RedirectEnd;
using orvello::RunState;
using orvello::YoutubeRedirect;
using orvello::test::ScriptedPrompter;

namespace {

// A raw TCP peer on loopback: records the request bytes of each connection and, once the
// blank line that ends the request has arrived, does what it was scripted to do.
class RawPeer {
public:
    enum class Reply { Answer, CloseWithoutAnswer, Silent };

    Reply reply = Reply::Answer;
    QByteArray answer;               // sent in one write, then the peer closes
    QByteArray request;              // bytes received on the latest connection
    int connections = 0;             // connections accepted so far
    std::function<void()> onRequest; // runs when a whole request is in, before replying

    RawPeer() {
        EXPECT_TRUE(server_.listen(QHostAddress::LocalHost, 0));
        QObject::connect(&server_, &QTcpServer::newConnection, [this] { Accept(); });
    }

    quint16 Port() const { return server_.serverPort(); }

private:
    void Accept() {
        while (QTcpSocket* s = server_.nextPendingConnection()) {
            ++connections;
            request.clear();
            QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Read(s); });
        }
    }

    void Read(QTcpSocket* s) {
        const bool hadAll = request.contains("\r\n\r\n");
        request += s->readAll();
        if (hadAll || !request.contains("\r\n\r\n"))
            return;
        if (onRequest)
            onRequest();
        switch (reply) {
        case Reply::Answer:
            s->write(answer);
            s->flush();
            s->disconnectFromHost();
            break;
        case Reply::CloseWithoutAnswer:
            s->disconnectFromHost();
            break;
        case Reply::Silent:
            break;
        }
    }

    QTcpServer server_;
};

QString Loopback(const char* path) {
    return QStringLiteral("http://127.0.0.1") + QString::fromLatin1(path);
}

// A port on which nothing listens: taken from the system, then given back.
quint16 ClosedPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

const QByteArray kRedirectAnswer =
    "HTTP/1.1 303 See Other\r\n"
    "Date: Mon, 05 Nov 2007 10:00:00 GMT\r\n"
    "Location: http://cache.other.example.net/videos/x.flv?a=1&b=2\r\n"
    "Content-Length: 0\r\n"
    "Connection: close\r\n"
    "\r\n";

class Redirect : public ::testing::Test {
protected:
    void SetUp() override { redirect.RemotePort = peer.Port(); }

    ScriptedPrompter prompter;
    RunState run;
    RawPeer peer;
    YoutubeRedirect redirect{prompter, run};
};

} // namespace

TEST_F(Redirect, SendsTheRequestBlockAndAsksThePlayersHostForGetVideo) {
    EXPECT_EQ(YoutubeRedirect(prompter, run).RemotePort, 80);

    peer.answer = kRedirectAnswer;
    const QString result = redirect.GetYoutubePathLnik(Loopback("/p.swf?video_id=abc&t=x%2Fy"));

    EXPECT_EQ(result, "http://127.0.0.1/get_video?a=1&b=2");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::Found);
    EXPECT_EQ(peer.connections, 1);
    EXPECT_EQ(peer.request,
              QByteArray("GET /p.swf?video_id=abc&t=x%2Fy HTTP/1.1\r\n"
                         "Host: 127.0.0.1\r\n"
                         "Accept: text/xml,application/xml,application/xhtml+xml,text/html;q=0.9,"
                         "text/plain;q=0.8,image/png,*/*;q=0.5\r\n"
                         "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.8.1.9) "
                         "Gecko/20071025 Firefox/2.0.0.9\r\n"
                         "Accept -Encoding: gzip , deflate\r\n"
                         "Accept-Language: en-us,en;q=0.5\r\n"
                         "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
                         "Connection: Close\r\n"
                         "\r\n"));
    EXPECT_TRUE(prompter.shown.empty());
    EXPECT_TRUE(redirect.bFindYoutubeFinish);
    EXPECT_EQ(redirect.sYoutubeDownLink, "/get_video?a=1&b=2");
}

TEST_F(Redirect, LowerCaseHeaderHostNameAndSingleByteTextAreKept) {
    // The host is looked up by name and named unchanged in the Host line; the answer's
    // bytes are single-byte text, so a Latin-1 query byte comes back as that character.
    peer.answer = "HTTP/1.0 302 Found\r\nlocation: /elsewhere?a=1&n=caf\xE9\r\n\r\n";
    const QString result = redirect.GetYoutubePathLnik("HTTP://localhost/watch?v=1");

    EXPECT_EQ(result, QStringLiteral("http://localhost/get_video?a=1&n=caf") + QChar(0xE9));
    EXPECT_TRUE(peer.request.startsWith("GET /watch?v=1 HTTP/1.1\r\nHost: localhost\r\n"));
}

TEST_F(Redirect, AnswersWithoutAUsableLocationGiveNothing) {
    peer.answer = "HTTP/1.1 302 Found\r\nLocation: http://h.example/get_video/abc\r\n\r\n";
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::NoQuery);

    peer.answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<a href='x?y'>";
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::NoLocation);
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Redirect, EveryFailureAfterASuccessGivesNothingRatherThanTheEarlierAddress) {
    peer.answer = kRedirectAnswer;
    ASSERT_EQ(redirect.GetYoutubePathLnik(Loopback("/first")),
              "http://127.0.0.1/get_video?a=1&b=2");

    peer.answer = "HTTP/1.1 404 Not Found\r\n\r\n";
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/second")), "");
    EXPECT_EQ(redirect.sYoutubeDownLink, "");

    ASSERT_EQ(redirect.GetYoutubePathLnik(Loopback("/third")), "");
    peer.answer = kRedirectAnswer;
    ASSERT_NE(redirect.GetYoutubePathLnik(Loopback("/fourth")), "");
    peer.reply = RawPeer::Reply::CloseWithoutAnswer;
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/fifth")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::PeerClosed);

    peer.reply = RawPeer::Reply::Answer;
    ASSERT_NE(redirect.GetYoutubePathLnik(Loopback("/sixth")), "");
    redirect.RemotePort = ClosedPort();
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/seventh")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::SocketError);
    EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST_F(Redirect, PeerClosingWithoutAnswerEndsTheWaitQuietly) {
    peer.reply = RawPeer::Reply::CloseWithoutAnswer;
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p?x=1")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::PeerClosed);
    EXPECT_EQ(peer.connections, 1);
    // An orderly close is not a connection error: no message box.
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Redirect, SilentPeerEndsAtTheTimeOut) {
    peer.reply = RawPeer::Reply::Silent;
    redirect.WaitTimeout = std::chrono::milliseconds(300);
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p?x=1")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::TimedOut);
    EXPECT_EQ(peer.connections, 1);
    EXPECT_FALSE(peer.request.isEmpty());
    EXPECT_EQ(redirect.WS.state(), QAbstractSocket::UnconnectedState);
}

TEST_F(Redirect, StopDuringTheWaitEndsIt) {
    // The stop arrives as the user's command would: an event handled inside the wait.
    peer.reply = RawPeer::Reply::Silent;
    peer.onRequest = [this] { run.bStopRequested = true; };
    redirect.WaitTimeout = std::chrono::seconds(20);
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p?x=1")), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::Stopped);
    EXPECT_EQ(redirect.WS.state(), QAbstractSocket::UnconnectedState);
}

TEST_F(Redirect, RefusedConnectionIsReportedWithTheSocketsErrorText) {
    redirect.RemotePort = ClosedPort();
    bool finishedWhileShown = true;
    QString errorWhileShown;
    prompter.onShow = [&](const orvello::MsgRequest&) {
        finishedWhileShown = redirect.bFindYoutubeFinish;
        errorWhileShown = redirect.WS.errorString();
    };

    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p?x=1")), "");

    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_FALSE(errorWhileShown.isEmpty());
    EXPECT_EQ(prompter.shown[0].text, "Connection Error," + errorWhileShown);
    EXPECT_EQ(prompter.shown[0].buttons, orvello::MsgButtons::Ok);
    // The wait ends only once the box has been closed.
    EXPECT_FALSE(finishedWhileShown);
    EXPECT_TRUE(redirect.bFindYoutubeFinish);
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::SocketError);
}

TEST_F(Redirect, AnExplicitPortStaysPartOfTheHostName) {
    // The peer listens on the port the address names, yet the name "localhost:<port>" is
    // looked up as a whole and fails: the address's port is never used.
    const QString link = QStringLiteral("http://localhost:%1/p?x=1").arg(peer.Port());
    EXPECT_EQ(redirect.GetYoutubePathLnik(link), "");
    EXPECT_EQ(redirect.wsHost, QStringLiteral("localhost:%1").arg(peer.Port()));
    EXPECT_EQ(peer.connections, 0);
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_TRUE(prompter.shown[0].text.startsWith("Connection Error,"));
    EXPECT_GT(prompter.shown[0].text.size(), QStringLiteral("Connection Error,").size());
}

TEST_F(Redirect, DataOutsideTheConnectedStateAndNestedCallsDoNotDisturbTheWait) {
    // Stray data on a socket that is not connected is left alone.
    redirect.WS_DataArrival();
    EXPECT_FALSE(redirect.bFindYoutubeFinish);
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::Pending);

    // A second resolution started from an event inside the wait gets nothing and leaves
    // the running one its socket.
    QString nested = QStringLiteral("<not called>");
    peer.onRequest = [&] { nested = redirect.GetYoutubePathLnik(Loopback("/other?y=2")); };
    peer.answer = kRedirectAnswer;
    EXPECT_EQ(redirect.GetYoutubePathLnik(Loopback("/p?x=1")),
              "http://127.0.0.1/get_video?a=1&b=2");
    EXPECT_EQ(nested, "");
    EXPECT_EQ(peer.connections, 1);
}

TEST(ParseRedirectAnswer, TargetStartsAfterOneBlankAndEndsAtTheLineEnd) {
    const struct {
        const char* answer;
        RedirectEnd end;
        const char* path;
    } cases[] = {
        {"Location: http://h/v?a=1&b=2\r\nX: y\r\n\r\n", RedirectEnd::Found, "/get_video?a=1&b=2"},
        {"LOCATION: ?only\r\n", RedirectEnd::Found, "/get_video?only"},
        {"Location: http://h/v?a=1?b=2\r\n", RedirectEnd::Found, "/get_video?a=1?b=2"},
        // The first "?" of the target counts, not one on a later line.
        {"Location: http://h/v\r\nX-Next: ?a=1\r\n", RedirectEnd::NoQuery, ""},
        // Without the blank the "?" would be taken as that blank and skipped.
        {"Location:?a=1\r\n", RedirectEnd::NoQuery, ""},
        {"Location:\r\n", RedirectEnd::NoQuery, ""},
        {"Location: http://h/v?a=1", RedirectEnd::NoLocation, ""}, // no line end
        {"Locatio: http://h/v?a=1\r\n", RedirectEnd::NoLocation, ""},
        {"", RedirectEnd::NoLocation, ""},
    };
    for (const auto& c : cases) {
        QString path;
        EXPECT_EQ(orvello::ParseRedirectAnswer(QString::fromLatin1(c.answer), path), c.end)
            << c.answer;
        EXPECT_EQ(path, QString::fromLatin1(c.path)) << c.answer;
    }
}

TEST(ParseRedirectAnswer, HeaderAndLineEndMustLieWithinThe16BitLimit) {
    const QString line = QStringLiteral("Location: http://h/v?a=1");
    // Padding so that the CR of the line end is character 32,767 (1-based): still found.
    const QString pad(32766 - line.size(), QLatin1Char('x'));
    QString path;
    EXPECT_EQ(orvello::ParseRedirectAnswer(pad + line + "\r\n", path), RedirectEnd::Found);
    EXPECT_EQ(path, "/get_video?a=1");

    // One more character puts the line end past the limit.
    path.clear();
    EXPECT_EQ(orvello::ParseRedirectAnswer(pad + "x" + line + "\r\n", path),
              RedirectEnd::NoLocation);
    EXPECT_EQ(path, "");

    // A header that begins past the limit is not seen at all.
    const QString far(32767, QLatin1Char('x'));
    EXPECT_EQ(orvello::ParseRedirectAnswer(far + "Location: ?a\r\n", path),
              RedirectEnd::NoLocation);
}
