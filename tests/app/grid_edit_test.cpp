// Editing a file name in the real window: a click on a selected name cell, then, before the
// cell's editor is due, a click into the surface's address field. Real pointer and key events
// through the window, on the offscreen platform.
#include "app/DownloadGrid.h"
#include "app/frmMain.h"
#include "list/modMain.h"
#include "support/QtPrint.h"
#include "support/ScriptedPrompter.h"

#include <QApplication>
#include <QLineEdit>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace orvello;

namespace {

QStringList qtMessages;
void recordMessage(QtMsgType, const QMessageLogContext&, const QString& text) {
    qtMessages << text;
}

} // namespace

TEST(GridEdit, TheClickedNameIsEditedOnlyWhileTheGridKeepsTheKeyboard) {
    const QString typedAddress = QStringLiteral("http://www.youtube.com/watch?v=typed");
    for (const bool toAddressField : {true, false}) {
        SCOPED_TRACE(toAddressField ? "address field clicked" : "grid keeps the keyboard");
        QTemporaryDir dir;
        test::ScriptedPrompter prompter;
        frmMain::Options o;
        o.surfacePath = QStringLiteral(ORVELLO_SURFACE);
        o.store = RegRoot{dir.filePath("store.ini")};
        o.prompter = &prompter;
        o.endProcess = [] {};
        o.openUrl = [](const QUrl&) {};
        frmMain w(o);
        for (int i = 1; i <= 3; ++i)
            w.list().AddUrlToList(QStringLiteral("http://www.youtube.com/watch?v=%1").arg(i));
        const QString name = w.list().DownloadList[1].FileName;
        w.show();
        w.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QMetaObject::invokeMethod(w.Flash->rootObject(), "fsCommand",
                                  Q_ARG(QString, "IDC_FS_Download"), Q_ARG(QString, ""));
        DownloadGrid* grid = w.DownloadGrid;
        ASSERT_TRUE(grid->isVisible());
        const QModelIndex cell = grid->model()->index(1, DownloadTableModel::ColFileName);
        const QPoint atCell = grid->viewport()->mapTo(&w, grid->visualRect(cell).center());
        auto* input = w.Flash->rootObject()->findChild<QQuickItem*>("urlInput");
        ASSERT_NE(input, nullptr);
        const QPoint atInput = w.Flash->mapTo(
            &w, input->mapToScene({input->width() / 2, input->height() / 2}).toPoint());

        qtMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(&recordMessage);
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, atCell);
        QTest::qWait(800);
        QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, atCell);
        QTest::qWait(150);
        if (toAddressField)
            QTest::mouseClick(w.windowHandle(), Qt::LeftButton, {}, atInput);
        QTest::qWait(QApplication::doubleClickInterval());
        auto* editor = qobject_cast<QLineEdit*>(grid->indexWidget(cell));
        EXPECT_EQ(editor != nullptr, !toAddressField);
        EXPECT_EQ(QApplication::focusWidget(),
                  toAddressField ? static_cast<QWidget*>(w.Flash) : editor);
        const QString typed = toAddressField ? typedAddress : QStringLiteral("mine.flv");
        for (QChar c : typed)
            QTest::keyClick(w.windowHandle(), c.toLatin1());
        QTest::keyClick(w.windowHandle(), Qt::Key_Return);
        QCoreApplication::processEvents();
        qInstallMessageHandler(previous);

        const std::vector<DownloadItem>& entries = w.list().DownloadList;
        ASSERT_EQ(entries.size(), toAddressField ? 4u : 3u);
        if (toAddressField) {
            EXPECT_EQ(entries[3].Video_URL, typedAddress);
        }
        for (const DownloadItem& e : entries)
            EXPECT_EQ(e.FileName, e.ID == 2 && !toAddressField ? "mine.flv" : name) << e.ID;
        EXPECT_TRUE(qtMessages.filter("edit").isEmpty()) << qtMessages.join('\n').toStdString();
    }
}
