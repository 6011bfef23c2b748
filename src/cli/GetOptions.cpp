#include "cli/GetOptions.h"

namespace orvello::cli {

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
        "Usage: orvello-get [--folder DIR] [--quiet] URL...\n"
        "Downloads the video behind each page address, one after the other.\n"
        "\n"
        "  URL            a page address on a supported video site; - reads\n"
        "                 addresses from standard input, one per line\n"
        "  --folder DIR   download into DIR (created when missing); by default the\n"
        "                 folder chosen in Orvello, else ~/Downloaded Videos\n"
        "  -q, --quiet    print failures only\n"
        "  -h, --help     print this help and exit\n"
        "  --version      print the version and exit\n"
        "\n"
        "Exit status: 0 when every address ended Complete, 1 when any failed or\n"
        "a line could not be written, 2 for a wrong command line, 130, 143 or 129\n"
        "when stopped by SIGINT, SIGTERM or SIGHUP.\n");
}

} // namespace orvello::cli
