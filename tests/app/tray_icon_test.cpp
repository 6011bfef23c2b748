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
    int simultaneous = 1;
    QList<int> simultaneousSet;
    std::int64_t speedLimit = 0;
    QList<qint64> speedLimitSet;
    bool anySite = false;
    QList<bool> anySiteSet;
    bool cookies = false;
    QList<bool> cookiesSet;
    TrayIcon tray{window,
                  {[this] { return monitoring; }, [this](bool on) { monitorSet << on; },
                   [this](const QString& c) { commands << c; }, [this] { ++exits; },
                   [this] { return simultaneous; }, [this](int n) { simultaneousSet << n; },
                   [this] { return speedLimit; },
                   [this](std::int64_t limit) { speedLimitSet << limit; },
                   [this] { return anySite; }, [this](bool on) { anySiteSet << on; },
                   [this] { return cookies; }, [this](bool on) { cookiesSet << on; }}};

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
    EXPECT_EQ(shown, QStringList({"Orvello", "-", "Start Downloading", "Simultaneous downloads",
                                  "Speed limit", "Find videos on any page", "Use a cookies file...",
                                  "-", "Monitor Video URL's in Clipboard", "-", "Exit Orvello"}));
    EXPECT_EQ(tray.SysTray.toolTip(), "Orvello");
    EXPECT_EQ(tray.SysTray.contextMenu(), &menu().TRAYMENU);
}

TEST_F(Tray, TheCheckItemsShowTheirSwitchAtEveryOpeningAndSwitchIt) {
    const struct {
        const char* what;
        QAction* item;
        bool* on;         // the switch when the menu opens
        QList<bool>* set; // what choosing the item passed on
    } items[] = {{"the watch", menu().mnuMonitor, &monitoring, &monitorSet},
                 {"any page", menu().mnuAnySite, &anySite, &anySiteSet},
                 {"cookies", menu().mnuCookies, &cookies, &cookiesSet}};
    const struct {
        bool on;         // when the menu opens
        bool switchedTo; // the item chosen then
    } cases[] = {{true, false}, {false, true}, {true, false}};
    for (const auto& i : items) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(i.what) + (c.on ? " on" : " off"));
            monitoring = anySite = cookies = !c.on; // the others' switches are the opposite
            *i.on = c.on;
            monitorSet.clear();
            anySiteSet.clear();
            cookiesSet.clear();
            emit menu().TRAYMENU.aboutToShow();
            EXPECT_EQ(i.item->isChecked(), c.on);
            i.item->trigger();
            EXPECT_EQ(*i.set, QList<bool>{c.switchedTo});
            // The other items are left alone.
            EXPECT_EQ(monitorSet.size() + anySiteSet.size() + cookiesSet.size(), 1);
        }
    }
}

// The two submenus check the count and the limit in force at every opening (a limit set in
// the settings file that is none of the choices shows as an item of its own) and pass on
// the item chosen.
TEST_F(Tray, TheDownloadSubmenusCheckTheChoiceInForceAndPassOnTheOneChosen) {
    const struct {
        int simultaneous;
        std::int64_t limit;
        QStringList counts, limits; // the items shown, the checked one in brackets
        int chooseCount;            // the item chosen, by its place
        int chooseLimit;
        qint64 limitChosen;
    } cases[] = {
        {1,
         0,
         {"[1]", "2", "3", "4", "5", "6", "7", "8"},
         {"[No limit]", "100 KB/s", "500 KB/s", "1 MB/s", "5 MB/s"},
         2,
         2,
         512000},
        {8,
         1048576,
         {"1", "2", "3", "4", "5", "6", "7", "[8]"},
         {"No limit", "100 KB/s", "500 KB/s", "[1 MB/s]", "5 MB/s"},
         0,
         0,
         0},
        {3,
         300000,
         {"1", "2", "[3]", "4", "5", "6", "7", "8"},
         {"[293 KB/s]", "No limit", "100 KB/s", "500 KB/s", "1 MB/s", "5 MB/s"},
         7,
         0,
         300000},
    };
    auto shown = [](QMenu* menu) {
        QStringList items;
        for (QAction* a : menu->actions()) {
            if (a->isVisible())
                items << (a->isChecked() ? "[" + a->text() + "]" : a->text());
        }
        return items;
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.limit);
        simultaneous = c.simultaneous;
        speedLimit = c.limit;
        simultaneousSet.clear();
        speedLimitSet.clear();
        emit menu().TRAYMENU.aboutToShow();
        EXPECT_EQ(shown(menu().mnuSimultaneous), c.counts);
        EXPECT_EQ(shown(menu().mnuSpeedLimit), c.limits);
        menu().mnuSimultaneous->actions()[c.chooseCount]->trigger();
        EXPECT_EQ(simultaneousSet, QList<int>{c.chooseCount + 1});
        QList<QAction*> limits;
        for (QAction* a : menu().mnuSpeedLimit->actions()) {
            if (a->isVisible())
                limits << a;
        }
        limits[c.chooseLimit]->trigger();
        EXPECT_EQ(speedLimitSet, QList<qint64>{c.limitChosen});
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
