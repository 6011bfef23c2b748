// orvello-get: downloads the videos behind video-site pages from the command line, with the
// same list, resolution, naming and transfer as the window.
#include "cli/AddressFeed.h"
#include "cli/ConsoleReport.h"
#include "cli/GetCommand.h"
#include "cli/GetOptions.h"
#include "common/StopSignals.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace orvello;
using namespace orvello::cli;

namespace {

bool IsTerminal(int fd) {
    return isatty(fd) && qEnvironmentVariable("TERM") != QLatin1String("dumb");
}

extern "C" void EndAtOnce(int signal) {
    _exit(kExitSignalBase + signal);
}

// Until the run can hear a stop, a stop signal ends the program at once with 128 + the
// signal: nothing has been fetched and no download's file exists yet, and a wait before the
// run (a settings file that is a FIFO, a folder on a hung mount) would otherwise hold the
// signal. A signal the program was started with ignored stays ignored.
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

// The status: a line that could not be written makes it kExitFailed, and is told on standard
// error while that still takes lines.
int Ended(ConsoleReport& report, int status) {
    if (report.WriteError().isEmpty())
        return status;
    report.Message(report.WriteError());
    return kExitFailed;
}

} // namespace

int main(int argc, char** argv) {
    EndAtOnceOnStopSignals();
    // A reader that has gone is a failed write, told and answered by the program, not a
    // signal that ends it with the partial file left behind.
    std::signal(SIGPIPE, SIG_IGN);
    // A closed standard descriptor would be reused by the first file the program opens (the
    // signals' pipe, a socket), and "-" would then read that: each one closed reads
    // /dev/null instead.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd)
            return kExitFailed;
    }
    QCoreApplication app(argc, argv);
    // The same names as the window's, so both read the same settings.
    QCoreApplication::setApplicationName(QStringLiteral("Orvello"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvello"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVELLO_VERSION));

    const GetOptions options = ParseGetOptions(QCoreApplication::arguments().mid(1));
    // Every text goes out through the report, whose filter keeps control characters (an
    // escape sequence in an unknown option) off the terminal.
    ConsoleReport report(stdout, stderr, IsTerminal(STDOUT_FILENO), options.quiet);
    switch (options.action) {
    case GetOptions::Action::Help:
        report.Print(UsageText());
        return Ended(report, kExitComplete);
    case GetOptions::Action::Version:
        report.Print(QStringLiteral("orvello-get " ORVELLO_VERSION));
        return Ended(report, kExitComplete);
    case GetOptions::Action::UsageError:
        report.UsageError(options.error);
        return kExitUsage;
    case GetOptions::Action::Download:
        break;
    }

    // The window's settings stand for what the command line leaves out.
    ProgramSettings chosen;
    if (options.folder.isEmpty() || !options.jobs || !options.limitRate || !options.anySite ||
        options.cookies.isEmpty())
        chosen = GetCommand::StoredSettings();
    if (!options.folder.isEmpty())
        chosen.sDownloadDir = options.folder;
    chosen.iSimultaneous = options.jobs.value_or(chosen.iSimultaneous);
    chosen.lSpeedLimit = options.limitRate.value_or(chosen.lSpeedLimit);
    QString why;
    chosen.sDownloadDir = GetCommand::PrepareFolder(chosen.sDownloadDir, &why);
    if (chosen.sDownloadDir.isEmpty()) {
        report.Message(why);
        return kExitFailed;
    }
    // From here a stop signal is a request the run answers, so a partial file is removed.
    StopSignals stopSignals;
    GetCommand command(report);
    command.setRetries(options.retries);
    // The cookies file given, else the one chosen in the window.
    const QString cookieFile = options.cookies.isEmpty() ? chosen.sCookieFile : options.cookies;
    if (!cookieFile.isEmpty()) {
        // Read once here so a wrong path is said before anything is fetched; libcurl reads it
        // again for every request.
        const QFileInfo cookies(cookieFile);
        QFile probe(cookies.absoluteFilePath());
        if (!cookies.isFile() || !probe.open(QIODevice::ReadOnly)) {
            report.Message(QStringLiteral("The cookies file %1 can't be read.")
                               .arg(cookies.absoluteFilePath()));
            return kExitFailed;
        }
        command.setCookieFile(QFile::encodeName(cookies.absoluteFilePath()));
    }
    command.setAnySite(options.anySite || chosen.bAnySite);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &stopSignals,
                     [&command] { command.Stop(); });
    AddressFeed feed(options.addresses, STDIN_FILENO);
    int status = kExitFailed;
    if (!StopSignals::Received()) {
        command.Start(feed, chosen, [](int done) { QCoreApplication::exit(done); });
        status = QCoreApplication::exec();
    }
    // A stop by signal says so in the status, whatever the entries came to.
    if (const int signal = StopSignals::Received())
        return kExitSignalBase + signal;
    return Ended(report, status);
}
