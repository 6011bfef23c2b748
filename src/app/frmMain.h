#pragma once

#include "app/UiVariables.h"
#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "settings/CRegister.h"

#include <QRect>
#include <QUrl>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

class QQuickWidget;

namespace orvello {

class ClipboardMonitor;
class DownloadGrid;
class DownloadScheduler;
class LinkDrops;
class ListEditing;
class Prompter;
class RowMenu;
class SurfaceBridge;
class SurfaceFeed;
class TrayIcon;
class modMain;
class modSettings;
class modhook;
class ListFile;

// The main window: a fixed, frameless window filled by the UI surface (Main.qml), with the
// download grid laid over the surface's list area and a tray icon that keeps the program
// reachable while the window is hidden. It composes the subsystems, the surface's bridge and
// the tray icon, and dispatches the surface's commands to them; the behaviour lives in them.
class frmMain : public QWidget {
    Q_OBJECT
public:
    // What tests replace; the program uses the defaults.
    struct Options {
        QString surfacePath;                 // empty: Main.qml found by FindProgramFile
        RegRoot store = HKEY_CURRENT_USER(); // where the two settings live
        Prompter* prompter = nullptr;        // null: message boxes over this window
        // Ends the program with an exit status: ExitNow's, or kSurfaceFailed when the surface
        // did not load. The default ends the event loop with it (ExitStatus tells it).
        std::function<void(int status)> endProcess;
        // The folder chooser, opened at startFolder; the default is the system's folder
        // dialog.
        std::function<QString(QWidget* owner, const QString& title, const QString& startFolder)>
            browseForFolder;
        // Opens the help page, the web site and the row menu's files and folders; the default
        // is the desktop's handler. False when nothing could open it.
        std::function<bool(const QUrl&)> openUrl;
        // Shows a message from the tray icon; the default is the tray icon's balloon.
        std::function<void(const QString& message)> notify;
        // Where the download list is kept between runs; empty: ListFile::DefaultPath().
        QString listFile;
    };

    static constexpr int kWidth = 630;
    static constexpr int kHeight = 535;
    // Where the grid goes when the surface names no place for it (it did not load).
    static constexpr QRect kGridArea{23, 177, 572, 179};
    static inline const QString kHomePage = QStringLiteral("https://www.orvello.org/");
    // The exit status of a program whose surface did not load.
    static constexpr int kSurfaceFailed = 1;

    frmMain();
    explicit frmMain(Options options);
    ~frmMain() override;

public slots:
    // The single dispatcher of the surface's commands (and of the tray menu's two).
    void Flash_FSCommand(const QString& command, const QString& args);

public:
    // Orderly shutdown: during a run asks whether to cancel it and, answered No, goes on as
    // if nothing happened; otherwise ends the program with status 0 (ExitNow).
    void EndMe();
    // The end of the program, without a question: stops the run (as Stop does), saves the
    // list, removes the hooks, stops the clipboard watching, drops the tray menu, and ends the
    // program with `status` (Options::endProcess). EndMe ends through it with 0, a stop signal
    // with 128 + the signal.
    void ExitNow(int status);
    // Addresses handed in from outside (the command line, another start of the program):
    // added as the Add command adds them, with one fill.
    void AddUrls(const QStringList& urls);
    // Brings the window back to the user: shown, restored when minimised, raised, active.
    void BringToFront();
    // Switches the clipboard watching. From the surface's check box both settings are saved;
    // from the tray menu's item the surface is shown the new state and nothing is saved.
    enum class WatchSwitch { FromSurface, FromTray };
    void SwitchClipboardWatch(bool on, WatchSwitch from);
    // The tray menu's choices of entries at a time (1 to 8) and of the speed limit (bytes a
    // second, 0 for none): they apply at once to a run under way and are saved.
    void SetSimultaneous(int count);
    void SetSpeedLimit(std::int64_t bytesPerSecond);
    // "Find videos on any page" chosen in the tray's menu: its new mark, saved at once.
    void SetAnySite(bool on);
    // "Use a cookies file...": on, a cookies.txt is chosen and goes with every request from
    // then on; off, none does.
    void UseCookieFile(bool on);
    void BeginWindowDrag();
    // Asks for the download folder, starting in the current one; a chosen folder that is not
    // an absolute path becomes the default.
    void cmdBrowse_Click();
    void StartHook();
    void StopHook();
    void ScrollUp();
    void ScrollDown();

    // The status the program ended with, once EndMe or a surface that did not load ended it.
    std::optional<int> ExitStatus() const { return m_exitStatus; }

    // "Version <major>.<minor>.0.<revision>", CR LF, and the program's description.
    static QString AboutText(int major, int minor, int revision);
    // A run has ended: while the window is hidden or minimised, the tray icon sums it up
    // (TrayIcon::RunSummary).
    void RunEnded(int complete, int failed);

    modMain& list() { return *m_list; }
    DownloadScheduler& scheduler() { return *m_scheduler; }
    ClipboardMonitor& monitor() { return *m_monitor; }
    modSettings& settings() { return *m_settingsStore; }
    ProgramSettings& programSettings() { return m_settings; }
    UiVariables& ui() { return m_ui; }
    RunState& runState() { return m_run; }

    SurfaceBridge& surface() { return *m_surface; }
    SurfaceFeed& feed() { return *m_feed; }
    TrayIcon& tray() { return *m_tray; }
    RowMenu& rowMenu() { return *m_rowMenu; }

    QQuickWidget* Flash = nullptr;
    orvello::DownloadGrid* DownloadGrid = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void InitMainWindow();
    // Loads the surface; one that does not load is told in a message box and ends the
    // program, rather than leaving a blank window that can't be used or closed.
    void LoadSurface();
    void LoadList();
    void AddDownloadUrl();
    // Puts text on the clipboard, unseen by the clipboard watch.
    void CopyText(const QString& text);
    void HideDownloadGrid();

    Options m_options;
    RunState m_run;
    ProgramSettings m_settings;
    UiVariables m_ui;
    std::unique_ptr<Prompter> m_ownPrompter;
    Prompter* m_prompter = nullptr;
    std::unique_ptr<modMain> m_list;
    std::unique_ptr<DownloadScheduler> m_scheduler;
    std::unique_ptr<ClipboardMonitor> m_monitor;
    std::unique_ptr<modSettings> m_settingsStore;
    std::unique_ptr<ListEditing> m_editing;
    std::unique_ptr<modhook> m_hooks;
    std::unique_ptr<SurfaceBridge> m_surface;
    std::unique_ptr<SurfaceFeed> m_feed;
    std::unique_ptr<TrayIcon> m_tray;
    std::unique_ptr<ListFile> m_listFile;
    std::unique_ptr<LinkDrops> m_drops;
    std::unique_ptr<RowMenu> m_rowMenu;
    bool m_closeAsking = false; // EndMe's question about the running download is open
    std::optional<int> m_exitStatus;
};

} // namespace orvello
