#pragma once

#include <QAction>
#include <QActionGroup>
#include <QMenu>
#include <QObject>

#include <cstdint>
#include <vector>

namespace orvello {

// Holds the tray icon's menu. The window connects the items' actions; the menu keeps no
// state of its own: the download item's caption, the watch item's check mark and the marks
// of the two download submenus mirror the scheduler, the clipboard monitor and the settings.
class frmMenu : public QObject {
    Q_OBJECT
public:
    explicit frmMenu(QObject* parent = nullptr);

    // The speed limits offered, in bytes a second (0: no limit), in their order.
    static const std::vector<std::int64_t>& SpeedChoices();
    // An item's text for a speed limit: "No limit", or the size text a second ("500 KB/s").
    static QString SpeedText(std::int64_t bytesPerSecond);

    QMenu TRAYMENU;
    QAction* mnuOrvello;
    QAction* mnuSep1;
    QAction* mnuDownload;
    // "Simultaneous downloads": the items 1 to 8, one checked; each item's data is its count.
    QMenu* mnuSimultaneous;
    QActionGroup* grpSimultaneous;
    // "Speed limit": the choices, one checked; each item's data is its limit. The first item
    // stands for a stored limit that is none of the choices, shown only then.
    QMenu* mnuSpeedLimit;
    QActionGroup* grpSpeedLimit;
    QAction* mnuSpeedOther;
    // "Find videos on any page": checked while pages no site knows are searched for a video.
    QAction* mnuAnySite;
    // "Use a cookies file...": checked while a cookies.txt goes with every request.
    QAction* mnuCookies;
    QAction* mnuSep2;
    QAction* mnuMonitor;
    QAction* mnuSep3; // the next three are never shown
    QAction* mnuHelp;
    QAction* mnuAbout;
    QAction* mnuSep4;
    QAction* mnuExit;
};

} // namespace orvello
