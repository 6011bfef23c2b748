#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

namespace orvello::cli {

// What the command line asks for.
struct GetOptions {
    enum class Action { Download, Help, Version, UsageError };
    Action action = Action::Download;
    QString folder;     // --folder; empty: the settings' folder, else the default
    bool quiet = false; // --quiet: failures only
    // --jobs: entries downloaded at a time, 1 to 8; none given: the settings' count.
    std::optional<int> jobs;
    // --limit-rate: bytes a second all downloads together may come at, 0 for no limit; none
    // given: the settings' limit.
    std::optional<std::int64_t> limitRate;
    // --retries: how often a failure that may pass (a broken connection, a busy server) is
    // tried again, 0 to 10.
    int retries = 5;
    // --cookies: a cookies.txt file (Netscape format) read for every request; never written.
    QString cookies;
    // --any-site: an address no site knows is searched for a video as a page of its own.
    bool anySite = false;
    // The addresses in order; "-" stands for the lines of standard input at that place.
    QStringList addresses;
    QString error; // for UsageError: what is wrong, in one line
};

// Reads the arguments after the program's name. "--folder DIR" and "--folder=DIR", "--quiet"
// and "-q", "--jobs N", "--jobs=N" and "-j N", "--limit-rate RATE" and "--limit-rate=RATE",
// "--retries N" and "--retries=N", "--cookies FILE" and "--cookies=FILE", "--any-site", "--help"
// and "-h", "--version"; "--" ends the options, and "-" alone is an address (standard input). An
// unknown option, a missing or wrong value or no address at all is a usage error; --help and
// --version win over everything else.
GetOptions ParseGetOptions(const QStringList& args);

// A rate as --limit-rate takes it: a whole number of bytes a second, or of K (1024), M or G
// of them ("500K", "2M", "1G", "65536"); nothing for any other text or a rate too large.
std::optional<std::int64_t> ParseRate(const QString& text);

// The text --help prints.
QString UsageText();

} // namespace orvello::cli
