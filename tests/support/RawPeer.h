#pragma once

#include <QTcpServer>
#include <QTcpSocket>

#include <functional>

namespace orvello::test {

// A raw TCP peer on loopback: records the request bytes of the latest connection and,
// once the blank line ending the request is in, answers (then closes), closes, or stays mute.
// onRequest runs before the reply and may set the answer from the request.
struct RawPeer {
    enum class Reply { Answer, Close, Silent } reply = Reply::Answer;
    QByteArray answer, request;
    int connections = 0;
    std::function<void()> onRequest;
    QTcpServer server;

    RawPeer() {
        server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                ++connections;
                request.clear();
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { Read(s); });
            }
        });
    }
    void Read(QTcpSocket* s) {
        const bool before = request.contains("\r\n\r\n");
        request += s->readAll();
        if (before || !request.contains("\r\n\r\n"))
            return;
        if (onRequest)
            onRequest();
        if (reply == Reply::Answer)
            s->write(answer);
        if (reply != Reply::Silent)
            s->disconnectFromHost();
    }
    // The target of the request line ("GET <target> HTTP/1.1").
    QByteArray target() const {
        const qsizetype start = request.indexOf(' ') + 1;
        return request.mid(start, request.indexOf(' ', start) - start);
    }
};

} // namespace orvello::test
