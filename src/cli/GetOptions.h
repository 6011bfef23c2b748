#pragma once

#include <QString>
#include <QStringList>

namespace orvello::cli {

// What the command line asks for.
struct GetOptions {
    enum class Action { Download, Help, Version, UsageError };
    Action action = Action::Download;
    QString folder;     // --folder; empty: the settings' folder, else the default
    bool quiet = false; // --quiet: failures only
    // The addresses in order; "-" stands for the lines of standard input at that place.
    QStringList addresses;
    QString error; // for UsageError: what is wrong, in one line
};

// Reads the arguments after the program's name. "--folder DIR" and "--folder=DIR", "--quiet"
// and "-q", "--help" and "-h", "--version"; "--" ends the options, and "-" alone is an
// address (standard input). An unknown option, a missing folder or no address at all is a
// usage error; --help and --version win over everything else.
GetOptions ParseGetOptions(const QStringList& args);

// The text --help prints.
QString UsageText();

} // namespace orvello::cli
