// orvello: the window. One runs per user; a second start hands its addresses to it.
#include "CommandLine.h"
#include "SingleInstance.h"
#include "common/StopSignals.h"
#include "frmMain.h"

#include <QApplication>
#include <QQuickWindow>

#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

using namespace orvello;

namespace {

void Write(std::FILE* stream, const QString& text) {
    const QByteArray bytes = Printable(text).toUtf8();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

extern "C" void EndAtOnce(int signal) {
    _exit(kExitSignalBase + signal);
}

// Until the window can hear a stop, a stop signal ends the program at once with 128 + the
// signal: no download runs and nothing of the list has changed yet, and a wait before the
// window (a settings file that is a FIFO) would otherwise hold the signal. A signal the
// program was started with ignored stays ignored.
void EndAtOnceOnStopSignals() {
    for (const int signal : StopSignals::kSignals) {
        struct sigaction action = {};
        if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN)
            continue;
        action = {};
        action.sa_handler = &EndAtOnce;
        sigemptyset(&action.sa_mask);
        sigaction(signal, &action, nullptr);
    }
}

} // namespace

int main(int argc, char** argv) {
    EndAtOnceOnStopSignals();
    // Read before the application object, which needs a display: --help, --version and a
    // wrong command line are answered without one.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const CommandLine commandLine = ParseCommandLine(args);
    switch (commandLine.action) {
    case CommandLine::Action::Help:
        Write(stdout, UsageText());
        return kExitClosed;
    case CommandLine::Action::Version:
        Write(stdout, VersionText());
        return kExitClosed;
    case CommandLine::Action::UsageError:
        Write(stderr, QStringLiteral("orvello: %1\nTry 'orvello --help' for more information.\n")
                          .arg(commandLine.error));
        return kExitUsage;
    case CommandLine::Action::Window:
        break;
    }

    // The surface is flat 2D drawing: Qt Quick's software renderer draws it well and starts
    // in a fraction of the time an OpenGL context takes (three times faster without a GPU).
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvello"));
    QApplication::setOrganizationName(QStringLiteral("Orvello"));
    // Ties the window to the installed desktop entry (its name and icon).
    QApplication::setDesktopFileName(QStringLiteral("orvello"));
    // The window may be hidden to the tray; only the exit command ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // A second window would share the first's page scratch file and write over its list: the
    // addresses go to the window that runs instead, and this program ends.
    SingleInstance single(SingleInstance::DefaultPath());
    const SingleInstance::Outcome started = single.Start(commandLine.addresses);
    switch (started.role) {
    case SingleInstance::Role::HandedOver:
        if (started.leftOut == 0)
            return kExitClosed;
        Write(stderr, QStringLiteral("orvello: %1 of the addresses were left out: at most %2 go "
                                     "to the running Orvello at once.\n")
                          .arg(started.leftOut)
                          .arg(SingleInstance::kMostAddresses));
        return kExitFailed;
    case SingleInstance::Role::NoAnswer:
        Write(stderr, QStringLiteral("orvello: %1.\n").arg(started.message));
        return kExitFailed;
    case SingleInstance::Role::Alone:
        Write(stderr, QStringLiteral("orvello: other starts of Orvello can't reach this window: "
                                     "%1.\n")
                          .arg(started.message));
        break;
    case SingleInstance::Role::First:
        break;
    }

    frmMain::Options options;
    // However the program ends, the socket goes with it; the loop ends with the status, or,
    // when it ends before the loop runs (the surface did not load), main returns it.
    std::optional<int> ended;
    options.endProcess = [&single, &ended](int status) {
        single.Close();
        ended = status;
        QCoreApplication::exit(status);
    };
    frmMain window(options);
    if (ended)
        return *ended;
    // From here a stop signal ends the program as its Exit does: the running downloads stopped
    // (their partial files kept to continue from, where they can be) and the list saved.
    StopSignals stopSignals;
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &window,
                     [&window](int signal) { window.ExitNow(kExitSignalBase + signal); });
    window.show();
    window.AddUrls(commandLine.addresses);
    single.SetReceiver([&window](const QStringList& addresses) {
        window.AddUrls(addresses);
        window.BringToFront();
    });
    return app.exec();
}
