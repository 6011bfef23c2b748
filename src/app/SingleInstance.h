#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <map>

class QLocalServer;
class QLocalSocket;

namespace orvello {

// One Orvello window per user. The first program to start listens on a local socket in the
// user's runtime folder; a program started while it runs hands it the addresses of its
// command line and ends, so two windows never share the page scratch file or write over each
// other's list.
//
// What goes over the socket (a Unix stream socket, both ends the same user):
//   the later program   each address as one line of UTF-8 ended by "\n" (an address holds
//                       no line end and no blank line is sent), then an empty line "\n";
//   the first program   "ok\n" once the addresses are on its list, then it closes.
// Zero addresses (a bare second start) is the empty line alone: the window comes to the
// front. The first reads at most kMostBytes and kMostAddresses from one connection, from at
// most kMostPeers connections at a time, each for at most kReadTime; a connection past any of
// these bounds is closed without an answer. Reading never holds the window: it goes as the
// bytes arrive.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr qsizetype kMostAddresses = 4096;
    static constexpr qsizetype kMostBytes = 256 * 1024; // the empty line included
    static constexpr int kMostPeers = 8;
    static constexpr std::chrono::milliseconds kReadTime{5000};
    // How long a later program waits for the first one: to connect, send and be answered.
    static constexpr std::chrono::milliseconds kAnswerTime{10000};

    // "<runtime folder>/orvello-<user id>"; empty when the user has no runtime folder.
    static QString DefaultPath();

    enum class Role {
        First,      // no Orvello ran: this one listens now
        HandedOver, // the Orvello that runs took the addresses
        NoAnswer,   // an Orvello runs but did not take them in time
        Alone,      // the socket can't be used (another user's, no runtime folder, ...): this
                    // program runs on its own, as if it were the first
    };
    struct Outcome {
        Role role = Role::Alone;
        QString message;       // for NoAnswer and Alone: what went wrong, in one line
        qsizetype leftOut = 0; // HandedOver: addresses past the bounds, not sent
    };

    explicit SingleInstance(QString path);
    ~SingleInstance() override; // stops listening, and the socket goes

    // Hands `addresses` to the Orvello that runs, or, when none does, listens. A socket of
    // this user that nobody answers on (left by a program that was killed) is taken over; a
    // socket or file of anyone else's is never touched.
    Outcome Start(const QStringList& addresses);

    // Who takes the addresses handed over from now on. Connections wait unread until one is
    // set, so the window is whole before the first addresses reach it.
    void SetReceiver(std::function<void(const QStringList& addresses)> receiver);

    // Stops listening and removes the socket (the program ends).
    void Close();

private:
    Outcome handOver(QLocalSocket& socket, const QStringList& addresses);
    Outcome listen();
    void accept();
    void read(QLocalSocket* peer);

    QString path_;
    QLocalServer* server_ = nullptr;
    std::function<void(const QStringList&)> receiver_;
    std::map<QLocalSocket*, QByteArray> pending_; // what each connection has sent so far
};

} // namespace orvello
