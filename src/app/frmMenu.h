#pragma once

#include <QAction>
#include <QMenu>
#include <QObject>

namespace orvello {

// Holds the tray icon's menu. The window connects the items' actions; the menu keeps no
// state of its own: the download item's caption and the watch item's check mark mirror
// the scheduler and the clipboard monitor.
class frmMenu : public QObject {
    Q_OBJECT
public:
    explicit frmMenu(QObject* parent = nullptr);

    QMenu TRAYMENU;
    QAction* mnuOrvello;
    QAction* mnuSep1;
    QAction* mnuDownload;
    QAction* mnuSep2;
    QAction* mnuMonitor;
    QAction* mnuSep3; // the next three are never shown
    QAction* mnuHelp;
    QAction* mnuAbout;
    QAction* mnuSep4;
    QAction* mnuExit;
};

} // namespace orvello
