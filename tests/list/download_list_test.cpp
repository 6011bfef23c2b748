#include "list/AddressSplit.h"
#include "list/modMain.h"
#include "support/RecordingGrid.h"
#include "support/RunStateProbe.h"
#include "support/ScriptedPrompter.h"

#include <QAbstractItemModelTester>
#include <QCoreApplication>
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

    // Every entry's ID is its index + 1.
    void expectNumbered() const {
        for (std::size_t i = 0; i < list.Entries().size(); ++i)
            ASSERT_EQ(list.Entries()[i].ID, int(i + 1)) << "index " << i;
    }
    QStringList urls() const {
        QStringList out;
        for (const DownloadItem& item : list.Entries())
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
    ASSERT_EQ(list.Entries().size(), 2u);
    const DownloadItem& a = list.Entries()[0];
    EXPECT_EQ(a.ID, 1);
    EXPECT_EQ(a.FileName, "Waiting (Auto Detect)");
    EXPECT_EQ(a.Status, "Waiting");
    EXPECT_EQ(a.FileSize, "????");
    const DownloadItem& b = list.Entries()[1];
    EXPECT_EQ(b.ID, 2);
    EXPECT_EQ(b.FileName, "ERROR");
    EXPECT_EQ(b.Status, "Link is not supported");
    EXPECT_EQ(b.FileSize, "????");
    // Stored unchanged: no trimming, no case change.
    list.AddUrlToList(QStringLiteral("  HTTP://WWW.YOUTUBE.COM/x  "));
    EXPECT_EQ(list.Entries()[2].Video_URL, "  HTTP://WWW.YOUTUBE.COM/x  ");
    EXPECT_EQ(list.Entries()[2].Status, "Waiting");
}

TEST_F(ListFixture, DuplicatesAreRefusedExactlyAndCaseSensitively) {
    list.AddUrlToList(kYoutube + "a");
    list.AddUrlToList(kYoutube + "a");
    EXPECT_EQ(list.Entries().size(), 1u);
    list.AddUrlToList(kYoutube + "A");
    EXPECT_EQ(list.Entries().size(), 2u);
    // The empty address is added once, as unsupported, and then refused.
    list.AddUrlToList(QString());
    list.AddUrlToList(QString());
    ASSERT_EQ(list.Entries().size(), 3u);
    EXPECT_EQ(list.Entries()[2].Video_URL, "");
    EXPECT_EQ(list.Entries()[2].Status, "Link is not supported");
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
    EXPECT_EQ(list.Entries()[0].Status, "Waiting");
    EXPECT_EQ(list.Entries()[0].FileSize, "????");
}

TEST_F(ListFixture, CapacityIsThirtyTwoThousandSevenHundredSixtySeven) {
    // One by one: the duplicate test reads an index of the addresses, not the whole list.
    QString status, size;
    for (int i = 1; i < modMain::kCapacity; ++i)
        ASSERT_TRUE(list.AddToDownloadList(QString::number(i), "f", status, size));
    EXPECT_TRUE(list.AddToDownloadList("last", "f", status, size));
    EXPECT_EQ(list.Entries().back().ID, 32767);
    EXPECT_FALSE(list.AddToDownloadList("one more", "f", status, size));
    EXPECT_TRUE(list.AddToDownloadList("17", "f", status, size)); // already there
    ASSERT_EQ(list.Entries().size(), std::size_t(modMain::kCapacity));
    EXPECT_EQ(list.Entries().back().Video_URL, "last");
    // Removing from a full list keeps the rest numbered.
    EXPECT_TRUE(list.RemoveFromDownloadList(1));
    EXPECT_EQ(list.Entries().size(), std::size_t(modMain::kCapacity - 1));
    expectNumbered();
}

TEST_F(ListFixture, UpdateReplacesOnlyNonEmptyFieldsOfAnExistingEntry) {
    addPlain("a");
    addPlain("b");
    EXPECT_TRUE(list.UpdateDownloadItem(2, "", "renamed.flv", "", ""));
    EXPECT_EQ(list.Entries()[1].FileName, "renamed.flv");
    EXPECT_EQ(list.Entries()[1].Video_URL, "b");
    EXPECT_EQ(list.Entries()[1].Status, "Waiting");
    EXPECT_TRUE(list.UpdateDownloadItem(1, "a2", "n", "Complete", "1 KB"));
    EXPECT_EQ(list.Entries()[0].Video_URL, "a2");
    EXPECT_EQ(list.Entries()[0].FileSize, "1 KB");
    for (int16_t id : {int16_t(0), int16_t(3), int16_t(-1), int16_t(32767), int16_t(-32768)})
        EXPECT_TRUE(list.UpdateDownloadItem(id, "x", "x", "x", "x"));
    EXPECT_EQ(urls(), QStringList({"a2", "b"}));
}

TEST_F(ListFixture, FillBuildsTheDisplayCopyAndAppliesTheLayoutOnce) {
    EXPECT_TRUE(list.IsDownloadListEmpty());
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.unbinds, 1);

    const QString longUrl = kYoutube + QString(300, QLatin1Char('x'));
    list.AddUrlToList(longUrl);
    list.AddUrlToList(kYoutube + "2");
    EXPECT_FALSE(list.IsDownloadListEmpty());
    DownloadTableModel* model = list.BoundRecordset();
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(grid.bound, model);
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->columnCount(), 5);
    EXPECT_EQ(model->cellText(0, DownloadTableModel::ColID), "1");
    EXPECT_EQ(model->cellText(0, DownloadTableModel::ColVideoURL), longUrl.left(219));
    EXPECT_EQ(list.Entries()[0].Video_URL, longUrl); // the list keeps it whole
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColVideoURL), kYoutube + "2");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColFileName), "Waiting (Auto Detect)");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColStatus), "Waiting");
    EXPECT_EQ(model->cellText(1, DownloadTableModel::ColFileSize), "????");
    EXPECT_EQ(grid.layouts, 1);
    list.AddUrlToList(kYoutube + "9");
    EXPECT_EQ(grid.layouts, 1); // applied once

    // Emptying the list and resetting the layout makes the next fill apply it again.
    list.RemoveFromDownloadList(QSet<int16_t>{1, 2, 3});
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.bound, nullptr);
    list.ResetLayout();
    list.AddUrlToList(kYoutube + "3");
    EXPECT_EQ(grid.layouts, 2);
}

TEST_F(ListFixture, FailedFillReportsAndKeepsThePreviousBinding) {
    list.AddUrlToList(kYoutube + "1");
    DownloadTableModel* before = list.BoundRecordset();
    grid.onBind = [] { throw ListError(91, "Object variable or With block variable not set"); };
    list.AddUrlToList(kYoutube + "2");
    ASSERT_EQ(prompter.shown.size(), 1u);
    EXPECT_EQ(prompter.shown[0].text, "An error occured while filling the Download list\r91:"
                                      "Object variable or With block variable not set");
    EXPECT_EQ(prompter.shown[0].icon, MsgIcon::Critical);
    EXPECT_EQ(prompter.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(grid.bound, before);
    EXPECT_EQ(list.BoundRecordset(), before); // still alive for the grid
    EXPECT_EQ(before->rowCount(), 1);
    grid.onBind = nullptr;
    EXPECT_TRUE(list.FillDownloadList()); // not busy after the failure
    EXPECT_EQ(before->rowCount(), 2);
}

TEST_F(ListFixture, CurrentRowFollowsTheRunningEntryAcrossFills) {
    for (int i = 0; i < 3; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));
    RunStateProbe::SetDownloading(run, true, list.Entries()[1].Key);
    EXPECT_EQ(list.iCurrentItem(), 1);
    list.AddUrlToList(kYoutube + "3");
    ASSERT_FALSE(list.CurrentRow().isNone());
    EXPECT_EQ(list.CurrentRow().row, 1);
    EXPECT_EQ(list.CurrentRow().model, list.BoundRecordset());
    // A fill that keeps every row on its entry keeps the reference; one that rebuilds the
    // rows (a move) makes it go nowhere until the row is found again.
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_FALSE(list.CurrentRow().isNone());
    list.MoveItemUp(2);
    EXPECT_EQ(list.iCurrentItem(), 0); // the index follows the entry
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_TRUE(list.CurrentRow().isNone());
    list.FindCurrentRow();
    EXPECT_EQ(list.CurrentRow().row, 0);
    list.RemoveFromDownloadList(4); // the last row goes: the numbers may be reused
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_TRUE(list.CurrentRow().isNone());
    // The running entry removed: no index, no row.
    list.RemoveFromDownloadList(1);
    EXPECT_EQ(list.iCurrentItem(), -1);
    list.FindCurrentRow();
    EXPECT_TRUE(list.CurrentRow().isNone());
    // Not downloading: adding does not look for the row.
    RunStateProbe::SetDownloading(run, false, list.Entries()[0].Key);
    list.AddUrlToList(kYoutube + "4");
    EXPECT_TRUE(list.CurrentRow().isNone());
}

TEST_F(ListFixture, RemovalRenumbersAndDropsRepeatedAddresses) {
    for (const char* u : {"a", "b", "c", "d"})
        addPlain(u);
    EXPECT_TRUE(list.RemoveFromDownloadList(2));
    EXPECT_EQ(urls(), QStringList({"a", "c", "d"}));
    expectNumbered();

    // Two entries whose addresses became the same: any removal keeps only the first.
    list.SetVideoUrl(list.Entries()[0].Key, "same");
    list.SetVideoUrl(list.Entries()[2].Key, "same");
    EXPECT_TRUE(list.RemoveFromDownloadList(99)); // no such ID: still re-adds all
    EXPECT_EQ(urls(), QStringList({"same", "c"}));
    expectNumbered();

    // Several at once: exactly those entries, even when a repeated address goes too.
    for (const char* u : {"e", "f", "g"})
        addPlain(u);
    list.SetVideoUrl(list.Entries()[3].Key, "same");
    EXPECT_TRUE(list.RemoveFromDownloadList(QSet<int16_t>{2, 5}));
    EXPECT_EQ(urls(), QStringList({"same", "e"})); // "c" and "g" removed, the repeat dropped
    expectNumbered();

    // Removed one by one by the IDs shown, the repeat dropped by the first removal would have
    // renumbered "g" to 3, and the second would have missed it.
    addPlain("g");
    addPlain("h");
    list.SetVideoUrl(list.Entries()[1].Key, "same");
    EXPECT_TRUE(list.RemoveFromDownloadList(QSet<int16_t>{3, 4}));
    EXPECT_EQ(urls(), QStringList({"same"}));

    EXPECT_TRUE(list.RemoveFromDownloadList(QSet<int16_t>{1}));
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

TEST_F(ListFixture, TheDisplayCopyFollowsAnyChangesAndOnlyRebuildsWhenRowsChangeEntries) {
    for (int i = 0; i < 40; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));
    DownloadTableModel* copy = list.BoundRecordset();
    QAbstractItemModelTester tester(copy, QAbstractItemModelTester::FailureReportingMode::Fatal);
    int resets = 0, nestedFills = 0, nestedFillRefused = 0;
    QObject::connect(copy, &QAbstractItemModel::modelReset, [&] { ++resets; });
    // A fill started from the copy's own signal (a view reacting) finds one running.
    QObject::connect(copy, &QAbstractItemModel::dataChanged, [&] {
        ++nestedFills;
        nestedFillRefused += list.FillDownloadList() ? 0 : 1;
    });

    std::mt19937 rng(7);
    for (int step = 0; step < 600; ++step) {
        const int16_t n = int16_t(list.Entries().size());
        const int16_t id = int16_t(rng() % (n + 2));
        const int op = int(rng() % 7);
        const int resetsBefore = resets;
        switch (op) {
        case 0:
            list.AddUrlToList(kYoutube + "new" + QString::number(step));
            break;
        case 1:
            list.RemoveFromDownloadList(id);
            break;
        case 2:
            list.MoveItemUp(id);
            break;
        case 3:
            list.MoveItemDown(id);
            break;
        case 4: // the run changes an entry's state
            if (const DownloadItem* item = list.EntryAt(int16_t(id - 1)))
                list.SetState(item->Key, EntryState::Transferring, step);
            break;
        case 5:
            list.UpdateDownloadItem(id, QString(), QStringLiteral("n%1.flv").arg(step), QString(),
                                    QStringLiteral("1 KB"));
            break;
        case 6:
            if (const DownloadItem* item = list.EntryAt(int16_t(id - 1)))
                list.SetVideoUrl(item->Key, kYoutube + QString(300, QLatin1Char('a' + step % 26)));
            break;
        }
        if (list.IsDownloadListEmpty())
            list.AddUrlToList(kYoutube + "refill" + QString::number(step));
        ASSERT_TRUE(list.FillDownloadList());
        ASSERT_EQ(list.BoundRecordset(), copy); // one copy for the list's lifetime
        if (op == 0 || op >= 4) {
            EXPECT_EQ(resets, resetsBefore) << "step " << step; // rows kept on their entries
        }
        // Row for row the list as it is now, whatever happened before.
        ASSERT_EQ(std::size_t(copy->rowCount()), list.Entries().size()) << "step " << step;
        for (int r = 0; r < copy->rowCount(); ++r) {
            const DownloadItem& e = list.Entries()[std::size_t(r)];
            const QStringList want = {QString::number(r + 1), e.Video_URL.left(219), e.FileName,
                                      e.Status, e.FileSize};
            for (int c = 0; c < DownloadTableModel::ColumnCount; ++c)
                ASSERT_EQ(copy->cellText(r, c), want[c]) << "step " << step << " row " << r;
            const QVariant percent =
                copy->index(r, DownloadTableModel::ColStatus).data(DownloadTableModel::PercentRole);
            ASSERT_EQ(percent.isNull(), e.State != EntryState::Transferring) << "row " << r;
        }
    }
    expectNumbered();
    EXPECT_GT(resets, 50);
    EXPECT_GT(nestedFills, 100);
    EXPECT_EQ(nestedFillRefused, nestedFills);
}

TEST_F(ListFixture, AnyTextIsStoredAndShownWithoutHarm) {
    QString huge(1 << 20, QChar(u'\xD800')); // a megabyte of lone surrogates
    huge += "youtube.com";
    const QString withNul = QString::fromUtf16(u"http://a\0b", 10);
    list.AddUrlToList(huge);
    list.AddUrlToList(withNul);
    list.AddUrlToList(QString::fromUtf8("http://例え.jp/動画"));
    ASSERT_EQ(list.Entries().size(), 3u);
    EXPECT_EQ(list.Entries()[0].Video_URL, huge);
    EXPECT_EQ(list.Entries()[0].Status, "Waiting");
    EXPECT_EQ(list.BoundRecordset()->cellText(0, DownloadTableModel::ColVideoURL).size(), 219);
    EXPECT_EQ(list.Entries()[1].Video_URL, withNul);
    EXPECT_EQ(list.BoundRecordset()->cellText(1, DownloadTableModel::ColVideoURL), withNul);
    expectNumbered();
}

TEST_F(ListFixture, AnEmptiedListHasNoCurrentRow) {
    for (int i = 0; i < 3; ++i)
        list.AddUrlToList(kYoutube + QString::number(i));
    RunStateProbe::SetDownloading(run, true, list.Entries()[0].Key);
    list.FindCurrentRow();
    ASSERT_FALSE(list.CurrentRow().isNone());
    list.RemoveFromDownloadList(QSet<int16_t>{1, 2, 3});
    EXPECT_FALSE(list.FillDownloadList());
    EXPECT_EQ(grid.bound, nullptr);
    EXPECT_EQ(list.BoundRecordset(), nullptr);
    EXPECT_TRUE(list.CurrentRow().isNone());
    list.FindCurrentRow();
    EXPECT_TRUE(list.CurrentRow().isNone());
}

TEST_F(ListFixture, AFailedLayoutStepPutsTheGridBackOnWhatItShowed) {
    // Once with the grid showing a copy, once with the grid unbound after the list emptied.
    int round = 0;
    for (const bool wasBound : {true, false}) {
        SCOPED_TRACE(wasBound ? "bound before" : "unbound before");
        ++round;
        list.AddUrlToList(kYoutube + "1-" + QString::number(round));
        DownloadTableModel* before = list.BoundRecordset();
        if (!wasBound) {
            list.RemoveFromDownloadList(QSet<int16_t>{1, 2, 3});
            list.FillDownloadList();
        }
        ASSERT_EQ(grid.bound, wasBound ? before : nullptr);
        list.ResetLayout(); // the next fill applies the layout
        const int layouts = grid.layouts;
        grid.onLayout = [] { throw ListError(5, "Invalid procedure call or argument"); };
        list.AddUrlToList(kYoutube + "2-" + QString::number(round));
        grid.onLayout = nullptr;

        EXPECT_EQ(grid.bound, wasBound ? before : nullptr);
        EXPECT_EQ(list.BoundRecordset(), grid.bound);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (wasBound) {
            EXPECT_EQ(before->rowCount(), 1); // the grid still shows what it showed
        }

        ASSERT_TRUE(list.FillDownloadList()); // not busy, and the layout still due
        EXPECT_EQ(grid.layouts, layouts + 1);
        EXPECT_EQ(grid.bound, list.BoundRecordset());
        EXPECT_EQ(list.BoundRecordset()->rowCount(), int(list.Entries().size()));
    }
    EXPECT_EQ(prompter.shown.size(), 2u);
}

// The list's own bookkeeping under random edits: every entry is found by its key at its
// place, numbered by its place, and the address index answers exactly for the addresses the
// list holds (also after addresses changed and repeats were dropped).
TEST(EntryStore, KeysNumbersAndTheAddressIndexStayTrueUnderRandomEdits) {
    EntryStore store;
    std::mt19937 rng(11);
    QStringList everUsed;
    for (int step = 0; step < 3000; ++step) {
        const int n = int(store.size());
        const int16_t id = int16_t(int(rng() % unsigned(n + 2)));
        const DownloadItem* pick = store.At(id - 1);
        switch (rng() % 6) {
        case 0:
        case 1: {
            QString url = QStringLiteral("u%1").arg(rng() % 400), status, size;
            everUsed << url;
            ASSERT_TRUE(store.Add(url, "f", status, size));
            break;
        }
        case 2:
            store.Remove(QSet<int16_t>{id, int16_t(rng() % unsigned(n + 2))});
            break;
        case 3:
            rng() % 2 ? store.MoveUp(id) : store.MoveDown(id);
            break;
        case 4:
            if (pick) {
                const QString url = QStringLiteral("u%1").arg(rng() % 400);
                everUsed << url;
                store.SetVideoUrl(pick->Key, url); // may repeat another entry's address
            }
            break;
        case 5:
            store.TakeChanges();
            break;
        }
        QSet<QString> held;
        QSet<quint64> keys;
        for (std::size_t i = 0; i < store.size(); ++i) {
            const DownloadItem& e = store.Entries()[i];
            ASSERT_EQ(e.ID, int(i + 1)) << "step " << step;
            ASSERT_EQ(store.IndexOfKey(e.Key), int(i)) << "step " << step;
            ASSERT_EQ(store.ByKey(e.Key), &e);
            ASSERT_FALSE(keys.contains(e.Key));
            keys.insert(e.Key);
            held.insert(e.Video_URL);
        }
        for (const QString& url : everUsed)
            ASSERT_EQ(store.ContainsAddress(url), held.contains(url)) << url.toStdString();
    }
}

// What a text brings for the list, up to a bound: the address field's lines as they stand, or
// a drop's words of supported sites; past the bound they are counted, not kept.
TEST(AddressSplit, LinesOrAddressesUpToTheBoundThenCounted) {
    const QString a = "http://www.youtube.com/watch?v=a", b = "http://blip.tv/file/1";
    EXPECT_EQ(SplitLines(u" x \r\n\r\n \t\ry\nz", 2).addresses, QStringList({" x ", "y"}));
    EXPECT_EQ(SplitLines(u" x \r\n\r\n \t\ry\nz", 2).more, 1);
    const SplitText words = SplitAddresses("see " + a + "\r\nor\t" + b + "\u2028" + a + "#2", 2);
    EXPECT_EQ(words.addresses, QStringList({a, b}));
    EXPECT_EQ(words.more, 1);
}
