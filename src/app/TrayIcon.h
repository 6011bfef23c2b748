#pragma once

#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

class QAction;
class QWidget;

namespace orvello {

class frmMenu;

// The tray icon that keeps the program reachable while its window is hidden, and its menu
// (frmMenu): a left click or the menu's first item brings the window back (from the tray or
// minimised), the download item starts or stops a run, the two submenus choose how many entries
// download at a time and the speed limit, "Find videos on any page" switches the search of
// pages no site knows, the watch item switches the clipboard watching, and
// Exit ends the program once the menu has closed. What the items do is the window's, handed in
// as Actions.
class TrayIcon : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<bool()> monitoring;           // whether the clipboard is watched
        std::function<void(bool on)> setMonitoring; // the watch item chosen: its new mark
        // The download item: "IDC_FS_startDownload" or "IDC_FS_stopDownload", by its caption.
        std::function<void(const QString& command)> command;
        std::function<void()> exit;                     // Exit, 200 ms after it was chosen
        std::function<int()> simultaneous;              // entries downloaded at a time
        std::function<void(int count)> setSimultaneous; // a count chosen
        std::function<std::int64_t()> speedLimit;       // bytes a second, 0 for no limit
        std::function<void(std::int64_t bytesPerSecond)> setSpeedLimit; // a limit chosen
        std::function<bool()> anySite;           // whether pages no site knows are searched
        std::function<void(bool on)> setAnySite; // "Find videos on any page": its new mark
        std::function<bool()> cookies;           // whether a cookies file is used
        std::function<void(bool on)> setCookies; // "Use a cookies file...": its new mark
    };

    TrayIcon(QWidget& window, Actions actions);
    ~TrayIcon() override;

    // The tray and window icon: a deep blue tile with a yellow arrow into a green tray.
    static QIcon Picture();

    // Shows the icon in the tray.
    void ShowIcon();
    // Makes the menu and attaches it to the icon.
    void LoadMenu();
    // The download item's caption, which follows the start/stop operation's.
    void SetDownloadCaption(const QString& caption);
    // Drops the menu and takes the icon out of the tray, for good.
    void Remove();
    // Brings the window back to the user: shown, restored when minimised, raised and made the
    // active window.
    void RestoreWindow();
    // Shows a message from the icon, where the desktop shows such messages.
    void ShowMessage(const QString& message);
    // What a run came to: "3 videos downloaded, 1 failed", "1 video downloaded", "no video
    // downloaded"; the failures only when there were any.
    static QString RunSummary(int complete, int failed);

    QSystemTrayIcon SysTray;
    std::unique_ptr<frmMenu> menu; // loaded at start-up, dropped by Remove
    QTimer tmrend;                 // 200 ms: runs the exit after the tray menu has closed

    // Tray events and menu items.
    void SysTray_Activated(QSystemTrayIcon::ActivationReason reason);
    void TRAYMENU_AboutToShow();
    void mnuOrvello_Click();
    void mnuDownload_Click();
    void mnuMonitor_Click();
    void mnuSimultaneous_Click(QAction* item);
    void mnuSpeedLimit_Click(QAction* item);
    void mnuAnySite_Click();
    void mnuCookies_Click();
    void mnuExit_Click();

private:
    QWidget& window_;
    Actions actions_;
};

} // namespace orvello
