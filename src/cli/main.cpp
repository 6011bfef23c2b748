#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    const QStringList args = QCoreApplication::arguments();
    if (args.contains(QStringLiteral("--version"))) {
        out << "orvello-get " << ORVELLO_VERSION << "\n";
        return 0;
    }
    out << "usage: orvello-get [--folder DIR] [--quiet] URL...\n";
    return 2;
}
