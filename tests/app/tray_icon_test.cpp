// The tray icon and its menu on their own, with a plain window and recorded actions: what the
// menu shows, what each item and click does, and the exit after the menu has closed.
#include "app/TrayIcon.h"
#include "app/frmMenu.h"
#include "common/DoEvents.h"
#include "support/QtPrint.h"

#include <QElapsedTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace orvello;
using namespace std::chrono_literals;

namespace {

struct Tray : ::testing::Test {
    QWidget window;
    bool monitoring = true;
    QList<bool> monitorSet;
    QStringList commands;
    int exits = 0;
    TrayIcon tray{window,
                  {[this] { return monitoring; }, [this](bool on) { monitorSet << on; },
                   [this](const QString& c) { commands << c; }, [this] { ++exits; }}};

    Tray() {
        tray.ShowIcon();
        tray.LoadMenu();
    }
    frmMenu& menu() { return *tray.menu; }
};

} // namespace

TEST_F(Tray, TheMenuShowsItsItemsAndTheIconItsName) {
    QStringList shown;
    for (QAction* a : menu().TRAYMENU.actions()) {
        if (a->isVisible())
            shown << (a->isSeparator() ? "-" : a->text());
    }
    EXPECT_EQ(shown, QStringList({"Orvello", "-", "Start Downloading", "-",
                                  "Monitor Video URL's in Clipboard", "-", "Exit Orvello"}));
    EXPECT_EQ(tray.SysTray.toolTip(), "Orvello");
    EXPECT_EQ(tray.SysTray.contextMenu(), &menu().TRAYMENU);
}

TEST_F(Tray, TheWatchItemShowsTheWatchingAtEveryOpeningAndSwitchesIt) {
    const struct {
        bool watching;   // when the menu opens
        bool switchedTo; // the item chosen then
    } cases[] = {{true, false}, {false, true}, {true, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.watching);
        monitoring = c.watching;
        monitorSet.clear();
        emit menu().TRAYMENU.aboutToShow();
        EXPECT_EQ(menu().mnuMonitor->isChecked(), c.watching);
        menu().mnuMonitor->trigger();
        EXPECT_EQ(monitorSet, QList<bool>{c.switchedTo});
    }
}

TEST_F(Tray, TheDownloadItemFollowsTheCaptionAndSendsItsCommand) {
    const struct {
        const char* caption;
        const char* command;
    } cases[] = {{"Stop Downloading", "IDC_FS_stopDownload"},
                 {"Start Downloading", "IDC_FS_startDownload"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.caption);
        commands.clear();
        tray.SetDownloadCaption(c.caption);
        EXPECT_EQ(menu().mnuDownload->text(), c.caption);
        menu().mnuDownload->trigger();
        EXPECT_EQ(commands, QStringList{c.command});
    }
}

TEST_F(Tray, AHiddenWindowComesBackByALeftClickOrTheFirstItem) {
    const struct {
        const char* how;
        std::function<void()> act;
        bool shown;
    } cases[] = {
        {"right click", [&] { tray.SysTray_Activated(QSystemTrayIcon::Context); }, false},
        {"double click", [&] { tray.SysTray_Activated(QSystemTrayIcon::DoubleClick); }, false},
        {"left click", [&] { tray.SysTray_Activated(QSystemTrayIcon::Trigger); }, true},
        {"Orvello chosen", [&] { menu().mnuOrvello->trigger(); }, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how);
        window.hide();
        c.act();
        EXPECT_EQ(window.isVisible(), c.shown);
    }
}

TEST_F(Tray, ExitRunsOnceTheMenuHasClosedAndRemoveDropsTheMenu) {
    QElapsedTimer sinceExit;
    sinceExit.start();
    menu().mnuExit->trigger();
    EXPECT_EQ(exits, 0); // not while the menu is still open
    while (exits == 0 && sinceExit.elapsed() < 5000)
        WaitForEvents(10ms);
    EXPECT_EQ(exits, 1);
    EXPECT_GE(sinceExit.elapsed(), 150); // about 200 ms: a coarse timer may fire 5% early
    EXPECT_FALSE(tray.tmrend.isActive());

    tray.Remove();
    EXPECT_EQ(tray.menu, nullptr);
    EXPECT_EQ(tray.SysTray.contextMenu(), nullptr);
    EXPECT_FALSE(tray.SysTray.isVisible());
    tray.SetDownloadCaption("Stop Downloading"); // a caption after the menu went is dropped
}
