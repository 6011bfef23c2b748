// The real window program as a user starts it, on a virtual X display with a home of its own:
// its command line without a display, a second start handing its addresses to the first, and
// the stop signals during a download from the loopback server.
#include "common/DoEvents.h"
#include "scheduler/Machine.h"
#include "support/QtPrint.h"
#include "support/VirtualDisplay.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const bool kCanClick = !QStringLiteral(ORVELLO_CLICK).isEmpty(); // x11_click needs XCB

// Lets events run (the loopback server answers in them) until `done` holds or `ms` pass.
bool WaitUntil(const std::function<bool()>& done, int ms = 15000) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && !clock.hasExpired(ms))
        WaitForEvents(20ms);
    return done();
}

// How a program ended (-1: by a signal, or killed after 15 s) and what it printed.
struct Ended {
    int exit = -1;
    QString out, err;
};

Ended RunProgram(const QProcessEnvironment& env, const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(ORVELLO_PROGRAM), args);
    if (!WaitUntil([&] { return p.state() == QProcess::NotRunning; })) {
        p.kill();
        p.waitForFinished();
    }
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

// The first window of a home, on a virtual display, its stop signals at their defaults.
struct Window {
    QTemporaryDir home;
    VirtualDisplay display;
    QProcessEnvironment env;
    QProcess process;

    ~Window() {
        process.kill();
        process.waitForFinished(3000);
    }
    bool start(const QStringList& args) {
        if (!display.start())
            return false;
        env = display.environment(home);
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.setChildProcessModifier([] {
            for (int signal : {SIGINT, SIGTERM, SIGHUP})
                ::signal(signal, SIG_DFL);
        });
        process.start(QStringLiteral(ORVELLO_PROGRAM), args);
        return process.waitForStarted();
    }
    QString path(const QString& sub) const { return QDir(home.path()).filePath(sub); }
    QString socket() const { return path(QStringLiteral("orvello-%1").arg(::geteuid())); }
    // The program listens for later starts and its window is there.
    bool shown() const {
        return WaitUntil([&] {
            return process.state() == QProcess::Running && QFileInfo::exists(socket()) &&
                   (!kCanClick || click({}));
        });
    }
    // A click at {x, y} of the window; with no place, whether the window is there.
    bool click(const QStringList& at) const {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ORVELLO_CLICK), QStringList{"Orvello"} + at);
        return p.waitForFinished(5000) && p.exitCode() == 0;
    }
    int end(int signal) {
        ::kill(pid_t(process.processId()), signal);
        WaitUntil([&] { return process.state() == QProcess::NotRunning; });
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // The addresses in the list file the program left, which must be whole.
    QStringList urls() const {
        QFile f(path("data/Orvello/list.json"));
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(
            f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        QStringList urls;
        for (const QJsonValue& e : doc.object().value("entries").toArray())
            urls << e.toObject().value("url").toString();
        return urls;
    }
};

} // namespace

TEST(Program, TheCommandLineIsAnsweredWithoutADisplay) {
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("HOME", home.path());
    env.insert("XDG_RUNTIME_DIR", home.path());
    const QString usage = "Usage: orvello [URL...]", tryHelp = "Try 'orvello --help' for more "
                                                               "information.\n";
    const struct {
        QStringList args;
        int exit;
        QString out, err; // out: its first line
    } rows[] = {
        {{"--help"}, 0, usage, ""},
        {{"--bogus", "-h", "http://www.youtube.com/watch?v=1"}, 0, usage, ""},
        {{"--version"}, 0, "orvello " ORVELLO_VERSION, ""},
        {{"--bogus"}, 2, "", "orvello: unknown option --bogus\n" + tryHelp},
        {{"-"}, 2, "", "orvello: unknown option -\n" + tryHelp},
        {{"--\x1b[2J"}, 2, "", "orvello: unknown option --?[2J\n" + tryHelp},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.args.join(' ').toStdString());
        const Ended got = RunProgram(env, row.args);
        EXPECT_EQ(got.exit, row.exit);
        EXPECT_EQ(got.out.section('\n', 0, 0), row.out);
        EXPECT_EQ(got.err, row.err);
    }
    EXPECT_TRUE(QDir(home.path()).isEmpty());
}

// A second start hands its addresses to the first window, which adds them as its Add does,
// and ends with 0 once they are on the list; the first's list file holds them when it ends.
TEST(Program, ASecondStartHandsItsAddressesToTheFirst) {
    const QString a = "http://www.youtube.com/watch?v=a", b = "http://www.youtube.com/watch?v=b";
    QStringList many;
    for (int i = 0; i < 5000; ++i)
        many << QStringLiteral("http://x.org/%1").arg(i);
    // Peers that speak out of turn, open while the second start runs.
    std::vector<std::unique_ptr<QLocalSocket>> peers;
    auto peer = [&peers](const Window& w, const QByteArray& bytes) {
        peers.push_back(std::make_unique<QLocalSocket>());
        peers.back()->connectToServer(w.socket());
        EXPECT_TRUE(peers.back()->waitForConnected(3000));
        peers.back()->write(bytes);
    };
    const struct {
        const char* what;
        std::function<void(const Window&)> beforeFirst, beforeSecond;
        QStringList second;
        int exit;
        QStringList urls; // the first's list at its end
        QString err = {};
    } rows[] = {
        {"two addresses, one of them two lines",
         {},
         {},
         {b, "http://x.org/c\nhttp://x.org/d"},
         0,
         {a, b, "http://x.org/c", "http://x.org/d"}},
        {"no address: the window comes to the front", {}, {}, {}, 0, {a}},
        {"an address the list has already", {}, {}, {a, b}, 0, {a, b}},
        {"a socket left by an Orvello that was killed",
         [](const Window& w) {
             const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             qstrncpy(address.sun_path, QFile::encodeName(w.socket()).constData(),
                      sizeof address.sun_path);
             EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
             ::close(fd); // the socket stays, nobody listens on it
         },
         {},
         {b},
         0,
         {a, b}},
        {"peers that send nothing, 1 MiB without an end, 5000 addresses",
         {},
         [&](const Window& w) {
             peer(w, {});
             peer(w, QByteArray(1 << 20, 'x'));
             peer(w, many.join('\n').toUtf8() + "\n\n");
         },
         {b},
         0,
         {a, b}},
        {"5000 addresses: 4096 go over",
         {},
         {},
         many,
         1,
         QStringList{a} + many.first(4096),
         "orvello: 904 of the addresses were left out: at most 4096 go to the running Orvello at "
         "once.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        peers.clear();
        Window first;
        if (row.beforeFirst)
            row.beforeFirst(first);
        if (!first.start({a}))
            GTEST_SKIP() << first.display.errorString.toStdString();
        if (!first.shown()) {
            ADD_FAILURE() << "the window did not show";
            continue;
        }
        if (row.beforeSecond)
            row.beforeSecond(first);
        QElapsedTimer clock;
        clock.start();
        const Ended second = RunProgram(first.env, row.second);
        EXPECT_EQ(second.exit, row.exit);
        EXPECT_EQ(second.err, row.err);
        EXPECT_LT(clock.elapsed(), 5000);
        for (const auto& p : peers) { // none was answered, each was let go
            EXPECT_TRUE(WaitUntil([&] { return p->state() == QLocalSocket::UnconnectedState; }));
            EXPECT_EQ(p->readAll(), "");
        }
        EXPECT_EQ(first.end(SIGTERM), 143);
        const QStringList urls = first.urls();
        EXPECT_EQ(urls.size(), row.urls.size());
        EXPECT_TRUE(urls == row.urls) << urls.mid(0, 3).join(' ').toStdString() << " ... "
                                      << urls.mid(urls.size() - 3).join(' ').toStdString();
        EXPECT_FALSE(QFileInfo::exists(first.socket())) << "the socket goes with the program";
    }
}

// SIGTERM, SIGINT and SIGHUP while a video comes in end the window as its Exit does: no
// partial file stays, the list file holds an address added just before, and the status is
// 128 + the signal.
TEST(Program, AStopSignalEndsTheWindowAsItsExitDoes) {
    if (!kCanClick)
        GTEST_SKIP() << "no x11_click: the XCB headers are not installed";
    const QByteArray length = "Content-Length: 1024000";
    const struct { int signal, exit; } rows[] = {{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}};
    for (const auto& row : rows) {
        SCOPED_TRACE(strsignal(row.signal));
        ScriptServer server;
        // A tenth of the file, then nothing more until the program ends.
        Reply hang = Reply::Head({"HTTP/1.1 200 OK", length});
        hang.body = QByteArray(100 * 1024, 'v');
        hang.after = Reply::After::Hang;
        const QString slow =
            ServeVideo(server, "slow", Reply::Head({"HTTP/1.1 200 OK", length}), hang);
        const QString late = "http://www.youtube.com/watch?v=late";
        Window w;
        if (!w.start({slow}))
            GTEST_SKIP() << w.display.errorString.toStdString();
        if (!w.shown()) {
            ADD_FAILURE() << "the window did not show";
            continue;
        }
        const QString videos = w.path("Downloaded Videos");
        const QString part = QDir(videos).filePath("slow.flv.part");
        // Start, pressed until the run has begun (the surface may still be settling).
        EXPECT_TRUE(WaitUntil([&] {
            return QFileInfo::exists(part) ||
                   (w.click({"523", "441"}) &&
                    WaitUntil([&] { return QFileInfo::exists(part); }, 500));
        }));
        EXPECT_EQ(RunProgram(w.env, {late}).exit, 0);
        QElapsedTimer sinceSignal;
        sinceSignal.start();
        EXPECT_EQ(w.end(row.signal), row.exit);
        EXPECT_LT(sinceSignal.elapsed(), 3000);
        EXPECT_EQ(QDir(videos).entryList(QDir::Files | QDir::Hidden), QStringList());
        EXPECT_EQ(w.urls(), QStringList({slow, late}));
    }
}

// A window ended by SIGTERM, or killed, while a video comes in leaves its partial file with a
// record; started again, its kept entry continues from there at the next Start.
TEST(Program, AWindowStartedAgainContinuesWhereASignalEndedIt) {
    if (!kCanClick)
        GTEST_SKIP() << "no x11_click: the XCB headers are not installed";
    const QByteArray whole = DistinctBytes(1024000);
    const struct {
        int signal, exit;
        std::chrono::milliseconds after; // from the partial file's appearance
    } rows[] = {{SIGTERM, 143, 300ms}, {SIGKILL, -1, 2500ms}};
    for (const auto& row : rows) {
        SCOPED_TRACE(strsignal(row.signal));
        ScriptServer server;
        QList<QByteArray> ranges;
        // The first GET sends a tenth of the file, then nothing more; a range gets the rest.
        server.respond = ResumableFile("/clip.flv", whole, whole.size() / 10, ranges);
        const QString page = ServeVideo(server, "clip", Reply::Ok(""), Reply::Ok(""));
        Window w;
        if (!w.start({page}))
            GTEST_SKIP() << w.display.errorString.toStdString();
        if (!w.shown()) {
            ADD_FAILURE() << "the window did not show";
            continue;
        }
        const QString videos = w.path("Downloaded Videos");
        const QString part = QDir(videos).filePath("clip.flv.part");
        const QString file = QDir(videos).filePath("clip.flv");
        auto start = [&](const QString& until) { // Start, pressed until `until` is there
            return WaitUntil([&] {
                return QFileInfo::exists(until) ||
                       (w.click({"523", "441"}) &&
                        WaitUntil([&] { return QFileInfo::exists(until); }, 500));
            });
        };
        EXPECT_TRUE(start(part));
        QElapsedTimer since;
        since.start();
        WaitUntil([&] { return since.hasExpired(row.after.count()); });
        EXPECT_EQ(w.end(row.signal), row.exit);
        EXPECT_EQ(QDir(videos).entryList(QDir::Files | QDir::Hidden),
                  (QStringList{"clip.flv.part", "clip.flv.part.json"}));

        w.process.start(QStringLiteral(ORVELLO_PROGRAM), {});
        ASSERT_TRUE(w.process.waitForStarted());
        ASSERT_TRUE(w.shown());
        EXPECT_TRUE(start(file));
        EXPECT_TRUE(WaitUntil([&] { return !QFileInfo::exists(part); }));
        EXPECT_EQ(w.end(SIGTERM), 143);
        QFile got(file);
        EXPECT_TRUE(got.open(QIODevice::ReadOnly) && got.readAll() == whole);
        EXPECT_EQ(ranges, (QList<QByteArray>{{}, "bytes=102400-"}));
    }
}
