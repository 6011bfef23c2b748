#include "frmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvello"));
    QApplication::setOrganizationName(QStringLiteral("Orvello"));
    orvello::frmMain window;
    window.show();
    return app.exec();
}
