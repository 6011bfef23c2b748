// The shell and its UI surface keep their contract: the surface's command signal reaches
// the list, and named variables go both ways.
#include "app/frmMain.h"
#include "list/DownloadTableModel.h"
#include "list/modMain.h"

#include <QApplication>
#include <QQuickItem>
#include <QQuickWidget>
#include <QTableView>
#include <gtest/gtest.h>

using orvello::frmMain;

namespace {

void sendCommand(frmMain& w, const QString& command) {
    QMetaObject::invokeMethod(w.Flash->rootObject(), "fsCommand", Q_ARG(QString, command),
                              Q_ARG(QString, QString()));
}

} // namespace

TEST(Shell, SurfaceLoadsAndItsVariablesRoundTrip) {
    frmMain w(QStringLiteral(ORVELLO_SURFACE));
    ASSERT_EQ(w.Flash->status(), QQuickWidget::Ready);
    ASSERT_NE(w.Flash->rootObject(), nullptr);
    w.SetUiVariable("_root.download_dir", "/tmp/videos");
    EXPECT_EQ(w.GetUiVariable("_root.download_dir"), "/tmp/videos");
    EXPECT_EQ(w.GetUiVariable("_root.never_set"), "");
    EXPECT_EQ(w.windowTitle(), "Orvello");
}

TEST(Shell, AddCommandPutsTheSurfacesAddressIntoTheGrid) {
    frmMain w(QStringLiteral(ORVELLO_SURFACE));
    EXPECT_EQ(w.DownloadGrid->model(), nullptr); // unbound until the first entry
    w.SetUiVariable("_root.video_url", "   ");
    sendCommand(w, "IDC_FS_addDownloadURL"); // blank addresses are skipped
    EXPECT_TRUE(w.list().IsDownloadListEmpty());

    w.SetUiVariable("_root.video_url", "http://www.youtube.com/watch?v=abc");
    sendCommand(w, "IDC_FS_addDownloadURL");
    ASSERT_EQ(w.list().DownloadList.size(), 1u);
    auto* model = qobject_cast<orvello::DownloadTableModel*>(w.DownloadGrid->model());
    ASSERT_NE(model, nullptr);
    EXPECT_EQ(model->cellText(0, orvello::DownloadTableModel::ColStatus), "Waiting");
}
