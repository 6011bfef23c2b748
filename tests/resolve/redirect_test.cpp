#include "resolve/YoutubeRedirect.h"

#include "support/RawPeer.h"
#include "support/ScriptedPrompter.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

using orvello::RedirectEnd;

namespace orvello {

// What the tests look at inside a resolution.
struct YoutubeRedirectProbe {
    static const QString& Answer(const YoutubeRedirect& r) { return r.sYoutubeDownLink; }
    static bool WaitOver(const YoutubeRedirect& r) { return r.bFindYoutubeFinish; }
    static const QTcpSocket& Socket(const YoutubeRedirect& r) { return r.WS; }
    static void DataArrival(YoutubeRedirect& r) { r.WS_DataArrival(); }
};

} // namespace orvello

using Probe = orvello::YoutubeRedirectProbe;

namespace {

using orvello::test::RawPeer;

quint16 ClosedPort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort(); // closed again when probe goes
}

const QByteArray kAnswer = "HTTP/1.1 303 See Other\r\nDate: Mon, 05 Nov 2007 10:00:00 GMT\r\n"
                           "Location: http://cache.other.net/v/x.flv?a=1&b=2\r\n\r\n";
const QString kFound = QStringLiteral("http://127.0.0.1/get_video?a=1&b=2");

// Starts a resolution and waits for what it resolves to (the last of `count` results).
QString ResolveOn(orvello::YoutubeRedirect& r, const QString& link, int count = 1) {
    QStringList got;
    const auto connection = QObject::connect(&r, &orvello::YoutubeRedirect::Resolved,
                                             [&](const QString& found) { got << found; });
    r.GetYoutubePathLnik(link);
    QElapsedTimer clock;
    clock.start();
    while (got.size() < count && !clock.hasExpired(30000)) {
        QEventLoop wait;
        QTimer::singleShot(5, &wait, &QEventLoop::quit);
        wait.exec();
    }
    QObject::disconnect(connection);
    return got.size() == count ? got.back() : QStringLiteral("<no answer>");
}

class Redirect : public ::testing::Test {
protected:
    void SetUp() override { redirect.RemotePort = peer.server.serverPort(); }
    QString Resolve(const char* path, int count = 1) {
        return ResolveOn(redirect, "http://127.0.0.1" + QString::fromLatin1(path), count);
    }

    orvello::test::ScriptedPrompter prompter;
    RawPeer peer;
    orvello::YoutubeRedirect redirect{prompter};
};

} // namespace

TEST_F(Redirect, SendsTheRequestBlockAndBuildsGetVideoOnThePlayersHost) {
    EXPECT_EQ(orvello::YoutubeRedirect(prompter).RemotePort, 80);
    peer.answer = kAnswer;
    EXPECT_EQ(Resolve("/p.swf?video_id=abc&t=x%2Fy"), kFound);
    EXPECT_EQ(peer.request, "GET /p.swf?video_id=abc&t=x%2Fy HTTP/1.1\r\n"
                            "Host: 127.0.0.1\r\n"
                            "Accept: text/xml,application/xml,application/xhtml+xml,text/html;"
                            "q=0.9,text/plain;q=0.8,image/png,*/*;q=0.5\r\n"
                            "User-Agent: Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; "
                            "rv:1.8.1.9) Gecko/20071025 Firefox/2.0.0.9\r\n"
                            "Accept -Encoding: gzip , deflate\r\n"
                            "Accept-Language: en-us,en;q=0.5\r\n"
                            "Accept-Charset: ISO-8859-1,utf-8;q=0.7,*;q=0.7\r\n"
                            "Connection: Close\r\n\r\n");

    // Lower-case header, a host looked up by name, single-byte text kept as it came.
    peer.answer = "HTTP/1.0 302 Found\r\nlocation: /x?a=1&n=caf\xE9\r\n\r\n";
    EXPECT_EQ(ResolveOn(redirect, "HTTP://localhost/w?v=1"),
              QStringLiteral("http://localhost/get_video?a=1&n=caf") + QChar(0xE9));
    EXPECT_TRUE(peer.request.startsWith("GET /w?v=1 HTTP/1.1\r\nHost: localhost\r\n"));

    // The target in its wire form: a blank, a byte read from a page, a character beyond it.
    EXPECT_EQ(ResolveOn(redirect, QStringLiteral("http://127.0.0.1/a b") + QChar(0xE9) +
                                      QChar(0x20AC) + QStringLiteral("?q=\"x\"")),
              QStringLiteral("http://127.0.0.1/get_video?a=1&n=caf") + QChar(0xE9));
    EXPECT_TRUE(peer.request.startsWith(
        "GET /a%20b%E9%E2%82%AC?q=%22x%22 HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: "))
        << peer.request.toStdString();
    EXPECT_TRUE(prompter.shown.empty());
}

TEST_F(Redirect, EveryFailureGivesNothingNeverTheEarlierAddress) {
    const struct {
        RawPeer::Reply reply;
        QByteArray answer;
        RedirectEnd end;
    } failures[] = {
        {RawPeer::Reply::Answer, "HTTP/1.1 302 Found\r\nLocation: http://h/get_video/1\r\n\r\n",
         RedirectEnd::NoQuery},
        {RawPeer::Reply::Answer, "HTTP/1.1 200 OK\r\n\r\n<a href='x?y'>", RedirectEnd::NoLocation},
        {RawPeer::Reply::Close, "", RedirectEnd::PeerClosed},
    };
    for (const auto& f : failures) {
        peer.reply = RawPeer::Reply::Answer;
        peer.answer = kAnswer;
        ASSERT_EQ(Resolve("/first"), kFound);
        peer.reply = f.reply;
        peer.answer = f.answer;
        EXPECT_EQ(Resolve("/second"), "");
        EXPECT_EQ(redirect.LastEnd(), f.end);
        EXPECT_EQ(Probe::Answer(redirect), "");
    }
    // An orderly close by the peer is no connection error.
    EXPECT_TRUE(prompter.shown.empty());
    redirect.RemotePort = ClosedPort();
    EXPECT_EQ(Resolve("/third"), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::SocketError);
}

TEST_F(Redirect, AMutePeerEndsAtTheTimeOutOrWhenTheUserStops) {
    peer.reply = RawPeer::Reply::Silent;
    redirect.WaitTimeout = std::chrono::milliseconds(300);
    EXPECT_EQ(Resolve("/p?x=1"), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::TimedOut);

    // The stop comes as the user's command would: an event while the peer keeps silent.
    redirect.WaitTimeout = std::chrono::seconds(20);
    peer.onRequest = [this] { redirect.Stop(); };
    EXPECT_EQ(Resolve("/p?x=1"), "");
    EXPECT_EQ(redirect.LastEnd(), RedirectEnd::Stopped);
    EXPECT_EQ(Probe::Socket(redirect).state(), QAbstractSocket::UnconnectedState);
    EXPECT_EQ(peer.connections, 2);
}

TEST_F(Redirect, SocketErrorsShowConnectionErrorWithTheSocketsText) {
    bool finishedWhileShown = true;
    QString errorText;
    prompter.onShow = [&](const orvello::MsgRequest&) {
        finishedWhileShown = Probe::WaitOver(redirect);
        errorText = Probe::Socket(redirect).errorString();
    };
    redirect.RemotePort = ClosedPort();
    EXPECT_EQ(Resolve("/p?x=1"), "");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_FALSE(errorText.isEmpty());
    EXPECT_EQ(prompter.shown[0].text, "Connection Error," + errorText);
    EXPECT_EQ(prompter.shown[0].buttons, orvello::MsgButtons::Ok);
    EXPECT_FALSE(finishedWhileShown); // the wait ends once the box is closed

    // A port in the address stays in the host name, which then can't be looked up; the
    // peer listening on that very port is never asked.
    const quint16 port = peer.server.serverPort();
    redirect.RemotePort = port;
    EXPECT_EQ(ResolveOn(redirect, QStringLiteral("http://localhost:%1/p").arg(port)), "");
    EXPECT_EQ(peer.connections, 0);
    ASSERT_EQ(prompter.shown.size(), 2u);
    EXPECT_EQ(prompter.shown[1].text, "Connection Error," + errorText);
}

TEST_F(Redirect, StrayDataAndNestedCallsLeaveTheWaitAlone) {
    Probe::DataArrival(redirect); // not connected: left unread, the wait would go on
    EXPECT_FALSE(Probe::WaitOver(redirect));

    // A second resolution while one runs is refused: it resolves to nothing, first.
    QStringList got;
    QObject::connect(&redirect, &orvello::YoutubeRedirect::Resolved,
                     [&](const QString& found) { got << found; });
    peer.onRequest = [&] { redirect.GetYoutubePathLnik("http://127.0.0.1/other?y=2"); };
    peer.answer = kAnswer;
    EXPECT_EQ(Resolve("/p?x=1", 2), kFound);
    EXPECT_EQ(got, QStringList({"", kFound}));
    EXPECT_EQ(peer.connections, 1);
}

// The resolution's owner may drop it at any time, also while its error box is open.
TEST_F(Redirect, DeletedDuringItsWaitEndsItQuietly) {
    enum class By { Timer, PeerEvent, ErrorBox };
    const quint16 closed = ClosedPort();
    peer.reply = RawPeer::Reply::Silent;
    for (By by : {By::Timer, By::PeerEvent, By::ErrorBox}) {
        SCOPED_TRACE(int(by));
        auto* r = new orvello::YoutubeRedirect(prompter);
        const QPointer<orvello::YoutubeRedirect> alive(r);
        r->WaitTimeout = std::chrono::seconds(20);
        r->RemotePort = by == By::ErrorBox ? closed : peer.server.serverPort();
        const auto drop = [r] { delete r; };
        peer.onRequest = by == By::PeerEvent ? std::function<void()>(drop) : nullptr;
        prompter.onShow = [&](const orvello::MsgRequest&) {
            if (by == By::ErrorBox)
                drop();
        };
        if (by == By::Timer)
            QTimer::singleShot(100, drop);

        QElapsedTimer clock;
        clock.start();
        bool resolved = false;
        QObject::connect(r, &orvello::YoutubeRedirect::Resolved, [&] { resolved = true; });
        r->GetYoutubePathLnik(QStringLiteral("http://127.0.0.1/p?x=1"));
        while (!alive.isNull() && !clock.hasExpired(5000)) {
            QEventLoop wait;
            QTimer::singleShot(5, &wait, &QEventLoop::quit);
            wait.exec();
        }
        EXPECT_TRUE(alive.isNull());
        EXPECT_FALSE(resolved);
    }
    prompter.onShow = nullptr;
    EXPECT_EQ(prompter.shown.size(), 1u);
}

TEST(ParseRedirectAnswer, TargetAfterOneBlankUpToTheLineEndWithin16BitPositions) {
    const QString line = QStringLiteral("Location: http://h/v?a=1?b");
    const QString pad(32766 - line.size(), QLatin1Char('x')); // CR at position 32,767
    const struct {
        QString answer;
        RedirectEnd end;
        const char* path;
    } cases[] = {
        {"LOCATION: ?only\r\n", RedirectEnd::Found, "/get_video?only"},
        {pad + line + "\r\n", RedirectEnd::Found, "/get_video?a=1?b"},
        {pad + "x" + line + "\r\n", RedirectEnd::NoLocation, ""},
        {"Location: http://h/v\r\nX: ?a=1\r\n", RedirectEnd::NoQuery, ""},
        {"Location:?a=1\r\n", RedirectEnd::NoQuery, ""}, // the "?" is taken as the blank
        {"Location:\r\n", RedirectEnd::NoQuery, ""},
        {"Location: http://h/v?a=1", RedirectEnd::NoLocation, ""},
    };
    for (const auto& c : cases) {
        QString path;
        EXPECT_EQ(orvello::ParseRedirectAnswer(c.answer, path), c.end)
            << c.answer.right(40).toStdString();
        EXPECT_EQ(path, QString::fromLatin1(c.path)) << c.answer.right(40).toStdString();
    }
}
