#include "support/http/ScriptServer.h"

#include <QTcpSocket>
#include <QTimer>

namespace orvello::test {

Reply Reply::Ok(const QByteArray& body, const QByteArray& extraHeaders, const QByteArray& version) {
    Reply r;
    r.head = "HTTP/" + version + " 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) +
             "\r\n" + extraHeaders + "\r\n";
    r.body = body;
    return r;
}

Reply Reply::Head(const QList<QByteArray>& lines) {
    Reply r;
    for (const QByteArray& line : lines)
        r.head += line + "\r\n";
    r.head += "\r\n";
    return r;
}

QByteArray ScriptServer::Request::header(const QByteArray& name) const {
    const QByteArray key = "\r\n" + name.toLower() + ":";
    const QByteArray lower = raw.toLower();
    const qsizetype at = lower.indexOf(key);
    if (at < 0)
        return {};
    const qsizetype start = at + key.size();
    const qsizetype end = raw.indexOf("\r\n", start);
    return raw.mid(start, end - start).trimmed();
}

ScriptServer::ScriptServer(const QHostAddress& address, quint16 port) {
    connect(&server_, &QTcpServer::newConnection, this, &ScriptServer::accept);
    server_.listen(address, port);
}

ScriptServer::~ScriptServer() {
    for (auto& [socket, peer] : peers_)
        socket->abort();
}

QString ScriptServer::url(const QString& path) const {
    return QStringLiteral("http://%1:%2%3")
        .arg(server_.serverAddress().toString())
        .arg(port())
        .arg(path);
}

void ScriptServer::script(const QByteArray& method, const Reply& reply) {
    scripts_[method].push_back(reply);
}

std::vector<ScriptServer::Request> ScriptServer::requests(const QByteArray& method) const {
    std::vector<Request> out;
    for (const Request& r : requests_) {
        if (r.method() == method)
            out.push_back(r);
    }
    return out;
}

quint16 ScriptServer::ClosedPort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

void ScriptServer::accept() {
    while (QTcpSocket* socket = server_.nextPendingConnection()) {
        Peer& peer = peers_[socket];
        peer.socket = socket;
        peer.number = ++connections_;
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
            if (auto it = peers_.find(socket); it != peers_.end())
                readFrom(it->second);
        });
        readFrom(peer);
    }
}

void ScriptServer::readFrom(Peer& peer) {
    peer.pending += peer.socket->readAll();
    for (;;) {
        if (!peer.answering)
            return;
        const qsizetype end = peer.pending.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        Request request{peer.pending.left(end + 4), peer.number};
        peer.pending.remove(0, end + 4);
        requests_.push_back(request);
        if (onRequest)
            onRequest(request);
        if (respond) {
            if (const std::optional<Reply> reply = respond(request)) {
                answer(peer, *reply);
                continue;
            }
        }

        QByteArray key = request.method() + ' ' + request.target();
        auto script = scripts_.find(key);
        if (script == scripts_.end()) {
            key = request.method();
            script = scripts_.find(key);
        }
        if (script == scripts_.end() || script->second.empty()) {
            answer(peer, Reply::Head({"HTTP/1.1 500 Not Scripted", "Content-Length: 0"}));
            continue;
        }
        std::size_t& next = used_[key];
        const Reply reply = script->second[std::min(next, script->second.size() - 1)];
        ++next;
        answer(peer, reply);
    }
}

void ScriptServer::answer(Peer& peer, const Reply& reply) {
    if (reply.after != Reply::After::KeepAlive)
        peer.answering = false;
    if (reply.silent) {
        peer.answering = false;
        return;
    }
    const QByteArray body = reply.cutAt >= 0 ? reply.body.left(reply.cutAt) : reply.body;
    if (!reply.drip.isEmpty()) {
        peer.socket->write(reply.head + body);
        auto* timer = new QTimer(peer.socket);
        QObject::connect(timer, &QTimer::timeout, peer.socket,
                         [socket = peer.socket, drip = reply.drip] {
                             if (socket->state() == QAbstractSocket::ConnectedState)
                                 socket->write(drip);
                         });
        timer->start(reply.dripEvery);
        return;
    }
    if (reply.piece <= 0) {
        peer.socket->write(reply.head + body);
        finish(peer.socket, reply.after);
    } else {
        peer.socket->write(reply.head);
        sendPieces(peer.socket, body, reply.piece, reply.after);
    }
}

void ScriptServer::sendPieces(QTcpSocket* socket, QByteArray rest, qsizetype piece,
                              Reply::After after) {
    if (rest.isEmpty()) {
        finish(socket, after);
        return;
    }
    socket->write(rest.left(piece));
    socket->flush();
    rest.remove(0, std::min(piece, rest.size()));
    // The next piece goes out on a later loop turn, so the client sees separate arrivals.
    QTimer::singleShot(
        1, socket, [this, socket, rest, piece, after] { sendPieces(socket, rest, piece, after); });
}

void ScriptServer::finish(QTcpSocket* socket, Reply::After after) {
    if (after == Reply::After::Close)
        socket->disconnectFromHost(); // sends what is still buffered, then closes
    else
        socket->flush();
}

} // namespace orvello::test
