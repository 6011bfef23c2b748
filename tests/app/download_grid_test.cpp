// The download grid on the offscreen platform, bound by the real list: its layout, editing,
// selection models, the rename through the cell editor, the wheel steps and what it tells
// accessibility clients.
#include "app/DownloadGrid.h"
#include "app/FramePacer.h"
#include "list/ListEditing.h"
#include "list/modMain.h"
#include "support/PaintCounter.h"
#include "support/QtPrint.h"
#include "support/ScriptedPrompter.h"

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPointer>
#include <QScrollBar>
#include <QTest>
#include <QToolTip>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <functional>

using namespace orvello;
using orvello::test::ScriptedPrompter;

namespace {

void runDeferredDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void pressKey(QWidget* target, int key, const QString& text = {}) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(target, &press);
}

// What Qt prints while it lives.
struct QtMessages {
    QtMessages() { previous = qInstallMessageHandler(&QtMessages::handle); }
    ~QtMessages() { qInstallMessageHandler(previous); }
    static void handle(QtMsgType, const QMessageLogContext&, const QString& text) { lines << text; }
    static inline QStringList lines;
    QtMessageHandler previous;
};

struct GridFixture : ::testing::Test {
    RunState run;
    ScriptedPrompter prompter;
    QWidget elsewhere; // another window
    QWidget window;
    DownloadGrid* grid = new DownloadGrid(&window);
    QLineEdit* other = new QLineEdit(&window);
    modMain list{run, grid, &prompter};
    ListEditing editing{list};

    GridFixture() {
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(grid);
        layout->addWidget(other);
        window.resize(700, 240);
        list.FormatDownloadGrid(true); // as the window does at start-up
        window.show();
    }
    void add(int n, const QString& status = QStringLiteral("Waiting")) {
        for (int i = 0; i < n; ++i) {
            QString s = status, size;
            const int id = int(list.Entries().size()) + 1;
            list.AddToDownloadList("http://www.youtube.com/watch?v=" + QString::number(id),
                                   QStringLiteral("clip.flv"), s, size);
        }
        ASSERT_TRUE(list.FillDownloadList());
        QCoreApplication::processEvents();
    }
    void refill(int n) {
        if (!list.IsDownloadListEmpty())
            empty();
        add(n);
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    QModelIndex cell(int row, int column = DownloadTableModel::ColFileName) const {
        return grid->model()->index(row, column);
    }
    // Real pointer and key events, delivered through the window as the window system's are.
    void mouse(QTest::MouseAction action, int row) {
        const QPoint at = grid->visualRect(cell(row)).center();
        QTest::mouseEvent(action, window.windowHandle(), Qt::LeftButton, {},
                          grid->viewport()->mapTo(&window, at));
    }
    void key(Qt::Key k) { QTest::keyClick(window.windowHandle(), k); }
    void type(const QString& text) {
        for (QChar c : text)
            QTest::keyClick(window.windowHandle(), c.toLatin1());
    }
    QLineEdit* editorAt(int row) const {
        return qobject_cast<QLineEdit*>(grid->indexWidget(cell(row)));
    }
    int openEditors() const {
        int open = 0;
        for (const QLineEdit* e : grid->viewport()->findChildren<QLineEdit*>())
            open += e->isVisible();
        return open;
    }
    void empty() {
        editing.SelectAllRows(grid->selectionModel());
        editing.RemoveSelected(grid->selectionModel());
        ASSERT_TRUE(list.IsDownloadListEmpty());
    }
    void expectLayout() {
        const char* captions[] = {" ", "Video URL", "Local File Name", "Download Status",
                                  "File Size"};
        const int widths[] = {20, 253, 120, 113, 50};
        ASSERT_NE(grid->model(), nullptr);
        for (int c = 0; c < 5; ++c) {
            EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), captions[c]) << c;
            EXPECT_EQ(grid->columnWidth(c), widths[c]) << c;
        }
    }
};

} // namespace

TEST_F(GridFixture, LayoutComesWithTheFirstEntriesAndAgainAfterTheListWasEmptied) {
    EXPECT_EQ(grid->objectName(), "DownloadGrid");
    EXPECT_EQ(grid->model(), nullptr); // start-up: bound to nothing
    add(2);
    expectLayout();

    // Later fills only renew the binding: what the user changed stays.
    grid->setColumnWidth(1, 400);
    add(1);
    EXPECT_EQ(grid->columnWidth(1), 400);
    EXPECT_EQ(grid->model()->headerData(1, Qt::Horizontal).toString(), "Video URL");

    empty();
    EXPECT_EQ(grid->model(), nullptr);
    EXPECT_FALSE(list.LayoutApplied());
    add(1);
    expectLayout();
    EXPECT_TRUE(list.LayoutApplied());
}

TEST_F(GridFixture, OnlyLocalFileNameCellsOpenAnEditorOnTypingF2ReturnOrEnter) {
    add(2);
    grid->setFocus();
    for (int column = 0; column < 5; ++column) {
        for (auto [key, text] : {std::pair{Qt::Key_X, "x"},
                                 {Qt::Key_F2, ""},
                                 {Qt::Key_Return, ""},
                                 {Qt::Key_Enter, ""}}) {
            SCOPED_TRACE(testing::Message() << column << " " << key);
            const QModelIndex cell = grid->model()->index(1, column);
            grid->setCurrentIndex(cell);
            pressKey(grid, key, QString::fromLatin1(text));
            auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(cell));
            EXPECT_EQ(editor != nullptr, column == 2);
            if (editor) {
                // Return and Enter open the editor and do not commit it.
                EXPECT_EQ(editor->text(), key == Qt::Key_X ? "x" : "clip.flv");
                pressKey(editor, Qt::Key_Escape);
            }
            QCoreApplication::processEvents();
            EXPECT_EQ(grid->indexWidget(cell), nullptr);
        }
    }
    EXPECT_EQ(list.Entries()[1].FileName, "clip.flv"); // every edit was abandoned
}

TEST_F(GridFixture, BindingsLeaveNoSelectionModelsBehind) {
    // Many fills of an empty list: the unbound grid is not bound again.
    const QItemSelectionModel* unbound = grid->selectionModel();
    for (int i = 0; i < 1000; ++i)
        list.FillDownloadList();
    EXPECT_EQ(grid->selectionModel(), unbound);

    QPointer<QItemSelectionModel> replaced = grid->selectionModel();
    for (int i = 0; i < 50; ++i) {
        add(1);
        empty();
        runDeferredDeletes();
    }
    add(1);
    runDeferredDeletes();
    EXPECT_TRUE(replaced.isNull());
    // Only the one in use is left, of the table's and the headers' own.
    EXPECT_EQ(grid->findChildren<QItemSelectionModel*>().size(), 1);
    EXPECT_EQ(grid->horizontalHeader()->selectionModel(), grid->selectionModel());
}

TEST_F(GridFixture, RenameThroughTheCellEditorSurvivesAFillFromTheCopysOwnSignal) {
    add(3);
    QPointer<DownloadTableModel> copy = list.BoundRecordset();
    // A fill that runs from inside the edit's own model signal writes the copy the view
    // and the edit are still working on.
    QObject::connect(
        copy, &QAbstractItemModel::dataChanged, copy, [&] { list.FillDownloadList(); },
        Qt::SingleShotConnection);

    const QModelIndex cell = grid->model()->index(1, 2);
    grid->setFocus();
    grid->setCurrentIndex(cell);
    grid->edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(cell));
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("my: clip?.flv"));
    pressKey(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits the editor from the loop

    EXPECT_EQ(list.Entries()[1].FileName, "my clip.flv");
    EXPECT_EQ(list.Entries()[0].FileName, "clip.flv");
    EXPECT_EQ(grid->model(), copy.data());
    ASSERT_TRUE(list.FillDownloadList());
    EXPECT_EQ(list.BoundRecordset()->cellText(1, DownloadTableModel::ColFileName), "my clip.flv");
}

TEST_F(GridFixture, FillsThatKeepEveryRowOnItsEntryLeaveTheOpenEditorAlone) {
    add(3);
    const QModelIndex cell = grid->model()->index(1, DownloadTableModel::ColFileName);
    grid->setFocus();
    grid->setCurrentIndex(cell);
    grid->edit(cell);
    auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(cell));
    ASSERT_NE(editor, nullptr);
    editor->selectAll();
    for (QChar c : QStringLiteral("typed"))
        pressKey(editor, Qt::Key_unknown, c);
    ASSERT_EQ(editor->text(), "typed");
    // Progress of the run and an added entry: the editor stays with what was typed.
    list.SetState(list.Entries()[1].Key, EntryState::Preparing, 40);
    list.SetFileName(list.Entries()[1].Key, QStringLiteral("resolved.flv"));
    list.AddUrlToList(QStringLiteral("http://www.youtube.com/watch?v=new"));
    QCoreApplication::processEvents();
    ASSERT_EQ(grid->indexWidget(cell), editor);
    EXPECT_EQ(editor->text(), "typed");
    EXPECT_EQ(grid->model()->rowCount(), 4);
}

TEST_F(GridFixture, APacedWindowDrawsABurstOnceAFrameAndAlwaysDrawsItsEnd) {
    new FramePacer(&window);
    add(1);
    orvello::test::PaintCounter counter;
    grid->viewport()->installEventFilter(&counter);
    QElapsedTimer elapsed;
    elapsed.start();
    for (int i = 0; i < 400; ++i) {
        list.SetState(list.Entries()[0].Key, EntryState::Transferring, i);
        list.FillDownloadList();
        QCoreApplication::processEvents();
    }
    const qint64 burstMs = elapsed.elapsed();
    EXPECT_LE(counter.paints, burstMs / FramePacer::kFrame.count() + 2);
    // The last change is drawn a frame later, with no further event to ask for it.
    const long long paintsAfterBurst = counter.paints;
    QElapsedTimer wait;
    wait.start();
    while (counter.paints == paintsAfterBurst && wait.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    EXPECT_GT(counter.paints, paintsAfterBurst);
}

TEST_F(GridFixture, WheelStepsScrollOneRowOnlyWhileTheGridIsTheActiveControl) {
    add(60);
    QScrollBar* bar = grid->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 3);
    struct Step {
        QWidget* focus;
        bool down;
        int value;
    };
    const Step steps[] = {
        {grid, true, 1},  {grid, true, 2},   {grid, false, 1},
        {other, true, 1}, {other, false, 1}, {grid, false, 0},
    };
    for (const Step& s : steps) {
        s.focus->setFocus();
        s.down ? grid->ScrollDown() : grid->ScrollUp();
        EXPECT_EQ(bar->value(), s.value);
        EXPECT_EQ(grid->rowAt(0), s.value); // one row per step
    }
}

TEST_F(GridFixture, AccessibilityReadsCaptionsAndCellTexts) {
    add(2);
    list.BoundRecordset()->setCellText(0, DownloadTableModel::ColStatus, "45");
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(grid);
    ASSERT_NE(table, nullptr);
    QAccessibleTableInterface* cells = table->tableInterface();
    ASSERT_NE(cells, nullptr);
    EXPECT_EQ(cells->rowCount(), 2);
    EXPECT_EQ(cells->columnCount(), 5);
    const char* captions[] = {" ", "Video URL", "Local File Name", "Download Status", "File Size"};
    const char* texts[] = {"1", "http://www.youtube.com/watch?v=1", "clip.flv", "45", "????"};
    for (int c = 0; c < 5; ++c) {
        QAccessibleInterface* cell = cells->cellAt(0, c);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->text(QAccessible::Name), texts[c]) << c;
        EXPECT_EQ(cells->columnDescription(c), captions[c]) << c;
    }
    // The header cells among the table's children (the table owns those).
    QStringList headers;
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface* child = table->child(i);
        if (child && child->role() == QAccessible::ColumnHeader)
            headers << child->text(QAccessible::Name);
    }
    EXPECT_EQ(headers,
              QStringList({" ", "Video URL", "Local File Name", "Download Status", "File Size"}));
}

TEST_F(GridFixture, AClickOnASelectedNameEditsItLaterOnlyWhileTheGridKeepsTheKeyboard) {
    const struct {
        const char* name;
        std::function<void(GridFixture&)> meanwhile;
        bool opens;
        bool intoOther; // later typing reaches the other field
    } cases[] = {
        {"nothing", [](GridFixture&) {}, true, false},
        {"a click into the other field",
         [](GridFixture& f) { QTest::mouseClick(f.other, Qt::LeftButton); }, false, true},
        {"another window activated",
         [](GridFixture& f) {
             f.elsewhere.show();
             f.elsewhere.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&f.elsewhere));
         },
         false, false},
        {"a key moving the current cell", [](GridFixture& f) { f.key(Qt::Key_Down); }, false,
         false},
        {"another cell made current", [](GridFixture& f) { f.grid->setCurrentIndex(f.cell(2)); },
         false, false},
        {"the clicked entry moved",
         [](GridFixture& f) {
             f.list.MoveItemDown(2);
             f.list.FillDownloadList();
         },
         false, false},
        {"a double click, then Escape",
         [](GridFixture& f) {
             f.mouse(QTest::MouseDClick, 1);
             ASSERT_EQ(f.openEditors(), 1); // at once
             f.key(Qt::Key_Escape);
         },
         false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        refill(3);
        QtMessages::lines.clear();
        QtMessages messages;
        mouse(QTest::MouseClick, 1); // selects the cell
        ASSERT_TRUE(grid->hasFocus());
        mouse(QTest::MouseClick, 1);
        EXPECT_EQ(openEditors(), 0); // not before the interval
        c.meanwhile(*this);
        QTest::qWait(QApplication::doubleClickInterval() + 200);
        EXPECT_EQ(openEditors(), c.opens ? 1 : 0);
        if (c.opens) {
            EXPECT_EQ(QApplication::focusWidget(), editorAt(1));
            type("new name.flv");
            key(Qt::Key_Return);
            QCoreApplication::processEvents();
        } else if (c.intoOther) {
            other->clear();
            type("http://typed");
            EXPECT_EQ(other->text(), "http://typed");
        }
        for (const DownloadItem& e : list.Entries())
            EXPECT_EQ(e.FileName, c.opens && e.ID == 2 ? "new name.flv" : "clip.flv") << e.ID;
        EXPECT_TRUE(messages.lines.filter("edit").isEmpty())
            << messages.lines.join('\n').toStdString();
    }
    elsewhere.hide();
}

TEST_F(GridFixture, AnOpenEditorStaysWithItsEntryThroughFillsAndEndsWithIt) {
    using Change = std::function<void(modMain&)>;
    const auto refilled = [](Change change) {
        return [change](modMain& l) {
            change(l);
            l.FillDownloadList();
        };
    };
    const struct {
        const char* name;
        int row;
        bool typed;
        Change change;
        int rowAfter; // -1: the edit is dropped
    } cases[] = {
        {"its entry moved up", 1, true, refilled([](modMain& l) { l.MoveItemUp(2); }), 0},
        {"its entry moved down", 1, true, refilled([](modMain& l) { l.MoveItemDown(2); }), 2},
        {"an entry before it removed", 1, true,
         refilled([](modMain& l) { l.RemoveFromDownloadList(1); }), 0},
        {"its entry moved, not refilled yet", 1, true, [](modMain& l) { l.MoveItemUp(2); }, 1},
        {"untouched, its entry renamed and moved", 1, false, refilled([](modMain& l) {
             l.SetFileName(l.Entries()[1].Key, "resolved.flv");
             l.MoveItemUp(2);
         }),
         0},
        {"its entry removed", 1, true, refilled([](modMain& l) { l.RemoveFromDownloadList(2); }),
         -1},
        {"its entry removed from the end", 3, true,
         refilled([](modMain& l) { l.RemoveFromDownloadList(4); }), -1},
        {"every entry removed", 1, true, refilled([](modMain& l) {
             l.RemoveFromDownloadList(QSet<int16_t>{1, 2, 3, 4});
         }),
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        refill(4);
        const quint64 entry = list.Entries()[c.row].Key;
        grid->setCurrentIndex(cell(c.row));
        key(Qt::Key_Return);
        ASSERT_NE(editorAt(c.row), nullptr);
        if (c.typed) {
            type("renamed.flv");
            for (Qt::Key k : {Qt::Key_Home, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right})
                key(k);
        }
        c.change(list);
        QCoreApplication::processEvents();
        const QString name = c.rowAfter < 0 ? "clip.flv" : c.typed ? "renamed.flv" : "resolved.flv";
        if (c.rowAfter >= 0) {
            QLineEdit* editor = editorAt(c.rowAfter);
            ASSERT_NE(editor, nullptr);
            EXPECT_EQ(editor->text(), name);
            EXPECT_EQ(editor->isModified(), c.typed);
            EXPECT_EQ(editor->cursorPosition(), c.typed ? 3 : name.size());
            EXPECT_EQ(QApplication::focusWidget(), editor);
            key(Qt::Key_Return);
            QCoreApplication::processEvents();
        } else {
            EXPECT_EQ(QApplication::focusWidget(), grid); // the keyboard stays in the grid
        }
        EXPECT_EQ(openEditors(), 0);
        for (const DownloadItem& e : list.Entries())
            EXPECT_EQ(e.FileName, e.Key == entry ? name : "clip.flv") << e.ID;
    }
}

// What the core notes about an entry (why it failed, its page address when that was replaced)
// is the tooltip and the accessible description of every cell of its row, and of no other.
TEST_F(GridFixture, EveryCellOfARowShowsItsNoteAsTooltipAndAccessibleDescription) {
    const struct {
        const char* reason;
        const char* replacedBy; // the address's message
        QString note;
    } cases[] = {
        {"", "", ""},
        {"The server did not answer", "", "The server did not answer"},
        {"No video", "Process failed.", "No video\nPage: http://www.youtube.com/watch?v=2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        refill(3);
        const quint64 key = list.Entries()[1].Key;
        list.SetReason(key, c.reason);
        if (*c.replacedBy)
            list.SetVideoUrl(key, c.replacedBy);
        ASSERT_TRUE(list.FillDownloadList());
        // Offscreen, accessibility is never active, so the view tells its accessible table
        // nothing of the refill: its old cells are dropped here, as a reset drops them while a
        // screen reader listens.
        QAccessible::deleteAccessibleInterface(
            QAccessible::uniqueId(QAccessible::queryAccessibleInterface(grid)));
        QAccessibleTableInterface* table =
            QAccessible::queryAccessibleInterface(grid)->tableInterface();
        for (int column = 0; column < DownloadTableModel::ColumnCount; ++column) {
            QToolTip::hideText();
            const QPoint at = grid->visualRect(cell(1, column)).center();
            QHelpEvent help(QEvent::ToolTip, at, grid->viewport()->mapToGlobal(at));
            QCoreApplication::sendEvent(grid->viewport(), &help);
            EXPECT_EQ(QToolTip::isVisible() ? QToolTip::text() : QString(), c.note) << column;
            EXPECT_EQ(table->cellAt(1, column)->text(QAccessible::Description), c.note) << column;
            EXPECT_EQ(table->cellAt(0, column)->text(QAccessible::Description), "") << column;
        }
    }
    QToolTip::hideText();
}
