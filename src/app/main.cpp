#include "frmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvello"));
    QApplication::setOrganizationName(QStringLiteral("Orvello"));
    // The window may be hidden to the tray; only the exit command ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    orvello::frmMain window;
    window.show();
    return app.exec();
}
