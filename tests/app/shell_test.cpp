// The desktop shell: start-up, the surface's commands, the tray menu, the wheel, shutdown.
// The real window with its real surface, on the offscreen platform.
#include "app/DownloadGrid.h"
#include "app/GridCellDelegate.h"
#include "app/MessageBoxPrompter.h"
#include "app/RowMenu.h"
#include "app/SurfaceBridge.h"
#include "app/TrayIcon.h"
#include "app/frmMain.h"
#include "app/frmMenu.h"
#include "list/modMain.h"
#include "monitor/ClipboardMonitor.h"
#include "scheduler/DownloadScheduler.h"
#include "settings/CRegister.h"
#include "settings/modSettings.h"
#include "support/QtPrint.h"
#include "support/ScriptedPrompter.h"
#include "support/http/ScriptServer.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QQuickItem>
#include <QQuickWidget>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

struct FixedNet : Connectivity {
    bool online = false;
    bool IsConnected() override { return online; }
};

const QByteArray kSlowVideo(40 * 2048, 'v');

// Serves a PutFile page whose video (kSlowVideo) comes in slowly, in many blocks; returns
// the page.
QString ServeSlowVideo(ScriptServer& server) {
    Reply slow = Reply::Ok(kSlowVideo);
    slow.piece = 4096;
    server.onPath("GET", "/putfile.com/v",
                  Reply::Ok("<a href=\"" + server.url("/v.flv").toLatin1() + "\">"));
    server.onPath("GET", "/v.flv", slow);
    return server.url("/putfile.com/v");
}

class Shell : public ::testing::Test {
protected:
    FixedNet offline;
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    int ended = 0;
    int endStatus = -1;     // the exit status the program last ended with
    QStringList partsAtEnd; // the partial files in the download folder when the program ended
    QList<QUrl> opened;
    bool opens = true;    // whether the desktop has an application for what is opened
    QStringList notified; // the tray icon's messages
    QString chosenFolder;
    QStringList browsedFrom; // the folder the chooser opened at, at each opening
    std::unique_ptr<frmMain> w;

    QString surfacePath = QStringLiteral(ORVELLO_SURFACE);

    int windows = 0;
    RegRoot store() const { return RegRoot{dir.filePath("store.ini")}; }
    void SetUp() override {
        frmMain::Options o;
        o.surfacePath = surfacePath;
        o.store = store();
        o.prompter = &prompter;
        // Each window its own list file: a window made again in a test starts empty.
        o.listFile = dir.filePath(QStringLiteral("list%1.json").arg(++windows));
        o.endProcess = [this](int status) {
            ++ended;
            endStatus = status;
            // A surface that does not load ends the program while the window is being made.
            if (w)
                partsAtEnd = QDir(w->programSettings().sDownloadDir).entryList({"*.part"});
        };
        o.openUrl = [this](const QUrl& url) {
            opened << url;
            return opens;
        };
        o.notify = [this](const QString& message) { notified << message; };
        o.browseForFolder = [this](QWidget*, const QString& title, const QString& startFolder) {
            EXPECT_EQ(title, "Please select the desired Download directory then press Ok.");
            browsedFrom << startFolder;
            return chosenFolder;
        };
        w = std::make_unique<frmMain>(o);
        w->programSettings().sDownloadDir = dir.filePath("videos");
        w->scheduler().startStop.setConnectivity(offline);
    }
    // A new window, as the program starts it; `fresh` with nothing stored yet.
    void Restart(bool fresh = false) {
        w.reset();
        if (fresh)
            QFile::remove(store().file);
        SetUp();
    }
    void Command(const QString& name) {
        QMetaObject::invokeMethod(w->Flash->rootObject(), "fsCommand", Q_ARG(QString, name),
                                  Q_ARG(QString, QStringLiteral("abc")));
    }
    QString Variable(const QString& name) { return w->surface().GetVariable(name); }
    // The addresses of the list's entries, in their order.
    QStringList Urls() const {
        QStringList urls;
        for (const DownloadItem& e : w->list().Entries())
            urls << e.Video_URL;
        return urls;
    }
    QString Stored(const QString& value) const {
        return CRegister().REGGetSetting(store(), modSettings::kSection, value, "<none>");
    }
    enum class Route { Command, WindowClose, TrayExit };
    // Closes the program one of its three ways. The tray's Exit starts its 200 ms timer and
    // waits it out here, so the timer fires at the next turn of the event loop.
    void CloseBy(Route route) {
        switch (route) {
        case Route::Command:
            Command("IDC_FS_Close");
            break;
        case Route::WindowClose:
            w->close(); // the window manager's close
            break;
        case Route::TrayExit:
            w->tray().mnuExit_Click();
            while (w->tray().tmrend.remainingTime() > 0)
                QThread::msleep(5);
            break;
        }
    }
    // Lets events run until `done` holds or five seconds pass.
    template <typename F> bool WaitFor(F done, std::chrono::milliseconds limit = 5s) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < limit.count()) {
            QEventLoop wait;
            QTimer::singleShot(10, &wait, &QEventLoop::quit);
            wait.exec();
        }
        return done();
    }
};

} // namespace

TEST_F(Shell, StartUpShowsTheAboutTextAndTheSettingsWithTheGridHiddenAndWatchingOn) {
    EXPECT_EQ(frmMain::AboutText(2, 3, 12).section("\r\n", 0, 0), "Version 2.3.0.12");
    const QString about = Variable("_root.aboutTxt");
    EXPECT_EQ(about, "Version 1.0.0.5\r\nOrvello is an easy to use program to download video "
                     "files from google,youtube,iFilm and other 9 video sharing sites to your PC.");
    EXPECT_EQ(Variable("_root.autoToDownloadList_CB"), "1");
    EXPECT_EQ(Variable("_root.Download_CB"), "1");
    EXPECT_EQ(Variable("_root.Convert_CB"), "1");
    EXPECT_EQ(Variable("_root.download_dir"), modSettings::DefaultDownloadDir());
    EXPECT_TRUE(w->monitor().Listening());
    EXPECT_EQ(Stored("URL Mon"), "<none>"); // loading writes nothing
    EXPECT_FALSE(w->DownloadGrid->isVisible());
    EXPECT_EQ(w->size(), QSize(630, 535));
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(w->windowTitle(), "Orvello");
    EXPECT_EQ(w->tray().SysTray.toolTip(), "Orvello");
    EXPECT_EQ(MessageBoxPrompter::DisplayText("An error\r5:x\r\ny"), "An error\n5:x\ny");
}

// The grid's place and colours come from the loaded surface (its gridArea and its theme's
// grid* colours); a surface without them leaves the usual ones.
TEST_F(Shell, TheGridTakesItsPlaceAndColoursFromTheSurface) {
    const QString threeMembers = QStringLiteral(R"(import QtQuick
Rectangle {
    signal fsCommand(string command, string args)
    function setVariable(name, value) {}
    function getVariable(name) { return "" }
)");
    GridColours changed;
    changed.cell = QColor(0x10, 0x20, 0x30);
    changed.lines = QColor(0x40, 0x50, 0x60);
    const struct {
        const char* surface;
        QString qml; // empty: the program's surface
        QRect place;
        GridColours colours;
    } cases[] = {
        {"the program's surface", {}, QRect(23, 177, 572, 179), GridColours{}},
        {"another place and two other colours", threeMembers + R"(
    readonly property Item gridArea: area
    readonly property QtObject theme: QtObject {
        readonly property color gridCell: "#102030"
        property string gridLines: "#405060"
        property string gridSelected: "no colour"
    }
    Item { x: 10; y: 20; Item { id: area; x: 30; y: 40; width: 300; height: 100 } }
})",
         QRect(40, 60, 300, 100), changed},
        {"a surface without them", threeMembers + "}", frmMain::kGridArea, GridColours{}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.surface);
        surfacePath = QStringLiteral(ORVELLO_SURFACE);
        if (!c.qml.isEmpty()) {
            surfacePath = dir.filePath("Surface.qml");
            QFile::remove(surfacePath);
            QFile file(surfacePath);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.qml.toUtf8());
        }
        Restart();
        EXPECT_EQ(ended, 0);
        EXPECT_EQ(w->DownloadGrid->geometry(), c.place);
        EXPECT_EQ(CurrentGridColours(), c.colours);
        EXPECT_EQ(GridColour::Cell, c.colours.cell);
        // The grid's style sheet is made after the colours are taken.
        EXPECT_TRUE(
            w->DownloadGrid->styleSheet().contains(QStringLiteral("gridline-color: rgb(%1,%2,%3)")
                                                       .arg(c.colours.lines.red())
                                                       .arg(c.colours.lines.green())
                                                       .arg(c.colours.lines.blue())))
            << w->DownloadGrid->styleSheet().toStdString();
    }
    surfacePath = QStringLiteral(ORVELLO_SURFACE);
    Restart();
}

// A surface that does not load would leave a blank window that can't be used or closed: the
// program says what went wrong in a message box, with the file and the module it names, and
// ends with a failure's exit status. The program's own surface loads without a word.
TEST_F(Shell, ASurfaceThatDoesNotLoadIsToldAndEndsTheProgram) {
    const struct {
        const char* surface;
        QMap<QString, QString> files; // written to a folder of their own; none: the program's
        QStringList told;             // what the message names; none: no message at all
    } cases[] = {
        {"the program's surface", {}, {}},
        {"it imports a module that is not installed",
         {{"Main.qml", "import QtQuick\nimport Orvello.Nowhere\nRectangle {}\n"}},
         {"Main.qml:2:1: module \"Orvello.Nowhere\" is not installed"}},
        {"a component of it imports one",
         {{"Main.qml", "import QtQuick\nRectangle {\n    Band {}\n}\n"},
          {"Band.qml", "import QtQuick\nimport QtQuick.Nowhere\nItem {}\n"}},
         {"Band.qml:2:1: module \"QtQuick.Nowhere\" is not installed"}},
        {"its file is not there", {{"Other.qml", "import QtQuick\nItem {}\n"}}, {"Main.qml"}},
        {"it is no item", {{"Main.qml", "import QtQml\nQtObject {}\n"}}, {"Main.qml"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.surface);
        QTemporaryDir folder;
        ASSERT_TRUE(folder.isValid());
        surfacePath = QStringLiteral(ORVELLO_SURFACE);
        if (!c.files.isEmpty()) {
            surfacePath = folder.filePath("Main.qml");
            for (auto f = c.files.begin(); f != c.files.end(); ++f) {
                QFile file(folder.filePath(f.key()));
                ASSERT_TRUE(file.open(QIODevice::WriteOnly));
                file.write(f.value().toUtf8());
            }
        }
        prompter.shown.clear();
        ended = 0;
        endStatus = -1;
        Restart();
        if (c.told.isEmpty()) {
            EXPECT_TRUE(prompter.shown.empty());
            EXPECT_EQ(ended, 0);
            continue;
        }
        ASSERT_EQ(prompter.shown.size(), 1u);
        const MsgRequest& told = prompter.shown[0];
        EXPECT_EQ(told.icon, MsgIcon::Critical);
        EXPECT_EQ(told.buttons, MsgButtons::Ok);
        EXPECT_EQ(told.title, "Orvello");
        EXPECT_TRUE(told.text.startsWith("Orvello can't show its window"))
            << told.text.toStdString();
        for (const QString& part : c.told)
            EXPECT_TRUE(told.text.contains(folder.filePath(part))) << told.text.toStdString();
        EXPECT_EQ(ended, 1);
        EXPECT_EQ(endStatus, frmMain::kSurfaceFailed);
        EXPECT_NE(endStatus, 0);
    }
    surfacePath = QStringLiteral(ORVELLO_SURFACE);
    Restart();
}

// Each of the twenty commands on a new window, and names that are not exactly a command.
TEST_F(Shell, EveryCommandReachesItsOperationAndOnlyTheExactNameDoes) {
    const QString youtube = QStringLiteral(" http://www.youtube.com/watch?v=1 ");
    auto threeEntriesCellSelected = [&](int row) {
        for (int i = 1; i <= 3; ++i)
            w->list().AddUrlToList(QStringLiteral("http://x.youtube.com/watch?v=%1").arg(i));
        QItemSelectionModel* selection = w->DownloadGrid->selectionModel();
        selection->select(w->DownloadGrid->model()->index(row, DownloadTableModel::ColID),
                          QItemSelectionModel::Select);
    };
    auto entries = [](std::initializer_list<int> ids) {
        QStringList urls;
        for (int id : ids)
            urls << QStringLiteral("http://x.youtube.com/watch?v=%1").arg(id);
        return urls;
    };
    const struct {
        const char* command;
        const char* state; // what the row starts from
        std::function<void()> before;
        std::function<void()> check;
    } cases[] = {
        {"idc_fs_close", "", nullptr, [&] { EXPECT_EQ(ended, 0); }},
        {"IDC_FS_CLOSE", "", nullptr, [&] { EXPECT_EQ(ended, 0); }},
        {"IDC_FS_Close ", "", nullptr, [&] { EXPECT_EQ(ended, 0); }},
        {"nothing", "", nullptr, [&] { EXPECT_EQ(ended, 0); }},
        {"IDC_FS_Download", "", nullptr,
         [&] {
             EXPECT_TRUE(w->DownloadGrid->isVisible());
             EXPECT_EQ(w->ui().sCurrentTab, "Download");
         }},
        {"IDC_FS_Slider", "grid shown", [&] { Command("IDC_FS_Download"); },
         [&] {
             EXPECT_FALSE(w->DownloadGrid->isVisible());
             EXPECT_EQ(w->ui().sCurrentTab, "Download");
         }},
        {"IDC_FS_About", "grid shown", [&] { Command("IDC_FS_Download"); },
         [&] {
             EXPECT_FALSE(w->DownloadGrid->isVisible());
             EXPECT_EQ(w->ui().sCurrentTab, "About");
         }},
        {"IDC_FS_Help", "", nullptr,
         [&] {
             ASSERT_EQ(opened.size(), 1);
             EXPECT_TRUE(opened[0].isLocalFile() && opened[0].path().endsWith("/Help.html"));
         }},
        {"ID_FS_webSite", "", nullptr, [&] { EXPECT_EQ(opened, QList{QUrl(frmMain::kHomePage)}); }},
        // The address keeps its blanks; an all-blank one adds nothing.
        {"IDC_FS_addDownloadURL", "blanks typed",
         [&] { w->ui().SetUiVariable("_root.video_url", "   "); },
         [&] { EXPECT_TRUE(w->list().IsDownloadListEmpty()); }},
        {"IDC_FS_addDownloadURL", "an address typed",
         [&] { w->ui().SetUiVariable("_root.video_url", youtube); },
         [&] {
             EXPECT_EQ(Urls(), QStringList{youtube});
             EXPECT_EQ(Variable("_root.video_url"), youtube);
         }},
        // A paste of several lines into the field: each line, as it stands, is an address.
        {"IDC_FS_addDownloadURL", "several lines pasted",
         [&] {
             w->activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
             w->Flash->rootObject()->findChild<QQuickItem*>("urlInput")->forceActiveFocus();
             QGuiApplication::clipboard()->setText(youtube + "\r\n\r\n \t\nhttp://example.com/x\n" +
                                                   youtube.trimmed() + "&2");
             QTest::keyClick(w->windowHandle(), Qt::Key_V, Qt::ControlModifier);
         },
         [&] {
             EXPECT_EQ(Urls(),
                       QStringList({youtube, "http://example.com/x", youtube.trimmed() + "&2"}));
         }},
        // Start waits for the timer's tick; stop runs at once (both meet the offline refusal).
        {"IDC_FS_startDownload", "an entry", [&] { w->list().AddUrlToList(youtube); },
         [&] {
             EXPECT_TRUE(w->scheduler().startStop.tmrDownload.isActive());
             EXPECT_TRUE(prompter.shown.empty());
             EXPECT_TRUE(WaitFor([&] { return !prompter.shown.empty(); }));
             EXPECT_FALSE(w->scheduler().startStop.tmrDownload.isActive());
             EXPECT_EQ(prompter.shown.size(), 1u);
         }},
        {"IDC_FS_stopDownload", "an entry", [&] { w->list().AddUrlToList(youtube); },
         [&] { EXPECT_EQ(prompter.shown.size(), 1u); }},
        {"IDC_FS_selectAllD", "three entries", [&] { threeEntriesCellSelected(1); },
         [&] { EXPECT_EQ(w->DownloadGrid->selectionModel()->selectedRows().size(), 3); }},
        {"IDC_FS_removeSelectedD", "the second entry's cell selected",
         [&] { threeEntriesCellSelected(1); },
         [&] {
             EXPECT_EQ(Urls(), entries({1, 3}));
         }},
        {"IDC_FS_moveUp", "the second entry's cell selected", [&] { threeEntriesCellSelected(1); },
         [&] {
             EXPECT_EQ(Urls(), entries({2, 1, 3}));
         }},
        {"IDC_FS_moveDown", "the second entry's cell selected",
         [&] { threeEntriesCellSelected(1); },
         [&] {
             EXPECT_EQ(Urls(), entries({1, 3, 2}));
         }},
        // The moved entry stays selected: the next press moves it on.
        {"IDC_FS_moveUp", "the third entry's cell selected, moved up once",
         [&] {
             threeEntriesCellSelected(2);
             Command("IDC_FS_moveUp");
         },
         [&] {
             EXPECT_EQ(Urls(), entries({3, 1, 2}));
         }},
        {"IDC_FS_moveDown", "the first entry's cell selected, moved down once",
         [&] {
             threeEntriesCellSelected(0);
             Command("IDC_FS_moveDown");
         },
         [&] {
             EXPECT_EQ(Urls(), entries({2, 3, 1}));
         }},
        {"ID_FS_clearComplete", "the second entry complete",
         [&] {
             threeEntriesCellSelected(0);
             w->list().SetState(w->list().Entries()[1].Key, EntryState::Complete);
             ASSERT_TRUE(w->list().FillDownloadList());
         },
         [&] {
             EXPECT_EQ(Urls(), entries({1, 3}));
         }},
        // The folder chooser: a choice is shown and saved; a cancel saves the old values.
        {"ID_FS_downloadBrowse", "a folder chosen", [&] { chosenFolder = dir.filePath("chosen"); },
         [&] {
             EXPECT_EQ(w->programSettings().sDownloadDir, chosenFolder);
             EXPECT_EQ(Variable("_root.download_dir"), chosenFolder);
             EXPECT_EQ(Stored("Download Dir"), chosenFolder);
         }},
        {"ID_FS_downloadBrowse", "the chooser cancelled", [&] { chosenFolder.clear(); },
         [&] {
             EXPECT_EQ(w->programSettings().sDownloadDir, dir.filePath("videos"));
             EXPECT_EQ(Stored("Download Dir"), dir.filePath("videos"));
         }},
        {"ID_FS_autoDownloadUncheck", "", nullptr,
         [&] {
             EXPECT_FALSE(w->monitor().Listening());
             EXPECT_EQ(Stored("URL Mon"), "False");
         }},
        {"ID_FS_autoDownloadCheck", "watching off", [&] { Command("ID_FS_autoDownloadUncheck"); },
         [&] {
             EXPECT_TRUE(w->monitor().Listening());
             EXPECT_EQ(Stored("URL Mon"), "True");
         }},
        {"IDC_FS_Minimize", "", nullptr, [&] { EXPECT_TRUE(w->isMinimized()); }},
        // No system tray here: minimised, never hidden for good.
        {"IDC_FS_Tray", "", nullptr, [&] { EXPECT_TRUE(w->isVisible()); }},
        // Handed to the window system; nothing to see offscreen.
        {"IDC_FS_Drag", "", nullptr, [&] { EXPECT_EQ(ended, 0); }},
        {"IDC_FS_Close", "", nullptr, [&] { EXPECT_EQ(ended, 1); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("\"") + c.command + "\" " + c.state);
        Restart(true);
        chosenFolder = dir.filePath("chosen");
        opened.clear();
        prompter.shown.clear();
        ended = 0;
        w->show();
        if (c.before)
            c.before();
        Command(c.command);
        c.check();
    }
}

// A run's end is summed up from the tray icon while the window is out of sight.
TEST_F(Shell, TheEndOfARunIsSummedUpFromTheTrayWhileTheWindowIsOutOfSight) {
    enum Window { Shown, Minimised, Hidden };
    const struct {
        int complete, failed;
        Window window;
        QStringList messages;
    } cases[] = {
        {3, 1, Hidden, {"3 videos downloaded, 1 failed"}},
        {1, 0, Minimised, {"1 video downloaded"}},
        {0, 2, Hidden, {"no video downloaded, 2 failed"}},
        {0, 0, Minimised, {"no video downloaded"}},
        {3, 1, Shown, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.complete << " " << c.failed << " " << c.window);
        Restart();
        notified.clear();
        w->show();
        c.window == Minimised ? w->showMinimized() : w->setVisible(c.window == Shown);
        emit w->scheduler().startStop.RunEnded(c.complete, c.failed);
        EXPECT_EQ(notified, c.messages);
    }
}

// Dragged data that counts how often it is read.
struct CountingMimeData : QMimeData {
    mutable int reads = 0;
    QVariant retrieveData(const QString& format, QMetaType type) const override {
        return ++reads, QMimeData::retrieveData(format, type);
    }
};

// Text or links dropped on the surface or the grid: each address of a supported site is
// added, as the Add command adds it; a drop that brings none is refused. The text is split at
// blanks and line ends, the data read once however long it is dragged about, and a drop that
// brings more than the list has room for says how many were left out.
TEST_F(Shell, DroppedAddressesOfSupportedSitesAreAdded) {
    const QString a = "http://www.youtube.com/watch?v=a", b = "http://www.dailymotion.com/v/b";
    const QString file = "file:///home/me/youtube.com.flv";
    const QString c5 = "http://www.angryalien.com/0604/x.asp", c9 = "http://www.break.com/i/4721";
    QString large; // 7.8 million characters of words and lines, with two addresses in it
    for (int i = 0; i < 1'300'000; ++i)
        large += i == 1000 ? a + " " : i == 500'000 ? "\n" + b + "\n" : QStringLiteral("words ");
    const struct {
        bool onGrid;
        QString text;
        QStringList links, added; // added empty: refused
        int moves;                // pointer moves between the drag's entry and its drop
        int room;                 // the places left in the list; -1: an empty list
        QString said;             // the message after the drop
    } cases[] = {
        {false, a + "\nhttp://example.com/page\n" + b, {}, {a, b}, 0, -1, ""},
        {true, "\r\n  " + a + "\t\r\n\r\n" + b + " \r" + a, {}, {a, b}, 0, -1, ""},
        {false, "Some video", {a, file, "http://example.com/x", b}, {a, b}, 0, -1, ""},
        {true, a, {file}, {}, 0, -1, ""},
        {false, "http://example.com/page", {}, {}, 0, -1, ""},
        // Words around the addresses, on their lines.
        {false, "Some text " + c5 + " and\n" + c9 + " end", {}, {c5, c9}, 0, -1, ""},
        // A large text dragged about.
        {false, large, {}, {a, b}, 100, -1, ""},
        // More than the list holds: what fits is added; a repeat takes no place.
        {true,
         a + " " + a + " " + b + "\n" + c5 + " " + c9,
         {},
         {a, b},
         1,
         2,
         "The list is full: 2 addresses were left out."},
        {false, a, {}, {}, 0, 0, "The list is full: 1 address was left out."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.left(80).toStdString());
        Restart(true);
        prompter.shown.clear();
        std::vector<DownloadItem> filling(c.room < 0 ? 0 : modMain::kCapacity - c.room);
        for (std::size_t i = 0; i < filling.size(); ++i)
            filling[i].Video_URL = QStringLiteral("http://www.youtube.com/watch?v=f%1").arg(i);
        w->list().RestoreEntries(std::move(filling));
        const int before = int(w->list().Entries().size());
        CountingMimeData data;
        data.setText(c.text);
        if (!c.links.isEmpty())
            data.setUrls(QUrl::fromStringList(c.links));
        QWidget* target = c.onGrid ? w->DownloadGrid->viewport() : w->Flash;
        QDragEnterEvent enter({9, 9}, Qt::CopyAction | Qt::MoveAction, &data, {}, {});
        QApplication::sendEvent(target, &enter);
        const int readsAtEntry = data.reads;
        const bool taken = !c.added.isEmpty() || !c.said.isEmpty();
        for (int i = 0; i < c.moves; ++i) {
            QDragMoveEvent move({10 + i % 50, 9}, Qt::CopyAction | Qt::MoveAction, &data, {}, {});
            QApplication::sendEvent(target, &move);
            EXPECT_EQ(move.isAccepted(), taken);
        }
        QDropEvent drop({9, 9}, Qt::CopyAction | Qt::MoveAction, &data, {}, {});
        QApplication::sendEvent(target, &drop);
        EXPECT_EQ(data.reads, readsAtEntry);
        EXPECT_EQ(enter.isAccepted(), taken);
        EXPECT_EQ(drop.isAccepted() && drop.dropAction() == Qt::CopyAction, taken);
        EXPECT_EQ(Urls().mid(before), c.added);
        QCoreApplication::processEvents(); // the message comes once the drop has returned
        EXPECT_EQ(prompter.shown.size(), c.said.isEmpty() ? 0u : 1u);
        EXPECT_EQ(prompter.shown.empty() ? QString() : prompter.shown[0].text, c.said);
    }
}

// The grid's row menu on four entries: 0 finished, 1 failed (its address replaced by a
// message), 2 waiting, 3 finished with its file gone. Its items act on the entries with a
// selected cell and are disabled, as a screen reader reads them, where they apply to none.
TEST_F(Shell, TheRowMenuActsOnTheSelectedEntries) {
    const QString videos = dir.filePath("videos"), file = videos + "/0.flv";
    const QString gone = videos + "/3.flv", page = "http://www.youtube.com/watch?v=";
    const QString noApp = file + " | No application is set up to open " + file + ".";
    const QString goneSaid = "The file " + gone + " is no longer there.";
    const QString twoPages = page + "0\n" + page + "1";
    enum Open { Click, ClickRowSelector, MenuKey, ShiftF10, Delete };
    const struct {
        std::vector<int> selected;
        Open open;
        int at;              // the row clicked
        const char* enabled; // O(pen file), F(older), C(opy), T(ry again), R(emove); "": no menu
        QAction* RowMenu::*item;
        const char* left; // the entries left, "w" after a waiting one
        QString seen;     // what was opened, said and copied
    } cases[] = {
        {{0}, Click, 0, "OFCR", &RowMenu::openFile, "012w3", file},
        {{0}, MenuKey, 0, "OFCR", &RowMenu::openFile, "012w3", noApp}, // nothing opens it
        {{3}, Click, 3, "OFCR", &RowMenu::openFile, "012w3", goneSaid},
        {{0, 3}, Click, 0, "OFCR", &RowMenu::openFolder, "012w3", videos + " | " + goneSaid},
        {{2}, ShiftF10, 2, "CR", nullptr, "012w3", ""},
        {{1, 0}, Click, 1, "OFCTR", &RowMenu::copyAddress, "012w3", twoPages},
        {{2}, Click, 2, "CR", &RowMenu::copyAddress, "012w3", page + "2"},
        {{1}, Click, 1, "CTR", &RowMenu::tryAgain, "01w2w3", ""},
        {{1, 2}, ShiftF10, 0, "CTR", &RowMenu::remove, "03", ""},
        {{0}, Click, 2, "CR", &RowMenu::remove, "013", ""},            // beside the selection
        {{0}, ClickRowSelector, 2, "CR", &RowMenu::remove, "013", ""}, // its row
        {{0, 3}, Click, 3, "OFCR", &RowMenu::remove, "12w", ""},       // within the selection
        {{1, 3}, Delete, 0, "", nullptr, "02w", ""},
    };
    int row = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(row++);
        Restart(true);
        opened.clear();
        prompter.shown.clear();
        opens = c.seen != noApp;
        QGuiApplication::clipboard()->clear();
        ASSERT_TRUE(QDir().mkpath(videos));
        QFile(file).open(QIODevice::WriteOnly);
        for (int i = 0; i < 4; ++i)
            w->list().AddUrlToList(page + QString::number(i));
        const auto& e = w->list().Entries();
        for (int i : {0, 3}) { // as a run finishes them
            w->list().SetFileName(e[i].Key, QFileInfo(i == 0 ? file : gone).fileName());
            w->list().SetSavedPath(e[i].Key, i == 0 ? file : gone);
            w->list().SetState(e[i].Key, EntryState::Complete);
        }
        w->list().SetState(e[1].Key, EntryState::Error);
        w->list().SetVideoUrl(e[1].Key, "Process failed.");
        ASSERT_TRUE(w->list().FillDownloadList());
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        Command("IDC_FS_Download");
        DownloadGrid* grid = w->DownloadGrid;
        grid->setFocus();
        for (int selected : c.selected)
            grid->selectionModel()->setCurrentIndex(grid->model()->index(selected, 2),
                                                    QItemSelectionModel::Select);
        QPoint at = grid->visualRect(grid->model()->index(c.at, 2)).center();
        at = grid->viewport()->mapTo(w.get(), c.open == Click ? at : QPoint(-4, at.y()));
        const Qt::Key key = c.open == MenuKey  ? Qt::Key_Menu
                            : c.open == Delete ? Qt::Key_Delete
                                               : Qt::Key_F10;
        if (c.open == Click || c.open == ClickRowSelector)
            QTest::mouseClick(w->windowHandle(), Qt::RightButton, {}, at);
        else
            QTest::keyClick(w->windowHandle(), key,
                            key == Qt::Key_F10 ? Qt::ShiftModifier : Qt::NoModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_EQ(menu, *c.enabled ? w->rowMenu().menu() : nullptr);
        if (menu) {
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(menu);
            QString enabled;
            for (int i = 0; i < reader->childCount(); ++i) {
                const QString name = reader->child(i)->text(QAccessible::Name);
                if (reader->child(i)->role() == QAccessible::MenuItem &&
                    !reader->child(i)->state().disabled)
                    enabled += name.contains("folder") ? 'F' : name[0];
            }
            EXPECT_EQ(enabled, c.enabled);
            if (c.item)
                (w->rowMenu().*(c.item))->trigger();
            menu->hide();
        }
        QString left;
        for (const DownloadItem& entry : w->list().Entries())
            left += entry.PageAddress.right(1) + (entry.State == EntryState::Waiting ? "w" : "");
        EXPECT_EQ(left, c.left);
        QStringList seen;
        for (const QUrl& url : opened)
            seen << url.toLocalFile();
        for (const MsgRequest& box : prompter.shown)
            seen << box.text;
        seen << QGuiApplication::clipboard()->text();
        seen.removeAll("");
        EXPECT_EQ(seen.join(" | "), c.seen);
        // The program's own copy is not picked up by the clipboard watch.
        EXPECT_FALSE(w->scheduler().startStop.tmrDownload.isActive());
    }
}

// The tray icon's actions reach the window's operations.
TEST_F(Shell, TheTrayMenuReachesTheWindowsOperations) {
    const auto Minimise = [&] {
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        Command("IDC_FS_Minimize");
        ASSERT_TRUE(w->isMinimized());
    };
    const auto ExpectRestored = [&] {
        EXPECT_TRUE(w->isVisible());
        EXPECT_FALSE(w->isMinimized());
        EXPECT_TRUE(QTest::qWaitForWindowActive(w.get()));
    };
    const struct {
        const char* action;
        std::function<void(frmMenu&)> act;
        std::function<void(frmMenu&)> check;
    } cases[] = {
        // The mark is refreshed at every opening, so a switch made on the surface shows.
        {"opened after watching was switched off",
         [&](frmMenu& m) {
             Command("ID_FS_autoDownloadUncheck");
             emit m.TRAYMENU.aboutToShow();
         },
         [&](frmMenu& m) { EXPECT_FALSE(m.mnuMonitor->isChecked()); }},
        // Toggled from the tray: the surface follows, the store does not.
        {"watching switched off",
         [&](frmMenu& m) {
             emit m.TRAYMENU.aboutToShow();
             m.mnuMonitor->trigger();
         },
         [&](frmMenu&) {
             EXPECT_FALSE(w->monitor().Listening());
             EXPECT_EQ(Variable("_root.autoToDownloadList_CB"), "0");
             EXPECT_EQ(Stored("URL Mon"), "<none>");
         }},
        // The download item follows the start/stop caption and sends the matching command.
        {"caption changed",
         [&](frmMenu&) { emit w->scheduler().startStop.StopOfferedChanged(true); },
         [&](frmMenu& m) { EXPECT_EQ(m.mnuDownload->text(), "Stop Downloading"); }},
        // The download submenus: the run takes the choice at once, and it is saved (the
        // watch switch is not), so the next start has it.
        {"3 at a time chosen", [&](frmMenu& m) { m.mnuSimultaneous->actions()[2]->trigger(); },
         [&](frmMenu&) {
             EXPECT_EQ(w->scheduler().runner.Simultaneous(), 3);
             EXPECT_EQ(Stored("Simultaneous Downloads"), "3");
             EXPECT_EQ(Stored("Speed Limit"), "0");
             EXPECT_EQ(Stored("URL Mon"), "<none>");
             Restart();
             EXPECT_EQ(w->programSettings().iSimultaneous, 3);
         }},
        {"1 MB/s chosen",
         [&](frmMenu& m) {
             emit m.TRAYMENU.aboutToShow();
             m.mnuSpeedLimit->actions()[4]->trigger();
         },
         [&](frmMenu&) {
             EXPECT_EQ(w->scheduler().runner.SpeedLimit(), 1048576);
             EXPECT_EQ(Stored("Speed Limit"), "1048576");
             EXPECT_EQ(Stored("Simultaneous Downloads"), "1");
             Restart();
             EXPECT_EQ(w->programSettings().lSpeedLimit, 1048576);
         }},
        {"Start Downloading chosen", [&](frmMenu& m) { m.mnuDownload->trigger(); },
         [&](frmMenu&) { EXPECT_TRUE(w->scheduler().startStop.tmrDownload.isActive()); }},
        // A window minimised from its title band comes back restored, raised and active.
        {"minimised, the icon clicked",
         [&](frmMenu&) {
             Minimise();
             w->tray().SysTray_Activated(QSystemTrayIcon::Trigger);
         },
         [&](frmMenu&) { ExpectRestored(); }},
        {"minimised, Orvello chosen",
         [&](frmMenu& m) {
             Minimise();
             m.mnuOrvello->trigger();
         },
         [&](frmMenu&) { ExpectRestored(); }},
        {"minimised, addresses handed in from another start",
         [&](frmMenu&) {
             Minimise();
             w->BringToFront();
         },
         [&](frmMenu&) { ExpectRestored(); }},
        {"Exit chosen",
         [&](frmMenu& m) {
             m.mnuExit->trigger();
             EXPECT_EQ(ended, 0); // not while the menu is still open
             EXPECT_TRUE(WaitFor([&] { return ended == 1; }));
         },
         [&](frmMenu&) {
             EXPECT_EQ(w->tray().menu, nullptr);
             EXPECT_FALSE(w->monitor().Listening());
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.action);
        Restart(true);
        ASSERT_NE(w->tray().menu, nullptr);
        frmMenu& m = *w->tray().menu;
        c.act(m);
        c.check(m);
        w->scheduler().startStop.tmrDownload.stop();
    }
}

TEST_F(Shell, TheWheelOverTheSurfaceScrollsTheGridOneRowWhenTheGridIsActive) {
    for (int i = 0; i < 40; ++i)
        w->list().AddUrlToList(QStringLiteral("http://www.youtube.com/watch?v=%1").arg(i));
    w->show();
    Command("IDC_FS_Download");
    QScrollBar* bar = w->DownloadGrid->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3);
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(100, 100), w->Flash->mapToGlobal(QPointF(100, 100)), QPoint(),
                      QPoint(0, delta), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(w.get(), &e);
    };
    w->Flash->setFocus();
    wheel(120);
    EXPECT_EQ(bar->value(), 0); // the grid is not the active control
    w->DownloadGrid->setFocus();
    const struct {
        int delta, value;
    } steps[] = {{120, 1}, {240, 2}, {120, 3}, {-120, 2}, {-360, 1}};
    for (const auto& s : steps) {
        wheel(s.delta);
        EXPECT_EQ(bar->value(), s.value) << s.delta;
    }
}

TEST_F(Shell, ClosingDuringARunAsksOnceAndEndsOnlyWhenTheStopIsConfirmed) {
    enum class Close { AnsweredNo, AnsweredYes, AfterAConfirmedStop };
    const std::pair<Route, const char*> routes[] = {{Route::Command, "IDC_FS_Close"},
                                                    {Route::WindowClose, "close()"},
                                                    {Route::TrayExit, "Exit"}};
    const std::pair<Close, const char*> closes[] = {{Close::AnsweredNo, "No"},
                                                    {Close::AnsweredYes, "Yes"},
                                                    {Close::AfterAConfirmedStop, "stopped"}};
    int row = 0;
    for (const auto& r : routes) {
        for (const auto& c : closes) {
            const Route route = r.first; // plain names: the handlers below capture them
            const Close how = c.first;
            SCOPED_TRACE(std::string(r.second) + ", " + c.second);
            const QString folder = dir.filePath(QStringLiteral("videos%1").arg(++row));
            w->programSettings().sDownloadDir = folder;
            w->show();
            ScriptServer server;
            offline.online = true;
            w->list().AddUrlToList(ServeSlowVideo(server));
            prompter.answers = {how == Close::AnsweredNo ? MsgAnswer::No : MsgAnswer::Yes};
            // A second close while the question is open is left to the first one.
            int asked = 0;
            if (how != Close::AfterAConfirmedStop) {
                prompter.onShow = [&](const MsgRequest&) {
                    if (++asked > 1)
                        return;
                    CloseBy(route);
                    EXPECT_TRUE(WaitFor([&] { return !w->tray().tmrend.isActive(); }));
                    EXPECT_EQ(ended, 0);
                };
            }
            bool closed = false;
            const int observer = w->list().AddObserver([&](const ListChange&) {
                if (closed || w->list().Entries()[0].State != EntryState::Transferring)
                    return;
                closed = true;
                // Closed as the video comes in, from the event loop, as a user closes.
                QTimer::singleShot(0, [&] {
                    EXPECT_EQ(QDir(folder).entryList({"*.part"}).size(), 1);
                    if (how == Close::AfterAConfirmedStop) {
                        Command("IDC_FS_stopDownload");
                        ASSERT_TRUE(w->runState().bStopRequested());
                    }
                    CloseBy(route);
                });
            });
            w->scheduler().startStop.cmdStartDownload_Click();
            EXPECT_TRUE(WaitFor([&] { return closed && !w->runState().bDownloading(); }, 30s));
            w->list().RemoveObserver(observer);

            EXPECT_TRUE(closed);
            ASSERT_EQ(prompter.shown.size(), 1u);
            EXPECT_EQ(prompter.shown[0].text, "Are you sure that you want to cancel downloading?");
            EXPECT_EQ(prompter.shown[0].buttons, MsgButtons::YesNo);
            EXPECT_EQ(prompter.shown[0].icon, MsgIcon::Question);
            EXPECT_EQ(prompter.shown[0].title, "Orvello");
            const QStringList files = QDir(folder).entryList(QDir::Files);
            if (how == Close::AnsweredNo) {
                EXPECT_EQ(ended, 0);
                EXPECT_TRUE(w->isVisible());
                EXPECT_TRUE(w->monitor().Listening());
                EXPECT_NE(w->tray().menu, nullptr);
                EXPECT_EQ(w->list().Entries()[0].Status, "Complete");
                ASSERT_EQ(files.size(), 1);
                QFile video(QDir(folder).filePath(files[0]));
                ASSERT_TRUE(video.open(QIODevice::ReadOnly));
                EXPECT_EQ(video.readAll(), kSlowVideo);
            } else {
                EXPECT_EQ(ended, 1);
                EXPECT_FALSE(w->monitor().Listening());
                EXPECT_EQ(w->tray().menu, nullptr);
                EXPECT_EQ(w->list().Entries()[0].Status, "Cancelled");
                // The running transfer's partial file goes with the program, before it ends;
                // nothing left holds the whole video.
                EXPECT_EQ(partsAtEnd, QStringList());
                for (const QString& name : files) {
                    EXPECT_FALSE(name.endsWith(".part")) << name.toStdString();
                    EXPECT_LT(QFileInfo(QDir(folder).filePath(name)).size(), kSlowVideo.size())
                        << name.toStdString();
                }
            }
            ended = 0;
            prompter.shown.clear();
            prompter.onShow = nullptr;
            w.reset();
            SetUp();
        }
    }
}

// A press through the accessibility interface returns before what it starts: the stop's
// question, the folder chooser and the end of the program come once the events run.
TEST_F(Shell, PressesThroughAccessibilityReturnBeforeTheirCommandRuns) {
    const std::pair<const char*, std::function<bool()>> cases[] = {
        {"Stop", [&] { return prompter.shown.size() == 1; }}, // offline: refused in a box
        {"Browse", [&] { return browsedFrom.size() == 1; }},
        {"Close", [&] { return ended == 1; }},
    };
    for (const auto& [control, happened] : cases) {
        SCOPED_TRACE(control);
        Restart(true);
        prompter.shown.clear();
        browsedFrom.clear();
        ended = 0;
        w->list().AddUrlToList("http://www.youtube.com/watch?v=1");
        // Stop is offered during a run, Browse outside one.
        w->ui().SetUiVariable("_root.downloadBtn", QString(control) == "Stop" ? "0" : "1");
        std::vector<QAccessibleInterface*> all{QAccessible::queryAccessibleInterface(w->Flash)};
        for (std::size_t i = 0; i < all.size(); ++i) {
            for (int k = 0; k < all[i]->childCount(); ++k)
                all.push_back(all[i]->child(k));
        }
        const auto button = std::find_if(all.begin(), all.end(), [&](auto* i) {
            return i->role() == QAccessible::Button && i->text(QAccessible::Name) == control;
        });
        ASSERT_NE(button, all.end());
        (*button)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        EXPECT_FALSE(happened());
        EXPECT_TRUE(WaitFor(happened));
    }
}

TEST_F(Shell, AChosenFolderThatIsNotAbsoluteReadsAsTheDefault) {
    const QString fallback = modSettings::DefaultDownloadDir();
    const struct {
        QString chosen, taken;
    } cases[] = {{dir.filePath("chosen"), dir.filePath("chosen")},
                 {"videos", fallback},
                 {"../videos", fallback},
                 {"  ", fallback}};
    for (const auto& c : cases) {
        SCOPED_TRACE("chosen \"" + c.chosen.toStdString() + "\"");
        w->programSettings().sDownloadDir = "/before";
        chosenFolder = c.chosen;
        browsedFrom.clear();
        Command("ID_FS_downloadBrowse");
        EXPECT_EQ(browsedFrom, QStringList{"/before"}); // the chooser opens at the folder in force
        EXPECT_EQ(w->programSettings().sDownloadDir, c.taken);
        EXPECT_EQ(w->surface().GetVariable("_root.download_dir"), c.taken);
        EXPECT_EQ(Stored("Download Dir"), c.taken);
    }
}

TEST_F(Shell, TheSurfaceNeverOpensAContextMenuOfItsOwnWhileHooked) {
    // Records what reaches the surface behind the hook (filters run last-installed first).
    struct Spy : QObject {
        QStringList seen;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::MouseButtonPress || e->type() == QEvent::MouseButtonRelease)
                seen << QStringLiteral("mouse%1").arg(int(static_cast<QMouseEvent*>(e)->button()));
            else if (e->type() == QEvent::KeyPress)
                seen << QStringLiteral("key%1").arg(static_cast<QKeyEvent*>(e)->key(), 0, 16);
            else if (e->type() == QEvent::ContextMenu)
                seen << QStringLiteral("menu");
            return false;
        }
    } spy;
    auto send = [&] {
        const QPointF at(50, 300);
        QMouseEvent rightDown(QEvent::MouseButtonPress, at, w->Flash->mapToGlobal(at),
                              Qt::RightButton, Qt::RightButton, Qt::NoModifier);
        QMouseEvent rightUp(QEvent::MouseButtonRelease, at, w->Flash->mapToGlobal(at),
                            Qt::RightButton, Qt::NoButton, Qt::NoModifier);
        QKeyEvent menuKey(QEvent::KeyPress, Qt::Key_Menu, Qt::NoModifier);
        QKeyEvent letter(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, "a");
        QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(50, 300),
                               w->Flash->mapToGlobal(QPoint(50, 300)));
        for (QEvent* e :
             std::initializer_list<QEvent*>{&rightDown, &rightUp, &menuKey, &letter, &menu})
            QApplication::sendEvent(w->Flash, e);
    };
    w->StopHook();
    w->Flash->installEventFilter(&spy);
    w->StartHook();
    send();
    EXPECT_EQ(spy.seen, QStringList({"mouse2", "key41"})); // the release and other keys pass
    spy.seen.clear();
    w->StopHook();
    send();
    EXPECT_EQ(spy.seen.size(), 5);
}

TEST(ShellExit, EndMeFromInsideARunningTransferEndsTheProcessAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // Everything the window made is gone before the process ends, as after main returns.
    const auto run = [] {
        QTemporaryDir dir;
        ScriptServer server;
        ScriptedPrompter prompter;
        prompter.defaultAnswer = MsgAnswer::Yes;
        FixedNet online;
        online.online = true;
        frmMain::Options o;
        o.surfacePath = QStringLiteral(ORVELLO_SURFACE);
        o.store = RegRoot{dir.filePath("store.ini")};
        o.listFile = dir.filePath("list.json");
        o.prompter = &prompter; // the real way to end the process is kept
        frmMain w(o);
        w.scheduler().startStop.setConnectivity(online);
        w.programSettings().sDownloadDir = dir.filePath("videos");
        w.list().AddUrlToList(ServeSlowVideo(server));
        bool closed = false;
        w.list().AddObserver([&](const ListChange&) {
            if (closed || w.list().Entries()[0].State != EntryState::Transferring)
                return;
            closed = true;
            QTimer::singleShot(0, [&] { w.Flash_FSCommand("IDC_FS_Close", {}); });
        });
        w.scheduler().startStop.cmdStartDownload_Click();
        // The program's loop ends with EndMe's status; 3 if it never did.
        QTimer::singleShot(30000, [] { QCoreApplication::exit(3); });
        return QCoreApplication::exec();
    };
    EXPECT_EXIT(std::exit(run()), ::testing::ExitedWithCode(0), "");
}

// A click on a selected name cell, then, before its editor is due, a click into the address
// field: real pointer and key events through the window. The typed address is added, and no
// entry is renamed; while the grid keeps the keyboard the same click edits that name.
TEST_F(Shell, TheClickedNameIsEditedOnlyWhileTheGridKeepsTheKeyboard) {
    static QStringList messages;
    const QString typedAddress = QStringLiteral("http://www.youtube.com/watch?v=typed");
    for (const bool toAddressField : {true, false}) {
        SCOPED_TRACE(toAddressField ? "address field clicked" : "grid keeps the keyboard");
        for (int i = 1; i <= 3; ++i)
            w->list().AddUrlToList(QStringLiteral("http://www.youtube.com/watch?v=%1").arg(i));
        const QString name = w->list().Entries()[1].FileName;
        w->show();
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w.get()));
        Command("IDC_FS_Download");
        DownloadGrid* grid = w->DownloadGrid;
        const QModelIndex cell = grid->model()->index(1, DownloadTableModel::ColFileName);
        const QPoint atCell = grid->viewport()->mapTo(w.get(), grid->visualRect(cell).center());
        auto* input = w->Flash->rootObject()->findChild<QQuickItem*>("urlInput");
        ASSERT_NE(input, nullptr);
        const QPoint atInput = w->Flash->mapTo(
            w.get(), input->mapToScene({input->width() / 2, input->height() / 2}).toPoint());

        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, atCell);
        QTest::qWait(800);
        QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, atCell);
        QTest::qWait(150);
        if (toAddressField)
            QTest::mouseClick(w->windowHandle(), Qt::LeftButton, {}, atInput);
        QTest::qWait(QApplication::doubleClickInterval());
        auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(cell));
        EXPECT_EQ(editor != nullptr, !toAddressField);
        const QString typed = toAddressField ? typedAddress : QStringLiteral("mine.flv");
        for (QChar c : typed)
            QTest::keyClick(w->windowHandle(), c.toLatin1());
        QTest::keyClick(w->windowHandle(), Qt::Key_Return);
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);

        const std::vector<DownloadItem>& entries = w->list().Entries();
        ASSERT_EQ(entries.size(), toAddressField ? 4u : 3u);
        if (toAddressField) {
            EXPECT_EQ(entries[3].Video_URL, typedAddress);
        }
        for (const DownloadItem& e : entries)
            EXPECT_EQ(e.FileName, e.ID == 2 && !toAddressField ? "mine.flv" : name) << e.ID;
        EXPECT_TRUE(messages.filter("edit").isEmpty()) << messages.join('\n').toStdString();
        w.reset();
        SetUp();
    }
}

// The window keeps its list between runs: written when it ends, read when it starts; a file
// that can't be read is set aside with one message, and the list starts empty.
TEST_F(Shell, TheListComesBackAfterARestartAndADamagedOneIsSetAside) {
    const QString file = dir.filePath("kept.json");
    const struct {
        const char* what;
        QByteArray written; // empty: the file the first window left
        QStringList urls;   // what the second window starts with
        int messages;
    } cases[] = {
        {"the list of the last run",
         {},
         {"http://www.youtube.com/watch?v=1", "http://example.org/x"},
         0},
        {"a damaged file", "{ not json", {}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(file);
        frmMain::Options o;
        o.surfacePath = surfacePath;
        o.store = store();
        o.prompter = &prompter;
        o.listFile = file;
        o.endProcess = [](int) {};
        {
            frmMain first(o);
            first.list().AddUrlToList("http://www.youtube.com/watch?v=1");
            first.list().AddUrlToList("http://example.org/x");
            first.EndMe();
        }
        if (!c.written.isEmpty()) {
            QFile damaged(file);
            ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
            damaged.write(c.written);
        }
        prompter.shown.clear();
        frmMain second(o);
        QStringList urls;
        for (const DownloadItem& e : second.list().Entries())
            urls << e.Video_URL;
        EXPECT_EQ(urls, c.urls);
        EXPECT_EQ(int(prompter.shown.size()), c.messages);
        if (c.messages > 0) {
            EXPECT_TRUE(prompter.shown[0].text.contains(file + ".damaged"))
                << prompter.shown[0].text.toStdString();
        }
    }
}

// A finished entry's name cell renames its file too, in its folder and never over another
// file; the list then shows the name the file got. When the file is not there as it was
// written, the edit is refused and a message box, shown once the edit has returned, says why.
TEST_F(Shell, AFinishedEntrysNameCellRenamesItsFile) {
    const QString videos = dir.filePath("videos");
    const struct {
        const char* what;
        QStringList before; // files in the folder; the entry's is "clip.flv"
        QString shown;      // the cell and the entry's name afterwards
        QStringList after;
        QString said;
    } rows[] = {
        {"renamed", {"clip.flv"}, "mine.flv", {"mine.flv"}, ""},
        {"its file gone",
         {},
         "clip.flv",
         {},
         "The file " + videos + "/clip.flv is no longer there."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Restart(true);
        prompter.shown.clear();
        QDir(videos).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(videos));
        for (const QString& name : row.before) {
            QFile file(QDir(videos).filePath(name));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(name.toUtf8());
        }
        w->list().AddUrlToList("http://www.youtube.com/watch?v=1");
        const quint64 key = w->list().Entries()[0].Key;
        w->list().SetFileName(key, "clip.flv");
        w->list().SetSavedPath(key, videos + "/clip.flv");
        w->list().SetState(key, EntryState::Complete);
        ASSERT_TRUE(w->list().FillDownloadList());
        QAbstractItemModel* rows = w->DownloadGrid->model();
        const QModelIndex cell = rows->index(0, DownloadTableModel::ColFileName);
        EXPECT_EQ(rows->setData(cell, "mine.flv"), row.said.isEmpty());
        EXPECT_TRUE(prompter.shown.empty()); // not from inside the edit
        // A box is due at the next turn of the event loop.
        WaitFor([&] { return !prompter.shown.empty() || row.said.isEmpty(); });
        QTest::qWait(20);
        EXPECT_EQ(rows->data(cell).toString(), row.shown);
        EXPECT_EQ(w->list().Entries()[0].FileName, row.shown);
        EXPECT_EQ(w->list().Entries()[0].SavedPath, videos + "/" + row.shown);
        EXPECT_EQ(QDir(videos).entryList(QDir::Files), row.after);
        for (const QString& name : row.before) { // each file keeps its bytes
            QFile file(QDir(videos).filePath(name == "clip.flv" ? row.shown : name));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly) && file.readAll() == name.toUtf8())
                << name.toStdString();
        }
        EXPECT_EQ(prompter.shown.empty() ? QString() : prompter.shown[0].text, row.said);
    }
}
