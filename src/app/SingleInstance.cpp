#include "app/SingleInstance.h"

#include "list/AddressSplit.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QPointer>
#include <QStandardPaths>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvello {

namespace {

// Whether the program at the other end of a connected local socket runs as this user.
bool PeerIsThisUser(qintptr descriptor) {
    struct ucred peer {};
    socklen_t size = sizeof peer;
    return descriptor >= 0 &&
           ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           peer.uid == ::geteuid();
}

enum class AtPath { Nothing, OurSocket, SomethingElse };

AtPath WhatIsAt(const QString& path) {
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return AtPath::Nothing;
    return S_ISSOCK(st.st_mode) && st.st_uid == ::geteuid() ? AtPath::OurSocket
                                                            : AtPath::SomethingElse;
}

} // namespace

QString SingleInstance::DefaultPath() {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (runtime.isEmpty())
        return {};
    return QDir(runtime).filePath(QStringLiteral("orvello-%1").arg(::geteuid()));
}

SingleInstance::SingleInstance(QString path) : path_(std::move(path)) {}

SingleInstance::~SingleInstance() {
    Close();
}

SingleInstance::Outcome SingleInstance::Start(const QStringList& addresses) {
    if (path_.isEmpty())
        return {Role::Alone, QStringLiteral("the user has no runtime folder")};
    // Two programs started together take turns here, so the one that finds no Orvello is the
    // only one to listen, and a socket is taken over only while nobody can be starting on it.
    // A lock whose holder is gone is taken over too; one held past the wait is passed over.
    QLockFile turn(path_ + QStringLiteral(".lock"));
    turn.tryLock(kAnswerTime);
    switch (WhatIsAt(path_)) {
    case AtPath::Nothing:
        return listen();
    case AtPath::SomethingElse:
        return {Role::Alone, QStringLiteral("%1 is not a socket of this user's")
                                 .arg(QDir::toNativeSeparators(path_))};
    case AtPath::OurSocket:
        break;
    }
    QLocalSocket socket;
    socket.connectToServer(path_);
    if (socket.waitForConnected(int(kAnswerTime.count())))
        return handOver(socket, addresses);
    if (socket.error() != QLocalSocket::ConnectionRefusedError)
        return {Role::Alone, socket.errorString()};
    // Nobody listens: the socket was left by an Orvello that did not end in order.
    if (WhatIsAt(path_) == AtPath::OurSocket)
        QLocalServer::removeServer(path_);
    return listen();
}

SingleInstance::Outcome SingleInstance::handOver(QLocalSocket& socket,
                                                 const QStringList& addresses) {
    if (!PeerIsThisUser(socket.socketDescriptor()))
        return {Role::Alone, QStringLiteral("the program on %1 runs as another user")
                                 .arg(QDir::toNativeSeparators(path_))};
    Outcome outcome{Role::HandedOver, {}, 0};
    QByteArray message;
    qsizetype sent = 0;
    for (const QString& address : addresses) {
        const QByteArray line = address.toUtf8() + '\n';
        if (sent == kMostAddresses || message.size() + line.size() + 1 > kMostBytes)
            break;
        message += line;
        ++sent;
    }
    message += '\n';
    outcome.leftOut = addresses.size() - sent;

    const QDeadlineTimer deadline(kAnswerTime);
    socket.write(message);
    while (socket.bytesToWrite() > 0 && !deadline.hasExpired() &&
           socket.waitForBytesWritten(int(deadline.remainingTime()))) {
    }
    QByteArray answer;
    while (answer.size() < 3 && !deadline.hasExpired()) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime())))
            break;
        answer += socket.read(3 - answer.size());
    }
    if (answer != "ok\n") {
        return {Role::NoAnswer,
                deadline.hasExpired()
                    ? QStringLiteral("Orvello runs already, but did not answer in %1 s")
                          .arg(kAnswerTime.count() / 1000)
                    : QStringLiteral("Orvello runs already, but did not take the addresses: %1")
                          .arg(socket.errorString())};
    }
    return outcome;
}

SingleInstance::Outcome SingleInstance::listen() {
    auto* server = new QLocalServer(this);
    server->setMaxPendingConnections(kMostPeers);
    // No socket options: with them Qt makes the socket elsewhere and renames it into place,
    // over whatever is there. Without, the bind fails when anything is in the way, and the
    // runtime folder, the user's alone, keeps others off the socket.
    if (!server->listen(path_)) {
        const QString why = server->errorString();
        delete server;
        return {Role::Alone, why};
    }
    server_ = server;
    return {Role::First, {}};
}

void SingleInstance::SetReceiver(std::function<void(const QStringList&)> receiver) {
    receiver_ = std::move(receiver);
    if (!server_ || !receiver_)
        return;
    connect(server_, &QLocalServer::newConnection, this, &SingleInstance::accept,
            Qt::UniqueConnection);
    accept(); // the connections that waited
}

void SingleInstance::Close() {
    if (!server_)
        return;
    for (auto& [peer, bytes] : pending_)
        peer->disconnect(this);
    pending_.clear();
    server_->close(); // removes the socket
    delete server_;
    server_ = nullptr;
}

void SingleInstance::accept() {
    while (server_ && server_->hasPendingConnections()) {
        QLocalSocket* peer = server_->nextPendingConnection(); // the server's child
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        if (int(pending_.size()) >= kMostPeers || !PeerIsThisUser(peer->socketDescriptor())) {
            peer->abort();
            continue;
        }
        pending_[peer];
        // Qt's own buffer holds no more than the message may measure.
        peer->setReadBufferSize(kMostBytes);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { read(peer); });
        connect(peer, &QLocalSocket::disconnected, this, [this, peer] { pending_.erase(peer); });
        QTimer::singleShot(kReadTime, peer, [this, peer] {
            pending_.erase(peer);
            peer->abort();
        });
        read(peer);
    }
}

void SingleInstance::read(QLocalSocket* peer) {
    const auto it = pending_.find(peer);
    if (it == pending_.end())
        return;
    QByteArray& bytes = it->second;
    bytes += peer->read(kMostBytes - bytes.size());
    const qsizetype end = bytes.startsWith('\n') ? 0 : bytes.indexOf("\n\n");
    if (end < 0) {
        if (bytes.size() >= kMostBytes) {
            pending_.erase(it);
            peer->abort();
        }
        return;
    }
    const SplitText lines = SplitLines(QString::fromUtf8(bytes.first(end)), kMostAddresses);
    pending_.erase(it);
    if (lines.more > 0) {
        peer->abort();
        return;
    }
    // The receiver may run events, in which the peer may go.
    const QPointer<QLocalSocket> alive(peer);
    receiver_(lines.addresses);
    if (!alive || peer->state() != QLocalSocket::ConnectedState)
        return;
    peer->write("ok\n");
    peer->disconnectFromServer();
}

} // namespace orvello
