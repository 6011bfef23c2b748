#include "frmMenu.h"

namespace orvello {

frmMenu::frmMenu(QObject* parent) : QObject(parent) {
    TRAYMENU.setTitle(QStringLiteral("Menu"));
    TRAYMENU.setObjectName(QStringLiteral("TRAYMENU"));
    mnuOrvello = TRAYMENU.addAction(QStringLiteral("Orvello"));
    mnuSep1 = TRAYMENU.addSeparator();
    mnuDownload = TRAYMENU.addAction(QStringLiteral("Start Downloading"));
    mnuSep2 = TRAYMENU.addSeparator();
    mnuMonitor = TRAYMENU.addAction(QStringLiteral("Monitor Video URL's in Clipboard"));
    mnuMonitor->setCheckable(true);
    mnuSep3 = TRAYMENU.addSeparator();
    mnuHelp = TRAYMENU.addAction(QStringLiteral("Help"));
    mnuAbout = TRAYMENU.addAction(QStringLiteral("About"));
    for (QAction* hidden : {mnuSep3, mnuHelp, mnuAbout})
        hidden->setVisible(false);
    mnuSep4 = TRAYMENU.addSeparator();
    mnuExit = TRAYMENU.addAction(QStringLiteral("Exit Orvello"));
}

} // namespace orvello
