#include "frmMain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvello"));
    QApplication::setOrganizationName(QStringLiteral("Orvello"));
    // Ties the window to the installed desktop entry (its name and icon).
    QApplication::setDesktopFileName(QStringLiteral("orvello"));
    // The window may be hidden to the tray; only the exit command ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    orvello::frmMain window;
    window.show();
    return app.exec();
}
