#include "cli/GetOptions.h"

#include "common/ProgramSettings.h"

namespace orvello::cli {

namespace {

// The rates above this many bytes a second are refused (1 TiB/s is no limit at all).
constexpr std::int64_t kMostRate = std::int64_t(1) << 40;

bool AllDigits(const QString& text) {
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

std::optional<int> ParseJobs(const QString& text) {
    if (!AllDigits(text) || text.size() > 4)
        return std::nullopt;
    const int jobs = text.toInt();
    if (jobs < 1 || jobs > ProgramSettings::kMostSimultaneous)
        return std::nullopt;
    return jobs;
}

// The most tries again a download may be given: past ten the waits run to hours.
constexpr int kMostRetries = 10;

std::optional<int> ParseRetries(const QString& text) {
    if (!AllDigits(text) || text.size() > 2 || text.toInt() > kMostRetries)
        return std::nullopt;
    return text.toInt();
}

} // namespace

std::optional<std::int64_t> ParseRate(const QString& text) {
    QString digits = text;
    std::int64_t unit = 1;
    if (!digits.isEmpty()) {
        switch (digits.back().toUpper().unicode()) {
        case 'K':
            unit = std::int64_t(1) << 10;
            break;
        case 'M':
            unit = std::int64_t(1) << 20;
            break;
        case 'G':
            unit = std::int64_t(1) << 30;
            break;
        default:
            break;
        }
        if (unit > 1)
            digits.chop(1);
    }
    // More than 13 digits is beyond every rate taken, whatever the unit.
    if (!AllDigits(digits) || digits.size() > 13)
        return std::nullopt;
    const std::int64_t count = digits.toLongLong();
    if (count > kMostRate / unit)
        return std::nullopt;
    return count * unit;
}

GetOptions ParseGetOptions(const QStringList& args) {
    GetOptions o;
    auto fail = [&o](const QString& why) {
        if (o.action == GetOptions::Action::Download) {
            o.action = GetOptions::Action::UsageError;
            o.error = why;
        }
    };
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (optionsEnded || a == QLatin1String("-") || !a.startsWith(QLatin1Char('-'))) {
            o.addresses << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            o.action = GetOptions::Action::Help;
        } else if (a == QLatin1String("--version")) {
            if (o.action != GetOptions::Action::Help)
                o.action = GetOptions::Action::Version;
        } else if (a == QLatin1String("--any-site")) {
            o.anySite = true;
        } else if (a == QLatin1String("--quiet") || a == QLatin1String("-q")) {
            o.quiet = true;
        } else if (a == QLatin1String("--folder")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                fail(QStringLiteral("--folder needs a folder"));
            else
                o.folder = args[++i];
        } else if (a.startsWith(QLatin1String("--folder="))) {
            o.folder = a.mid(9);
            if (o.folder.isEmpty())
                fail(QStringLiteral("--folder needs a folder"));
        } else if (a == QLatin1String("--jobs") || a == QLatin1String("-j") ||
                   a.startsWith(QLatin1String("--jobs="))) {
            const bool joined = a.startsWith(QLatin1String("--jobs="));
            const QString value = joined ? a.mid(7) : i + 1 < args.size() ? args[++i] : QString();
            o.jobs = ParseJobs(value);
            if (!o.jobs)
                fail(QStringLiteral("%1 needs a number from 1 to %2")
                         .arg(joined ? QStringLiteral("--jobs") : a)
                         .arg(ProgramSettings::kMostSimultaneous));
        } else if (a == QLatin1String("--limit-rate") ||
                   a.startsWith(QLatin1String("--limit-rate="))) {
            const bool joined = a.size() > 12;
            const QString value = joined ? a.mid(13) : i + 1 < args.size() ? args[++i] : QString();
            o.limitRate = ParseRate(value);
            if (!o.limitRate)
                fail(QStringLiteral("--limit-rate needs a rate in bytes a second, such as 500K "
                                    "or 2M"));
        } else if (a == QLatin1String("--cookies")) {
            if (i + 1 >= args.size() || args[i + 1].isEmpty())
                fail(QStringLiteral("--cookies needs a file"));
            else
                o.cookies = args[++i];
        } else if (a.startsWith(QLatin1String("--cookies="))) {
            o.cookies = a.mid(10);
            if (o.cookies.isEmpty())
                fail(QStringLiteral("--cookies needs a file"));
        } else if (a == QLatin1String("--retries") || a.startsWith(QLatin1String("--retries="))) {
            const bool joined = a.size() > 9;
            const QString value = joined ? a.mid(10) : i + 1 < args.size() ? args[++i] : QString();
            const std::optional<int> retries = ParseRetries(value);
            if (retries)
                o.retries = *retries;
            else
                fail(QStringLiteral("--retries needs a number from 0 to %1").arg(kMostRetries));
        } else {
            fail(QStringLiteral("unknown option %1").arg(a));
        }
    }
    if (o.addresses.isEmpty())
        fail(QStringLiteral("no address given"));
    if (o.action != GetOptions::Action::UsageError)
        o.error.clear();
    return o;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: orvello-get [--folder DIR] [--jobs N] [--limit-rate RATE] [--retries N]\n"
        "                   [--any-site] [--cookies FILE] [--quiet] URL...\n"
        "Downloads the video behind each page address, in the order given, one or\n"
        "several at a time.\n"
        "\n"
        "  URL            a page address on a supported video site (any page with\n"
        "                 --any-site); - reads addresses from standard input, one\n"
        "                 per line\n"
        "  --folder DIR   download into DIR (created when missing); by default the\n"
        "                 folder chosen in Orvello, else ~/Downloaded Videos\n"
        "  -j, --jobs N   download N addresses at a time, 1 to 8; by default as many\n"
        "                 as chosen in Orvello, else 1\n"
        "  --limit-rate RATE\n"
        "                 let all downloads together take at most RATE bytes a\n"
        "                 second: 500K, 2M, 1G (K = 1024) or a number; 0 for no limit;\n"
        "                 by default the limit chosen in Orvello, else none\n"
        "  --cookies FILE send the cookies of FILE (a cookies.txt in the Netscape\n"
        "                 format, as browsers export it) with every request; the\n"
        "                 file is only read\n"
        "  --retries N    try a download that failed in a way that may pass (a\n"
        "                 broken connection, a busy server) again up to N times,\n"
        "                 0 to 10, each time from where it stopped; 5 by default\n"
        "  --any-site     look for a video on a page no supported site has: in its\n"
        "                 <video> elements, its metadata and its player's setup;\n"
        "                 HLS streams and DASH manifests are not downloaded yet\n"
        "  -q, --quiet    print failures only\n"
        "  -h, --help     print this help and exit\n"
        "  --version      print the version and exit\n"
        "\n"
        "Exit status: 0 when every address ended Complete, 1 when any failed or\n"
        "a line could not be written, 2 for a wrong command line, 130, 143 or 129\n"
        "when stopped by SIGINT, SIGTERM or SIGHUP.\n");
}

} // namespace orvello::cli
