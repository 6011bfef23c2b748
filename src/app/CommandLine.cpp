#include "app/CommandLine.h"

#include "list/AddressSplit.h"
#include "list/modMain.h"

#include <array>

namespace orvello {

namespace {

// Qt's own options, which QApplication takes out of the command line itself: those that take
// a value (the next argument, or after '='), and those that take none. Qt reads them with one
// dash or two.
constexpr std::array kQtOptionsWithValue = {"platform",
                                            "platformpluginpath",
                                            "platformtheme",
                                            "plugin",
                                            "qwindowgeometry",
                                            "geometry",
                                            "qwindowtitle",
                                            "title",
                                            "qwindowicon",
                                            "icon",
                                            "session",
                                            "display",
                                            "name",
                                            "style",
                                            "stylesheet",
                                            "visual",
                                            "qmljsdebugger"};
constexpr std::array kQtOptionsAlone = {"reverse", "widgetcount", "testability", "sync",
                                        "nograb",  "dograb",      "cmap"};

enum class QtOption { None, Alone, WithValue, WithValueAttached };

QtOption QtOptionOf(const QString& arg) {
    QStringView name(arg);
    name = name.sliced(name.startsWith(QLatin1String("--")) ? 2 : 1);
    const qsizetype equals = name.indexOf(QLatin1Char('='));
    const QStringView bare = equals < 0 ? name : name.first(equals);
    for (const char* option : kQtOptionsWithValue) {
        if (bare == QLatin1String(option))
            return equals < 0 ? QtOption::WithValue : QtOption::WithValueAttached;
    }
    for (const char* option : kQtOptionsAlone) {
        if (equals < 0 && bare == QLatin1String(option))
            return QtOption::Alone;
    }
    return QtOption::None;
}

} // namespace

CommandLine ParseCommandLine(const QStringList& args) {
    CommandLine c;
    bool optionsEnded = false;
    QStringList addresses;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (optionsEnded || !a.startsWith(QLatin1Char('-'))) {
            addresses << a;
        } else if (a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            c.action = CommandLine::Action::Help;
        } else if (a == QLatin1String("--version")) {
            if (c.action != CommandLine::Action::Help)
                c.action = CommandLine::Action::Version;
        } else if (const QtOption qt = QtOptionOf(a); qt != QtOption::None) {
            if (qt == QtOption::WithValue)
                ++i; // its value, also when it looks like an address
        } else if (c.action == CommandLine::Action::Window) {
            c.action = CommandLine::Action::UsageError;
            c.error = QStringLiteral("unknown option %1").arg(a);
        }
    }
    if (c.action != CommandLine::Action::UsageError)
        c.error.clear();
    // Each line of an argument is an address, as a paste into the address field gives them.
    for (const QString& a : addresses)
        c.addresses << SplitLines(a, modMain::kCapacity).addresses;
    return c;
}

QString UsageText() {
    return QStringLiteral(
        "Usage: orvello [URL...]\n"
        "Opens the Orvello window, a download list for the pages of video sites, and\n"
        "adds each page address given to the list. When Orvello already runs, the\n"
        "addresses go to its window, which comes to the front, and this command ends.\n"
        "\n"
        "  URL            a page address on a supported video site\n"
        "  -h, --help     print this help and exit\n"
        "  --version      print the version and exit\n"
        "\n"
        "Exit status: 0 when the window was closed or the running Orvello took the\n"
        "addresses, 1 when the window could not be shown or the running Orvello did\n"
        "not answer, 2 for a wrong command line, 130, 143 or 129 when ended by\n"
        "SIGINT, SIGTERM or SIGHUP.\n");
}

QString VersionText() {
    return QStringLiteral("orvello " ORVELLO_VERSION "\n");
}

QString Printable(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control && c != QLatin1Char('\t') &&
            c != QLatin1Char('\n'))
            c = QLatin1Char('?');
    return text;
}

} // namespace orvello
