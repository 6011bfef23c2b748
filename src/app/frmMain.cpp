#include "frmMain.h"

#include "DownloadGrid.h"
#include "FramePacer.h"
#include "LinkDrops.h"
#include "MessageBoxPrompter.h"
#include "ProgramFiles.h"
#include "RowMenu.h"
#include "SurfaceBridge.h"
#include "SurfaceFeed.h"
#include "TrayIcon.h"
#include "list/AddressSplit.h"
#include "list/ListEditing.h"
#include "list/ListFile.h"
#include "list/modMain.h"
#include "modhook.h"
#include "monitor/ClipboardMonitor.h"
#include "scheduler/DownloadScheduler.h"
#include "settings/modSettings.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QQuickWidget>
#include <QScopedValueRollback>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <array>

namespace orvello {

namespace {

// The message of a surface that did not load, made of what the loading said was wrong.
QString SurfaceFailedText(const QString& surfacePath, const QStringList& errors) {
    const QString what = errors.isEmpty() ? QStringLiteral("%1 holds no surface to show.")
                                                .arg(QDir::toNativeSeparators(surfacePath))
                                          : errors.join(QLatin1Char('\n'));
    return QStringLiteral("Orvello can't show its window, because its surface did not load:\n\n") +
           what + QStringLiteral("\n\nOrvello will close now.");
}

} // namespace

QString frmMain::AboutText(int major, int minor, int revision) {
    return QStringLiteral("Version %1.%2.0.%3\r\n").arg(major).arg(minor).arg(revision) +
           QStringLiteral("Orvello is an easy to use program to download video files from "
                          "google,youtube,iFilm and other 9 video sharing sites to your PC.");
}

frmMain::frmMain() : frmMain(Options{}) {}

frmMain::frmMain(Options options) : m_options(std::move(options)) {
    if (!m_options.endProcess) {
        // The program's event loop ends with the status; before it runs (the surface did not
        // load), main returns it instead.
        m_options.endProcess = [this](int status) {
            m_exitStatus = status;
            QCoreApplication::exit(status);
        };
    }
    if (!m_options.browseForFolder) {
        m_options.browseForFolder = [](QWidget* owner, const QString& title,
                                       const QString& startFolder) {
            return QDir::toNativeSeparators(
                QFileDialog::getExistingDirectory(owner, title, startFolder));
        };
    }
    if (!m_options.openUrl)
        m_options.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    if (!m_options.notify)
        m_options.notify = [this](const QString& message) { m_tray->ShowMessage(message); };
    if (m_options.prompter) {
        m_prompter = m_options.prompter;
    } else {
        m_ownPrompter = std::make_unique<MessageBoxPrompter>(this);
        m_prompter = m_ownPrompter.get();
    }

    setWindowTitle(QStringLiteral("Orvello"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setWindowIcon(TrayIcon::Picture());
    new FramePacer(this); // owned by the window
    Flash = new QQuickWidget(this);
    Flash->setObjectName(QStringLiteral("Flash"));
    Flash->setResizeMode(QQuickWidget::SizeRootObjectToView);
    m_surface = std::make_unique<SurfaceBridge>(*Flash);
    m_ui.setSurface(m_surface.get());
    connect(m_surface.get(), &SurfaceBridge::fsCommand, this, &frmMain::Flash_FSCommand);
    DownloadGrid = new orvello::DownloadGrid(this);

    m_list = std::make_unique<modMain>(m_run, DownloadGrid, m_prompter);
    m_scheduler = std::make_unique<DownloadScheduler>(m_run, *m_list, *m_prompter, m_settings);
    m_monitor =
        std::make_unique<ClipboardMonitor>(m_settings, *m_list, m_run, m_scheduler->startStop);
    m_feed = std::make_unique<SurfaceFeed>(m_ui, *m_list);
    m_feed->Follow(*m_scheduler, *m_monitor);
    m_settingsStore = std::make_unique<modSettings>(
        m_settings, [this](const ProgramSettings& shown) { m_feed->ShowSettings(shown); },
        [this](bool on) { m_monitor->Monitor(on); }, m_options.store);
    m_editing = std::make_unique<ListEditing>(*m_list);
    // A refused rename is said once the edit has returned: the box runs events.
    m_editing->SetRenameFailedListener([this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] {
            m_prompter->MsgBox({message, MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle});
        });
    });
    m_hooks =
        std::make_unique<modhook>(*this, *Flash,
                                  modhook::Grid{[this] { return focusWidget() == DownloadGrid; },
                                                [this] { ScrollUp(); }, [this] { ScrollDown(); }});

    m_tray = std::make_unique<TrayIcon>(
        *this, TrayIcon::Actions{
                   [this] { return m_settings.bMonitorClipboard; },
                   [this](bool on) { SwitchClipboardWatch(on, WatchSwitch::FromTray); },
                   [this](const QString& command) { Flash_FSCommand(command, QString()); },
                   [this] { EndMe(); }, [this] { return m_settings.iSimultaneous; },
                   [this](int count) { SetSimultaneous(count); },
                   [this] { return m_settings.lSpeedLimit; },
                   [this](std::int64_t limit) { SetSpeedLimit(limit); },
                   [this] { return m_settings.bAnySite; }, [this](bool on) { SetAnySite(on); },
                   [this] { return !m_settings.sCookieFile.isEmpty(); },
                   [this](bool on) { UseCookieFile(on); }});
    connect(&m_scheduler->startStop, &StartStop::StopOfferedChanged, m_tray.get(),
            [this](bool offered) { m_tray->SetDownloadCaption(SurfaceFeed::Caption(offered)); });
    connect(&m_scheduler->startStop, &StartStop::RunEnded, this, &frmMain::RunEnded);
    // Addresses dropped on the surface or the grid are added. The surface takes drags for
    // its items; the grid takes none, so what is dropped on it reaches the window.
    m_drops = std::make_unique<LinkDrops>(
        [this](const QStringList& urls) { return m_list->AddUrlsToList(urls); }, *m_prompter);
    m_drops->Watch(*Flash);
    m_drops->Watch(*this);
    // The grid's row menu and its Delete key.
    m_rowMenu = std::make_unique<RowMenu>(
        *DownloadGrid, *m_list, *m_prompter,
        RowMenu::Actions{m_options.openUrl, [this](const QString& text) { CopyText(text); }});
    connect(DownloadGrid, &DownloadGrid::rowMenuRequested, m_rowMenu.get(), &RowMenu::Popup);
    connect(DownloadGrid, &DownloadGrid::removeRequested, this,
            [this] { m_editing->RemoveSelected(DownloadGrid->selectionModel()); });

    // Start-up, in this order: the window and its surface, the tray menu, the settings
    // (which may switch the clipboard watching on and show themselves on the surface), and
    // last the event hooks.
    InitMainWindow();
    m_tray->LoadMenu();
    m_settingsStore->LoadSettings();
    m_list->SetAnySite(m_settings.bAnySite);
    m_scheduler->needs.cookieFile = QFile::encodeName(m_settings.sCookieFile);
    StartHook();
    LoadList();
}

void frmMain::LoadList() {
    // The list of the last run comes back; from now on every change is written to disk.
    m_listFile = std::make_unique<ListFile>(
        *m_list, m_options.listFile.isEmpty() ? ListFile::DefaultPath() : m_options.listFile);
    // A write that failed is said once (until one succeeds again), from the event loop rather
    // than from inside the write: the box runs events, and a write may come from the exit.
    m_listFile->SetSaveFailedListener([this](const QString& message) {
        QTimer::singleShot(0, this, [this, message] {
            m_prompter->MsgBox({message, MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle});
        });
    });
    const ListFile::LoadResult loaded = m_listFile->Load();
    if (!loaded.message.isEmpty())
        m_prompter->MsgBox({loaded.message, MsgButtons::Ok, MsgIcon::Exclamation, kAppTitle});
}

frmMain::~frmMain() {
    m_listFile.reset();
    // The grid and the surface are children; the list must unbind before they go.
    m_rowMenu.reset();
    m_drops.reset();
    m_tray.reset();
    m_hooks.reset();
    m_editing.reset();
    m_feed.reset();
    m_monitor.reset();
    m_scheduler.reset();
    m_list.reset();
}

void frmMain::LoadSurface() {
    const QString path = m_options.surfacePath.isEmpty()
                             ? FindProgramFile(QStringLiteral("Main.qml"))
                             : m_options.surfacePath;
    if (m_surface->Load(path))
        return;
    m_prompter->MsgBox({SurfaceFailedText(path, m_surface->LoadErrors()), MsgButtons::Ok,
                        MsgIcon::Critical, kAppTitle});
    // The process ends here. A hook that returns (the tests') gets the window made all the
    // same, with the grid in its usual place.
    m_options.endProcess(kSurfaceFailed);
}

void frmMain::InitMainWindow() {
    Flash->move(0, 0);
    Flash->raise();
    Flash->resize(kWidth, kHeight);
    setFixedSize(kWidth, kHeight);
    // Before the tray icon: a program that ends for want of its surface never shows it.
    LoadSurface();
    m_tray->ShowIcon();

    // The grid takes its place and colours from the surface (before its layout, which makes
    // its style sheet from the colours), and stays behind the surface until the Download
    // page is shown.
    SetGridColours(m_surface->GridColoursFromTheme(GridColours{}));
    DownloadGrid->setGeometry(m_surface->GridArea(kGridArea));
    DownloadGrid->setVisible(false);
    m_list->FormatDownloadGrid(true);

    m_ui.SetUiVariable(
        QStringLiteral("_root.aboutTxt"),
        AboutText(ORVELLO_VERSION_MAJOR, ORVELLO_VERSION_MINOR, ORVELLO_VERSION_REVISION));
}

void frmMain::Flash_FSCommand(const QString& command, const QString& /*args*/) {
    using Action = void (*)(frmMain&);
    // Compared exactly, letter case included, in this order; an unknown name does nothing.
    static const std::array<std::pair<const char*, Action>, 20> kCommands{{
        {"IDC_FS_Drag", [](frmMain& w) { w.BeginWindowDrag(); }},
        {"IDC_FS_Minimize", [](frmMain& w) { w.showMinimized(); }},
        {"IDC_FS_Tray",
         [](frmMain& w) {
             // Without a system tray nothing could bring a hidden window back.
             if (!QSystemTrayIcon::isSystemTrayAvailable()) {
                 w.showMinimized();
                 return;
             }
             w.hide();
             w.m_tray->SysTray.show();
         }},
        {"IDC_FS_Close", [](frmMain& w) { w.EndMe(); }},
        {"IDC_FS_Slider", [](frmMain& w) { w.HideDownloadGrid(); }},
        {"IDC_FS_Download",
         [](frmMain& w) {
             w.DownloadGrid->ShowDownloadGrid();
             w.m_ui.sCurrentTab = QStringLiteral("Download");
         }},
        {"IDC_FS_About",
         [](frmMain& w) {
             w.HideDownloadGrid();
             w.m_ui.sCurrentTab = QStringLiteral("About");
         }},
        {"IDC_FS_Help",
         [](frmMain& w) {
             w.m_options.openUrl(QUrl::fromLocalFile(FindProgramFile(QStringLiteral("Help.html"))));
         }},
        {"ID_FS_webSite", [](frmMain& w) { w.m_options.openUrl(QUrl(kHomePage)); }},
        {"IDC_FS_startDownload", [](frmMain& w) { w.m_scheduler->startStop.tmrDownload.start(); }},
        {"IDC_FS_stopDownload",
         [](frmMain& w) { w.m_scheduler->startStop.cmdStartDownload_Click(); }},
        {"IDC_FS_addDownloadURL", [](frmMain& w) { w.AddDownloadUrl(); }},
        {"IDC_FS_selectAllD",
         [](frmMain& w) { w.m_editing->SelectAllRows(w.DownloadGrid->selectionModel()); }},
        {"IDC_FS_removeSelectedD",
         [](frmMain& w) { w.m_editing->RemoveSelected(w.DownloadGrid->selectionModel()); }},
        {"IDC_FS_moveUp",
         [](frmMain& w) { w.m_editing->MoveSelectedUp(w.DownloadGrid->selectionModel()); }},
        {"IDC_FS_moveDown",
         [](frmMain& w) { w.m_editing->MoveSelectedDown(w.DownloadGrid->selectionModel()); }},
        {"ID_FS_clearComplete", [](frmMain& w) { w.m_editing->ClearCompleted(); }},
        {"ID_FS_downloadBrowse",
         [](frmMain& w) {
             w.cmdBrowse_Click();
             w.m_settingsStore->SaveSettings();
         }},
        {"ID_FS_autoDownloadCheck",
         [](frmMain& w) { w.SwitchClipboardWatch(true, WatchSwitch::FromSurface); }},
        {"ID_FS_autoDownloadUncheck",
         [](frmMain& w) { w.SwitchClipboardWatch(false, WatchSwitch::FromSurface); }},
    }};
    for (const auto& [name, action] : kCommands) {
        if (command == QLatin1String(name)) {
            action(*this);
            return;
        }
    }
}

void frmMain::RunEnded(int complete, int failed) {
    // Shown, the window tells it all itself.
    if (isVisible() && !isMinimized())
        return;
    m_options.notify(TrayIcon::RunSummary(complete, failed));
}

void frmMain::AddUrls(const QStringList& urls) {
    m_list->AddUrlsToList(urls);
}

void frmMain::BringToFront() {
    m_tray->RestoreWindow();
}

void frmMain::AddDownloadUrl() {
    // Each line of the field is an address, as the surface holds it, blanks and all; a blank
    // line is none. A paste of several lines thus adds each of them. Adding finds the running
    // entry's row again; so does a field with no address.
    const QStringList lines = SplitLines(m_ui.VideoUrl(), modMain::kCapacity).addresses;
    if (!lines.isEmpty())
        m_list->AddUrlsToList(lines);
    else if (m_run.bDownloading())
        m_list->FindCurrentRow();
}

void frmMain::CopyText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return;
    // The program's own copy is no address for the clipboard watch to pick up: a page address
    // copied from the list would otherwise start a run.
    const bool watching = m_monitor->Listening();
    if (watching)
        m_monitor->Monitor(false);
    clipboard->setText(text);
    if (watching)
        m_monitor->Monitor(true);
}

void frmMain::HideDownloadGrid() {
    DownloadGrid->setVisible(false);
}

void frmMain::BeginWindowDrag() {
    // The window system moves the window with the pointer until the button is released.
    if (QWindow* window = windowHandle())
        window->startSystemMove();
}

void frmMain::cmdBrowse_Click() {
    const QString path = m_options.browseForFolder(
        this, QStringLiteral("Please select the desired Download directory then press Ok."),
        m_settings.sDownloadDir);
    if (path.isEmpty())
        return;
    const QString folder = modSettings::AbsoluteDownloadDir(path);
    m_ui.SetUiVariable(QStringLiteral("_root.download_dir"), folder);
    m_settings.sDownloadDir = folder;
}

void frmMain::StartHook() {
    m_hooks->HookFlashWindow(true);
    m_hooks->HookMainWindow(true);
}

void frmMain::StopHook() {
    m_hooks->HookFlashWindow(false);
    m_hooks->HookMainWindow(false);
}

void frmMain::ScrollUp() {
    if (focusWidget() == DownloadGrid)
        DownloadGrid->ScrollUp();
}

void frmMain::ScrollDown() {
    if (focusWidget() == DownloadGrid)
        DownloadGrid->ScrollDown();
}

void frmMain::SwitchClipboardWatch(bool on, WatchSwitch from) {
    m_monitor->Monitor(on);
    if (from == WatchSwitch::FromSurface)
        m_settingsStore->SaveSettings(); // the surface's check box shows it already
    else
        m_settingsStore->ShowSettings(); // the tray's item: the surface learns of it; not saved
}

void frmMain::SetSimultaneous(int count) {
    m_settings.iSimultaneous = std::clamp(count, 1, ProgramSettings::kMostSimultaneous);
    m_scheduler->runner.setSimultaneous(m_settings.iSimultaneous);
    m_settingsStore->SaveRunSettings();
}

void frmMain::SetAnySite(bool on) {
    m_settings.bAnySite = on;
    m_list->SetAnySite(on);
    m_settingsStore->SaveRunSettings();
}

void frmMain::UseCookieFile(bool on) {
    QString path;
    if (on) {
        // The chooser runs a loop of its own; the transfers go on meanwhile.
        path = QFileDialog::getOpenFileName(this, QStringLiteral("Cookies file"), QDir::homePath(),
                                            QStringLiteral("Cookie files (*.txt);;All files (*)"));
        if (path.isEmpty())
            return; // nothing chosen: the setting stays as it was
    }
    m_settings.sCookieFile = path;
    m_scheduler->needs.cookieFile = QFile::encodeName(path);
    m_settingsStore->SaveRunSettings();
}

void frmMain::SetSpeedLimit(std::int64_t bytesPerSecond) {
    m_settings.lSpeedLimit = std::max<std::int64_t>(bytesPerSecond, 0);
    m_scheduler->runner.setSpeedLimit(m_settings.lSpeedLimit);
    m_settingsStore->SaveRunSettings();
}

void frmMain::EndMe() {
    // The question's box runs events: a close that arrives while it is open is left to the
    // close that asked.
    if (m_closeAsking)
        return;
    if (m_run.bDownloading()) {
        StartStop& startStop = m_scheduler->startStop;
        if (startStop.StopOffered()) {
            const QScopedValueRollback<bool> asking(m_closeAsking, true);
            if (!startStop.ConfirmStop())
                return; // answered No: the program, the window and the download go on
        }
    }
    ExitNow(0);
}

void frmMain::ExitNow(int status) {
    // Whatever still runs stops at once, as a Stop stops it.
    m_scheduler->runner.Stop();
    if (m_listFile)
        m_listFile->SaveNow(); // an entry under way comes back "Cancelled" at the next start
    StopHook();
    m_monitor->Monitor(false);
    m_tray->Remove();
    hide();
    m_options.endProcess(status);
}

void frmMain::closeEvent(QCloseEvent* event) {
    // Closing from the window manager (title bar, task bar, Alt+F4) is an ordinary exit.
    event->ignore();
    EndMe();
}

} // namespace orvello
