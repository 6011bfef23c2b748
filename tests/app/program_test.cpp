// The real window program as a user starts it: its command line without a display.
#include "common/DoEvents.h"
#include "support/QtPrint.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

using namespace orvello;
using namespace std::chrono_literals;

namespace {

// Lets events run until `done` holds or `ms` pass.
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
