#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QTcpServer>

#include <functional>
#include <map>
#include <optional>
#include <vector>

class QTcpSocket;

namespace orvello::test {

// What the server does with one request.
struct Reply {
    enum class After {
        Close,     // close the connection once everything is sent
        Hang,      // keep the connection open and send nothing more
        KeepAlive, // wait for the next request on the same connection
    };

    QByteArray head;      // sent first, byte for byte (status line, headers, empty line)
    QByteArray body;      // sent after head
    qsizetype piece = 0;  // > 0: the body goes out in pieces of this size, one per loop turn
    qsizetype cutAt = -1; // >= 0: only this many body bytes are sent before `after` applies
    After after = After::Close;
    bool silent = false; // read the request and never answer
    // Non-empty: after head and body, these bytes go out again every dripEvery ms for as long
    // as the connection lasts (a server that sends a byte a second, or header lines or chunk
    // trailers without end).
    QByteArray drip;
    int dripEvery = 0;

    // "HTTP/<version> 200 OK" with a Content-Length for body and the extra header lines.
    static Reply Ok(const QByteArray& body, const QByteArray& extraHeaders = {},
                    const QByteArray& version = "1.1");
    // A header block of the given lines, each ended by CR LF here, then the empty line.
    static Reply Head(const QList<QByteArray>& lines);
};

// A scriptable HTTP server on 127.0.0.1 with a free port, on the calling thread's event
// loop. Each method has its own script: requests take the replies in order, and the last
// reply keeps answering once the others are used up. A script for a method and one exact
// request target (onPath) answers that target before the method's own script does. Every
// request head is recorded.
class ScriptServer : public QObject {
    Q_OBJECT
public:
    struct Request {
        QByteArray raw; // request line and headers, up to and including the empty line
        int connection; // 1 for the first connection accepted, 2 for the next, ...
        QByteArray method() const { return raw.left(raw.indexOf(' ')); }
        QByteArray target() const {
            const qsizetype start = raw.indexOf(' ') + 1;
            return raw.mid(start, raw.indexOf(' ', start) - start);
        }
        // The value of a header, found without regard to letter case, or a null array.
        QByteArray header(const QByteArray& name) const;
    };

    // On 127.0.0.1 and a free port, or on the address and port given (see listening()).
    explicit ScriptServer(const QHostAddress& address = QHostAddress(QHostAddress::LocalHost),
                          quint16 port = 0);
    ~ScriptServer() override;

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    // "http://<address>:<port>" followed by path.
    QString url(const QString& path = QStringLiteral("/file")) const;

    void script(const QByteArray& method, const Reply& reply);
    void onHead(const Reply& reply) { script("HEAD", reply); }
    void onGet(const Reply& reply) { script("GET", reply); }
    void onPath(const QByteArray& method, const QByteArray& target, const Reply& reply) {
        script(method + ' ' + target, reply);
    }

    // Runs when a request has arrived, before it is answered.
    std::function<void(const Request&)> onRequest;
    // Answers a request itself when it gives a reply (a server that reads the request's
    // headers, its Range say); the scripts answer when it gives none.
    std::function<std::optional<Reply>(const Request&)> respond;

    const std::vector<Request>& requests() const { return requests_; }
    std::vector<Request> requests(const QByteArray& method) const;
    int connections() const { return connections_; }

    // A loopback port with nothing listening on it, for refused connections.
    static quint16 ClosedPort();

private:
    struct Peer {
        QTcpSocket* socket = nullptr;
        int number = 0;
        QByteArray pending;
        bool answering = true; // false once a reply ended the conversation
    };

    void accept();
    void readFrom(Peer& peer);
    void answer(Peer& peer, const Reply& reply);
    void sendPieces(QTcpSocket* socket, QByteArray rest, qsizetype piece, Reply::After after);
    static void finish(QTcpSocket* socket, Reply::After after);

    QTcpServer server_;
    std::map<QByteArray, std::vector<Reply>> scripts_;
    std::map<QByteArray, std::size_t> used_;
    std::vector<Request> requests_;
    std::map<QTcpSocket*, Peer> peers_;
    int connections_ = 0;
};

} // namespace orvello::test
