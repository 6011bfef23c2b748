#include "frmMain.h"

#include <QApplication>
#include <QQuickWindow>

int main(int argc, char** argv) {
    // The surface is flat 2D drawing: Qt Quick's software renderer draws it well and starts
    // in a fraction of the time an OpenGL context takes (three times faster without a GPU).
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvello"));
    QApplication::setOrganizationName(QStringLiteral("Orvello"));
    // Ties the window to the installed desktop entry (its name and icon).
    QApplication::setDesktopFileName(QStringLiteral("orvello"));
    // The window may be hidden to the tray; only the exit command ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    orvello::frmMain window;
    if (const auto status = window.ExitStatus())
        return *status; // it ended while it was made: its surface did not load
    window.show();
    return app.exec();
}
