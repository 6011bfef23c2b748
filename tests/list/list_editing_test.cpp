// The list-editing operations on the bound display copy and a real selection model, and the
// rename through the copy's edit path.
#include "list/ListEditing.h"
#include "list/modMain.h"
#include "support/QtPrint.h"
#include "support/RecordingGrid.h"
#include "support/ScriptedPrompter.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace orvello;
using orvello::test::RecordingGrid;
using orvello::test::ScriptedPrompter;

namespace {

struct EditingFixture : ::testing::Test {
    RunState run;
    RecordingGrid grid;
    ScriptedPrompter prompter;
    modMain list{run, &grid, &prompter};
    ListEditing editing{list};
    std::unique_ptr<QItemSelectionModel> selection;

    // Entries "a", "b", ... with these statuses, filled into the grid, with a fresh selection.
    void fillWith(const QStringList& statuses) {
        for (int i = 0; i < statuses.size(); ++i) {
            QString status = statuses[i], size;
            list.AddToDownloadList(QString(QChar(u'a' + i)), QStringLiteral("f"), status, size);
        }
        ASSERT_TRUE(list.FillDownloadList());
        selection = std::make_unique<QItemSelectionModel>(list.BoundRecordset());
    }
    void fillLetters(int n) { fillWith(QStringList(n, QStringLiteral("Waiting"))); }
    void clearList() {
        QSet<int16_t> all;
        for (const DownloadItem& item : list.Entries())
            all.insert(item.ID);
        list.RemoveFromDownloadList(all);
    }
    void selectCell(int row, int column) {
        selection->select(list.BoundRecordset()->index(row, column), QItemSelectionModel::Select);
    }
    void selectRow(int row) {
        selection->select(list.BoundRecordset()->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    QString order() const {
        QString out;
        for (const DownloadItem& item : list.Entries())
            out += item.Video_URL;
        return out;
    }
    void expectNumbered() const {
        for (std::size_t i = 0; i < list.Entries().size(); ++i)
            ASSERT_EQ(list.Entries()[i].ID, int(i + 1));
    }
};

} // namespace

TEST_F(EditingFixture, RemoveSelectedTakesTheRowsOfSelectedCellsAndWholeRows) {
    struct Case {
        const char* name;
        std::vector<std::pair<int, int>> cells; // row, column
        std::vector<int> rows;
        const char* left;
    };
    const Case cases[] = {
        {"cells in rows 2 and 4", {{1, 2}, {3, 4}}, {}, "ace"},
        {"two cells of one row", {{2, 0}, {2, 3}}, {}, "abde"},
        {"a whole row and a cell", {{4, 1}}, {0}, "bcd"},
        {"nothing selected", {}, {}, "abcde"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearList();
        fillLetters(5);
        for (auto [row, column] : c.cells)
            selectCell(row, column);
        for (int row : c.rows)
            selectRow(row);
        const int binds = grid.binds;
        editing.RemoveSelected(selection.get());
        EXPECT_EQ(order(), c.left);
        expectNumbered();
        EXPECT_EQ(grid.binds, binds + 1); // refilled
        EXPECT_EQ(list.BoundRecordset()->rowCount(), int(list.Entries().size()));
    }
}

TEST_F(EditingFixture, ClearCompletedWalksFromTheLastRowAndComparesExactly) {
    struct Case {
        QStringList statuses;
        QStringList left;
    };
    const Case cases[] = {
        {{"Complete", "Waiting", "Complete", "Complete", "ERROR"}, {"Waiting", "ERROR"}},
        {{"complete", "Complete ", "Complete"}, {"complete", "Complete "}},
        {{"Complete", "Complete"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.statuses.join(',').toStdString());
        clearList();
        fillWith(c.statuses);
        editing.ClearCompleted();
        QStringList left;
        for (const DownloadItem& item : list.Entries())
            left << item.Status;
        EXPECT_EQ(left, c.left);
        expectNumbered();
    }
}

TEST_F(EditingFixture, EmptyingTheListUnbindsAndTheNextFillAppliesTheLayoutAgain) {
    fillWith({"Complete", "Complete"});
    ASSERT_TRUE(list.LayoutApplied());
    editing.ClearCompleted();
    EXPECT_TRUE(list.IsDownloadListEmpty());
    EXPECT_FALSE(list.LayoutApplied());
    EXPECT_EQ(grid.bound, nullptr);
    EXPECT_EQ(list.BoundRecordset(), nullptr);

    // With no rows shown, both removals do nothing at all, not even a fill.
    const int binds = grid.binds, unbinds = grid.unbinds;
    editing.ClearCompleted();
    editing.RemoveSelected(selection.get());
    EXPECT_EQ(grid.binds + grid.unbinds, binds + unbinds);

    const int layouts = grid.layouts;
    fillLetters(1);
    EXPECT_EQ(grid.layouts, layouts + 1);
    EXPECT_TRUE(list.LayoutApplied());
    // Removing the last entry through the selection clears the flag as well.
    selectCell(0, 2);
    editing.RemoveSelected(selection.get());
    EXPECT_FALSE(list.LayoutApplied());
    EXPECT_EQ(grid.bound, nullptr);
}

TEST_F(EditingFixture, MovesTakeOnlyTheFirstSelectedCellAndAlwaysRefill) {
    struct Case {
        const char* name;
        std::vector<int> cellRows; // in the order selected
        std::vector<int> wholeRows;
        bool up;
        const char* order;
        const char* selected; // the entries with a selected cell afterwards, in the list's order
        int presses = 1;
    };
    const Case cases[] = {
        {"three cells, first in row 3", {2, 0, 1}, {}, true, "acbd", "acb"},
        {"three cells, first in row 2", {1, 3, 2}, {}, false, "acbd", "cbd"},
        {"first row up", {0}, {}, true, "abcd", "a"},
        {"last row down", {3}, {}, false, "abcd", "d"},
        {"a whole row is no cell", {}, {1}, false, "abcd", "b"},
        {"a whole row before a cell", {2}, {0}, true, "acbd", "ac"},
        {"nothing selected", {}, {}, true, "abcd", ""},
        // The selection follows the entries: another press moves the same entry on.
        {"a cell moved up twice", {3}, {}, true, "adbc", "d", 2},
        {"a cell moved down three times", {0}, {}, false, "bcda", "a", 3},
        {"two cells and a whole row, up twice", {2, 3}, {1}, true, "cabd", "cbd", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clearList();
        fillLetters(4);
        for (int row : c.wholeRows)
            selectRow(row);
        for (int row : c.cellRows)
            selectCell(row, 3);
        const int binds = grid.binds;
        for (int i = 0; i < c.presses; ++i)
            c.up ? editing.MoveSelectedUp(selection.get())
                 : editing.MoveSelectedDown(selection.get());
        EXPECT_EQ(order(), c.order);
        expectNumbered();
        EXPECT_EQ(grid.binds, binds + c.presses);
        QString selected;
        for (const DownloadItem& item : list.Entries()) {
            const int row = item.ID - 1;
            if (selection->isSelected(list.BoundRecordset()->index(row, 3)))
                selected += item.Video_URL;
        }
        EXPECT_EQ(selected, c.selected);
    }
}

TEST_F(EditingFixture, SelectAllRowsSelectsEveryRowWithoutAFill) {
    editing.SelectAllRows(nullptr); // never filled: nothing to select, nothing happens
    fillLetters(3);
    selectCell(1, 2);
    const int binds = grid.binds;
    editing.SelectAllRows(selection.get());
    for (int row = 0; row < 3; ++row)
        EXPECT_TRUE(selection->isRowSelected(row, {})) << row;
    EXPECT_EQ(grid.binds, binds);
    EXPECT_EQ(order(), "abc");

    // A selection model of a copy the grid does not show is not touched.
    DownloadTableModel other;
    QItemSelectionModel stale(&other);
    editing.SelectAllRows(&stale);
    EXPECT_FALSE(stale.hasSelection());
}

TEST_F(EditingFixture, RenameCleansTheNameAndRefusesWhatIsLeftUnusable) {
    struct Case {
        QString typed;
        bool taken;
        QString shown;
    };
    const Case cases[] = {
        {"clip.flv", true, "clip.flv"},
        {"my: clip?<1>.flv", true, "my clip1.flv"},
        {"???", false, "f"},
        {"", false, "f"},
        {"Enter File Name", false, "f"},
        {" . ", false, "f"},
        {"a&b|c", true, "abc"},
    };
    fillLetters(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        list.SetFileName(list.Entries()[1].Key, QStringLiteral("f"));
        list.BoundRecordset()->setCellText(1, DownloadTableModel::ColFileName, "f");
        const int binds = grid.binds;
        DownloadTableModel& copy = *list.BoundRecordset();
        EXPECT_EQ(copy.setData(copy.index(1, DownloadTableModel::ColFileName), c.typed), c.taken);
        EXPECT_EQ(copy.cellText(1, DownloadTableModel::ColFileName), c.shown);
        EXPECT_EQ(list.Entries()[1].FileName, c.shown);
        EXPECT_EQ(grid.binds, binds); // no fill
        if (c.taken) {
            EXPECT_EQ(editing.PendingFileName, c.shown);
        }
    }
    // Only the file name of that entry changed.
    EXPECT_EQ(list.Entries()[1].Video_URL, "b");
    EXPECT_EQ(list.Entries()[1].Status, "Waiting");
    EXPECT_EQ(list.Entries()[0].FileName, "f");
    EXPECT_EQ(list.Entries()[2].FileName, "f");
    // The last accepted name stays pending after a refusal.
    EXPECT_EQ(editing.PendingFileName, "abc");
}

TEST_F(EditingFixture, OnlyFileNameCellsTakeEdits) {
    fillLetters(1);
    DownloadTableModel& copy = *list.BoundRecordset();
    for (int column = 0; column < DownloadTableModel::ColumnCount; ++column) {
        const QModelIndex cell = copy.index(0, column);
        const bool editable = column == DownloadTableModel::ColFileName;
        EXPECT_EQ(bool(copy.flags(cell) & Qt::ItemIsEditable), editable) << column;
        EXPECT_EQ(copy.setData(cell, QStringLiteral("x.flv")), editable) << column;
    }
    EXPECT_EQ(list.Entries()[0].Status, "Waiting");
}

// A finished entry's rename takes its file along: in its folder, to the typed name or the
// first free numbered one, never over anything. Anything but its own file where the list
// says it is refuses the edit with the reason, and changes nothing.
TEST_F(EditingFixture, AFinishedEntrysRenameRenamesItsFileOrIsRefused) {
    QTemporaryDir dir, outside;
    const QString folder = dir.filePath("videos");
    const QString elsewhere = outside.filePath("mine.txt");
    const QString notThere = "The file {folder}/f.flv is no longer there.";
    const QString aLink =
        "{folder}/f.flv is no longer the file that was downloaded; it is not renamed.";
    const QString unsaved = "f.flv can't be renamed: the list does not say where its file was "
                            "saved.";
    const struct {
        const char* what;
        QStringList files; // "name" or "name -> target" (a link); "f.flv" is the entry's
        QString typed;
        QString shown; // the cell and the entry; empty: refused, "f.flv" stays
        QStringList after;
        QString said;      // {folder} in it stands for the folder
        bool saved = true; // the entry's saved path is the folder's f.flv, else empty
    } cases[] = {
        {"renamed, the name cleaned",
         {"f.flv"},
         "my: clip.flv",
         "my clip.flv",
         {"my clip.flv"},
         ""},
        {"a name taken twice",
         {"f.flv", "g.flv", "g (2).flv"},
         "g.flv",
         "g (3).flv",
         {"g (2).flv", "g (3).flv", "g.flv"},
         ""},
        {"a link at the new name is a name taken",
         {"f.flv", "g.flv -> " + elsewhere},
         "g.flv",
         "g (2).flv",
         {"g (2).flv", "g.flv"},
         ""},
        {"its file gone", {}, "g.flv", "", {}, notThere},
        {"a link in its file's place", {"f.flv -> " + elsewhere}, "g.flv", "", {"f.flv"}, aLink},
        {"no saved path", {"f.flv"}, "g.flv", "", {"f.flv"}, unsaved, false},
    };
    QStringList said;
    editing.SetRenameFailedListener([&](const QString& message) { said << message; });
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        said.clear();
        QDir(folder).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile(elsewhere).open(QIODevice::WriteOnly);
        for (const QString& file : c.files) {
            const QString name = file.section(" -> ", 0, 0), path = QDir(folder).filePath(name);
            if (file.contains(" -> "))
                ASSERT_TRUE(QFile::link(file.section(" -> ", 1), path));
            else {
                QFile f(path);
                ASSERT_TRUE(f.open(QIODevice::WriteOnly));
                f.write(name.toUtf8());
            }
        }
        clearList();
        fillLetters(3);
        const quint64 key = list.Entries()[1].Key;
        list.SetFileName(key, "f.flv");
        const QString saved = c.saved ? folder + "/f.flv" : QString();
        list.SetSavedPath(key, saved);
        list.SetState(key, EntryState::Complete);
        ASSERT_TRUE(list.FillDownloadList());
        DownloadTableModel& copy = *list.BoundRecordset();
        const QModelIndex cell = copy.index(1, DownloadTableModel::ColFileName);

        EXPECT_EQ(copy.setData(cell, c.typed), !c.shown.isEmpty());
        const QString shown = c.shown.isEmpty() ? "f.flv" : c.shown;
        EXPECT_EQ(copy.cellText(1, DownloadTableModel::ColFileName), shown);
        EXPECT_EQ(list.Entries()[1].FileName, shown);
        EXPECT_EQ(list.Entries()[1].SavedPath, c.shown.isEmpty() ? saved : folder + "/" + shown);
        QStringList after =
            QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        EXPECT_EQ(after, c.after);
        if (!c.shown.isEmpty()) { // the file that moved is the entry's own
            QFile moved(QDir(folder).filePath(c.shown));
            EXPECT_TRUE(moved.open(QIODevice::ReadOnly));
            EXPECT_EQ(moved.readAll(), "f.flv");
        }
        EXPECT_EQ(said.join('\n'), QString(c.said).replace("{folder}", folder));
        QFile target(elsewhere);
        EXPECT_TRUE(target.exists()); // what a link leads to is never touched
    }
}
