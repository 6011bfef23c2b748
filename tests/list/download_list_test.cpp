#include "common/DoEvents.h"
#include "list/modMain.h"
#include "support/RecordingGrid.h"
#include "support/ScriptedPrompter.h"

#include <QCoreApplication>
#include <QTimer>
#include <gtest/gtest.h>

#include <random>

using namespace orvello;
using orvello::test::RecordingGrid;
using orvello::test::ScriptedPrompter;

namespace {

const QString kYoutube = QStringLiteral("http://www.youtube.com/watch?v=");

struct ListFixture : ::testing::Test {
    RunState run;
    RecordingGrid grid;
    ScriptedPrompter prompter;
    modMain list{run, &grid, &prompter};

    void TearDown() override { SetDoEventsInterval(std::chrono::microseconds(4000)); }

    // Every entry's ID is its index + 1.
    void expectNumbered() const {
        for (std::size_t i = 0; i < list.DownloadList.size(); ++i)
            ASSERT_EQ(list.DownloadList[i].ID, int(i + 1)) << "index " << i;
    }
    QStringList urls() const {
        QStringList out;
        for (const DownloadItem& item : list.DownloadList)
            out << item.Video_URL;
        return out;
    }
    void addPlain(const QString& url, const QString& status = QStringLiteral("Waiting")) {
        QString s = status, size;
        ASSERT_TRUE(list.AddToDownloadList(url, QStringLiteral("f"), s, size));
    }
};

} // namespace

TEST_F(ListFixture, AddingNumbersEntriesAndFillsTheirTexts) {
    list.AddUrlToList(kYoutube + "1");
    list.AddUrlToList(QStringLiteral("http://example.org/clip"));
    ASSERT_EQ(list.DownloadList.size(), 2u);
    const DownloadItem& a = list.DownloadList[0];
    EXPECT_EQ(a.ID, 1);
    EXPECT_EQ(a.FileName, "Waiting (Auto Detect)");
    EXPECT_EQ(a.Status, "Waiting");
    EXPECT_EQ(a.FileSize, "????");
    const DownloadItem& b = list.DownloadList[1];
    EXPECT_EQ(b.ID, 2);
    EXPECT_EQ(b.FileName, "ERROR");
    EXPECT_EQ(b.Status, "Link is not supported");
    EXPECT_EQ(b.FileSize, "????");
    // Stored unchanged: no trimming, no case change.
    list.AddUrlToList(QStringLiteral("  HTTP://WWW.YOUTUBE.COM/x  "));
    EXPECT_EQ(list.DownloadList[2].Video_URL, "  HTTP://WWW.YOUTUBE.COM/x  ");
    EXPECT_EQ(list.DownloadList[2].Status, "Waiting");
}

TEST_F(ListFixture, DuplicatesAreRefusedExactlyAndCaseSensitively) {
    list.AddUrlToList(kYoutube + "a");
    list.AddUrlToList(kYoutube + "a");
    EXPECT_EQ(list.DownloadList.size(), 1u);
    list.AddUrlToList(kYoutube + "A");
    EXPECT_EQ(list.DownloadList.size(), 2u);
    // The empty address is added once, as unsupported, and then refused.
    list.AddUrlToList(QString());
    list.AddUrlToList(QString());
    ASSERT_EQ(list.DownloadList.size(), 3u);
    EXPECT_EQ(list.DownloadList[2].Video_URL, "");
    EXPECT_EQ(list.DownloadList[2].Status, "Link is not supported");
    // A refused duplicate still reports success and still refreshes the grid.
    const int binds = grid.binds;
    QString status, size;
    EXPECT_TRUE(list.AddToDownloadList(kYoutube + "a", "x", status, size));
    list.AddUrlToList(kYoutube + "a");
    EXPECT_EQ(grid.binds, binds + 1);
}

TEST_F(ListFixture, EmptyStatusAndSizeAreDefaultedInTheCallersVariables) {
    QString status, size;
    ASSERT_TRUE(list.AddToDownloadList("u", "name", status, size));
    EXPECT_EQ(status, "Waiting");
    EXPECT_EQ(size, "????");
    EXPECT_EQ(list.DownloadList[0].Status, "Waiting");
    EXPECT_EQ(list.DownloadList[0].FileSize, "????");
}

TEST_F(ListFixture, CapacityIsThirtyTwoThousandSevenHundredSixtySeven) {
    // Fill to one below the limit directly (adding one by one is quadratic), then add.
    for (int i = 1; i < modMain::kCapacity; ++i)
        list.DownloadList.push_back({int16_t(i), QString::number(i), "f", "Waiting", "????"});
    QString status, size;
    EXPECT_TRUE(list.AddToDownloadList("last", "f", status, size));
    EXPECT_EQ(list.DownloadList.back().ID, 32767);
    EXPECT_FALSE(list.AddToDownloadList("one more", "f", status, size));
    EXPECT_TRUE(list.AddToDownloadList("17", "f", status, size)); // already there
    ASSERT_EQ(list.DownloadList.size(), std::size_t(modMain::kCapacity));
    EXPECT_EQ(list.DownloadList.back().Video_URL, "last");
    // Removing from a full list keeps the rest numbered.
    EXPECT_TRUE(list.RemoveFromDownloadList(1));
    EXPECT_EQ(list.DownloadList.size(), std::size_t(modMain::kCapacity - 1));
    expectNumbered();
}

TEST_F(ListFixture, UpdateReplacesOnlyNonEmptyFieldsOfAnExistingEntry) {
    addPlain("a");
    addPlain("b");
    EXPECT_TRUE(list.UpdateDownloadItem(2, "", "renamed.flv", "", ""));
    EXPECT_EQ(list.DownloadList[1].FileName, "renamed.flv");
    EXPECT_EQ(list.DownloadList[1].Video_URL, "b");
    EXPECT_EQ(list.DownloadList[1].Status, "Waiting");
    EXPECT_TRUE(list.UpdateDownloadItem(1, "a2", "n", "Complete", "1 KB"));
    EXPECT_EQ(list.DownloadList[0].Video_URL, "a2");
    EXPECT_EQ(list.DownloadList[0].FileSize, "1 KB");
    for (int16_t id : {int16_t(0), int16_t(3), int16_t(-1), int16_t(32767), int16_t(-32768)})
        EXPECT_TRUE(list.UpdateDownloadItem(id, "x", "x", "x", "x"));
    EXPECT_EQ(urls(), QStringList({"a2", "b"}));
}

TEST_F(ListFixture, FillBuildsTheDisplayCopyAndAppliesTheLayoutOnce) {
    EXPECT_TRUE(list.IsDownloadListEmpty());
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.unbinds, 1);
    EXPECT_FALSE(list.FillBusy);

    const QString longUrl = kYoutube + QString(300, QLatin1Char('x'));
    list.AddUrlToList(longUrl);
    list.AddUrlToList(kYoutube + "2");
    EXPECT_FALSE(list.IsDownloadListEmpty());
    DownloadTableModel* model = list.ListRecordset.get();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(grid.bound, model);
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->columnCount(), 5);
    EXPECT_EQ(model->cellText(0, DownloadTableModel::ColID), "1");
    EXPECT_EQ(model->cellText(0, DownloadTableModel::ColVideoURL), longUrl.left(219));
    EXPECT_EQ(list.DownloadList[0].Video_URL, longUrl); // the list keeps it whole
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColVideoURL), kYoutube + "2");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColFileName), "Waiting (Auto Detect)");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColStatus), "Waiting");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColFileSize), "????");
    EXPECT_EQ(grid.layouts, 1);
    EXPECT_TRUE(list.GridFormatted);

    // Emptying the list and clearing the flag makes the next fill apply the layout again.
    list.RemoveFromDownloadList(1);
    list.RemoveFromDownloadList(1);
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.bound, nullptr);
    list.GridFormatted = false;
    list.AddUrlToList(kYoutube + "3");
    EXPECT_EQ(grid.layouts, 2);
}

TEST_F(ListFixture, FailedFillReportsAndKeepsThePreviousBinding) {
    list.AddUrlToList(kYoutube + "1");
    DownloadTableModel* before = list.ListRecordset.get();
    grid.onBind = [] { throw ListError(91, "Object variable or With block variable not set"); };
    list.AddUrlToList(kYoutube + "2");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "An error occured while filling the Download list\r91:"
                                      "Object variable or With block variable not set");
    EXPECT_EQ(prompter.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(prompter.shown[0].buttons, MsgButtons::Ok);
    EXPECT_FALSE(list.FillBusy);
    EXPECT_EQ(grid.bound, before);
    EXPECT_EQ(list.ListRecordset.get(), before); // still alive for the grid
    EXPECT_EQ(before->rowCount(), 1);
    grid.onBind = nullptr;
    EXPECT_TRUE(list.FillDownloadList());
    EXPECT_EQ(list.ListRecordset->rowCount(), 2);
}

TEST_F(ListFixture, CurrentRowFollowsTheRunningEntryAcrossFills) {
    for (int i = 0; i < 3; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));
    run.bDownloading = true;
    run.iCurrentItem = 1;
    list.AddUrlToList(kYoutube + "3");
    ASSERT_FALSE(list.CurrentRow.isNone());
    EXPECT_EQ(list.CurrentRow.row, 1);
    EXPECT_EQ(list.CurrentRow.model, list.ListRecordset.get());
    // A later fill replaces the display copy: the old reference goes nowhere, and the old
    // copy itself goes once control is back in the event loop.
    const modMain::RowRef old = list.CurrentRow;
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_TRUE(list.CurrentRow.isNone());
    EXPECT_FALSE(old.isNone());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(old.isNone());
    // An index beyond the list finds no row.
    run.iCurrentItem = 10;
    list.FindCurrentRow();
    EXPECT_TRUE(list.CurrentRow.isNone());
    // Not downloading: adding does not look for the row.
    run.bDownloading = false;
    run.iCurrentItem = 0;
    list.AddUrlToList(kYoutube + "4");
    EXPECT_TRUE(list.CurrentRow.isNone());
}

TEST_F(ListFixture, RemovalRenumbersAndDropsRepeatedAddresses) {
    for (const char* u : {"a", "b", "c", "d"})
        addPlain(u);
    EXPECT_TRUE(list.RemoveFromDownloadList(2));
    EXPECT_EQ(urls(), QStringList({"a", "c", "d"}));
    expectNumbered();

    // Two entries whose addresses became the same: any removal keeps only the first.
    list.DownloadList[0].Video_URL = "same";
    list.DownloadList[2].Video_URL = "same";
    list.DownloadList[1].Status.clear();
    list.DownloadList[1].FileSize.clear();
    EXPECT_TRUE(list.RemoveFromDownloadList(99)); // no such ID: still re-adds all
    EXPECT_EQ(urls(), QStringList({"same", "c"}));
    EXPECT_EQ(list.DownloadList[1].Status, "Waiting");
    EXPECT_EQ(list.DownloadList[1].FileSize, "????");
    expectNumbered();

    EXPECT_TRUE(list.RemoveFromDownloadList(1));
    EXPECT_TRUE(list.RemoveFromDownloadList(1));
    EXPECT_TRUE(list.IsDownloadListEmpty());
    EXPECT_FALSE(list.RemoveFromDownloadList(1));
}

TEST_F(ListFixture, MovesSwapNeighboursAndStopAtTheEnds) {
    for (const char* u : {"a", "b", "c"})
        addPlain(u);
    list.MoveItemUp(1);
    list.MoveItemDown(3);
    list.MoveItemUp(0);
    list.MoveItemDown(-5);
    EXPECT_EQ(urls(), QStringList({"a", "b", "c"}));
    list.MoveItemUp(3);
    EXPECT_EQ(urls(), QStringList({"a", "c", "b"}));
    expectNumbered();
    list.MoveItemDown(1);
    EXPECT_EQ(urls(), QStringList({"c", "a", "b"}));
    expectNumbered();
    modMain empty{run, &grid, &prompter};
    empty.MoveItemUp(1);
    empty.MoveItemDown(1);
    EXPECT_TRUE(empty.IsDownloadListEmpty());
}

TEST_F(ListFixture, OperationsDuringAFillKeepTheListNumberedAndDropNestedFills) {
    SetDoEventsInterval(std::chrono::microseconds(0)); // every yield runs the events
    for (int i = 0; i < 40; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));

    std::mt19937 rng(7);
    int ticks = 0, nestedFills = 0, nestedFillRefused = 0;
    bool invariantBroken = false;
    QTimer meddler;
    meddler.setInterval(0);
    QObject::connect(&meddler, &QTimer::timeout, [&] {
        ++ticks;
        const int16_t n = int16_t(list.DownloadList.size());
        switch (rng() % 5) {
        case 0:
            list.AddUrlToList(kYoutube + "new" + QString::number(ticks));
            break;
        case 1:
            list.RemoveFromDownloadList(int16_t(rng() % (n + 2)));
            break;
        case 2:
            list.MoveItemUp(int16_t(rng() % (n + 2)));
            break;
        case 3:
            list.MoveItemDown(int16_t(rng() % (n + 2)));
            break;
        case 4:
            ++nestedFills;
            nestedFillRefused += list.FillDownloadList() ? 0 : 1;
            break;
        }
        for (std::size_t i = 0; i < list.DownloadList.size(); ++i)
            invariantBroken |= list.DownloadList[i].ID != int(i + 1);
    });
    meddler.start();
    const std::size_t countAtStart = list.DownloadList.size();
    const bool filled = list.FillDownloadList();
    meddler.stop();

    EXPECT_TRUE(filled);
    EXPECT_GT(ticks, 100);
    EXPECT_FALSE(invariantBroken);
    EXPECT_EQ(nestedFillRefused, nestedFills);
    expectNumbered();
    // The fill read its bound once: one record per entry present when it started, and a
    // record for an index that was gone by then has empty columns.
    DownloadTableModel* model = list.ListRecordset.get();
    ASSERT_EQ(std::size_t(model->rowCount()), countAtStart);
    for (int r = 0; r < model->rowCount(); ++r) {
        const QString id = model->cellText(r, DownloadTableModel::ColID);
        EXPECT_TRUE(id.isEmpty() || id == QString::number(r + 1)) << r;
        if (id.isEmpty()) {
            EXPECT_TRUE(model->cellText(r, DownloadTableModel::ColVideoURL).isEmpty());
        }
    }
    // The next fill shows the list as it is now.
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_EQ(std::size_t(list.ListRecordset->rowCount()), list.DownloadList.size());
}

TEST_F(ListFixture, AnyTextIsStoredAndShownWithoutHarm) {
    QString huge(1 << 20, QChar(u'\xD800')); // a megabyte of lone surrogates
    huge += "youtube.com";
    const QString withNul = QString::fromUtf16(u"http://a\0b", 10);
    list.AddUrlToList(huge);
    list.AddUrlToList(withNul);
    list.AddUrlToList(QString::fromUtf8("http://例え.jp/動画"));
    ASSERT_EQ(list.DownloadList.size(), 3u);
    EXPECT_EQ(list.DownloadList[0].Video_URL, huge);
    EXPECT_EQ(list.DownloadList[0].Status, "Waiting");
    EXPECT_EQ(list.ListRecordset->cellText(0, DownloadTableModel::ColVideoURL).size(), 219);
    EXPECT_EQ(list.DownloadList[1].Video_URL, withNul);
    EXPECT_EQ(list.ListRecordset->cellText(1, DownloadTableModel::ColVideoURL), withNul);
    expectNumbered();
}

TEST_F(ListFixture, AnEmptiedListHasNoCurrentRowThoughItsLastCopyIsKept) {
    for (int i = 0; i < 3; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));
    run.bDownloading = true;
    run.iCurrentItem = 0;
    list.FindCurrentRow();
    ASSERT_FALSE(list.CurrentRow.isNone());
    for (int i = 0; i < 3; ++i)
        list.RemoveFromDownloadList(1);
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.bound, nullptr);
    EXPECT_NE(list.ListRecordset, nullptr);
    EXPECT_EQ(list.BoundRecordset(), nullptr);
    EXPECT_TRUE(list.CurrentRow.isNone());
    list.FindCurrentRow(); // the kept copy still has a row with ID 1, but nobody sees it
    EXPECT_TRUE(list.CurrentRow.isNone());
}

TEST_F(ListFixture, AFailedLayoutStepPutsTheGridBackOnWhatItShowed) {
    // Once with the grid showing a copy, once with the grid unbound after the list emptied.
    for (const bool wasBound : {true, false}) {
        SCOPED_TRACE(wasBound ? "bound before" : "unbound before");
        list.DownloadList.clear();
        list.AddUrlToList(kYoutube + "1");
        if (!wasBound) {
            list.RemoveFromDownloadList(1);
            list.FillDownloadList();
        }
        DownloadTableModel* before = list.ListRecordset.get();
        ASSERT_EQ(grid.bound, wasBound ? before : nullptr);
        list.GridFormatted = false; // the next fill applies the layout
        grid.onLayout = [] { throw ListError(5, "Invalid procedure call or argument"); };
        list.AddUrlToList(kYoutube + "2");
        grid.onLayout = nullptr;

        EXPECT_EQ(grid.bound, wasBound ? before : nullptr);
        EXPECT_EQ(list.BoundRecordset(), grid.bound);
        EXPECT_EQ(list.ListRecordset.get(), before);
        EXPECT_FALSE(list.GridFormatted);
        EXPECT_FALSE(list.FillBusy);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_EQ(before->rowCount(), 1); // still alive: it is the list's copy again

        ASSERT_TRUE(list.FillDownloadList());
        EXPECT_TRUE(list.GridFormatted);
        EXPECT_EQ(grid.bound, list.ListRecordset.get());
    }
    EXPECT_EQ(prompter.shown.size(), 2u);
}
