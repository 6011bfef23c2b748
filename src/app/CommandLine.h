#pragma once

#include <QString>
#include <QStringList>

namespace orvello {

// What the window's command line asks for. It is read before the application object is
// made, so --help, --version and a wrong command line are answered without a display.
struct CommandLine {
    enum class Action { Window, Help, Version, UsageError };
    Action action = Action::Window;
    // The page addresses, each line of an argument one address, blank lines left out.
    QStringList addresses;
    QString error; // for UsageError: what is wrong, in one line
};

// The exit statuses of the window's program.
constexpr int kExitClosed = 0;       // closed, or the addresses went to the Orvello that runs
constexpr int kExitFailed = 1;       // the surface did not load; the Orvello that runs did not
                                     // answer
constexpr int kExitUsage = 2;        // a wrong command line
constexpr int kExitSignalBase = 128; // + the signal that ended it

// Reads the arguments after the program's name: "--help" and "-h", "--version", "--" (what
// follows are addresses), addresses, and the options of Qt's own (such as "-platform NAME" or
// "-style=NAME"), which the application object takes. Any other option is a usage error;
// --help and --version win over everything else.
CommandLine ParseCommandLine(const QStringList& args);

// The text --help prints.
QString UsageText();
// "orvello <version>".
QString VersionText();
// The text as it may go to a terminal: control characters (an escape sequence in an unknown
// option) become '?'.
QString Printable(QString text);

} // namespace orvello
