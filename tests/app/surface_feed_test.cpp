// The window's drawing of the core's typed changes on the surface's variables: each change
// writes its variables in the order the surface expects, and nothing else.
#include "app/SurfaceFeed.h"
#include "common/ProgramSettings.h"
#include "common/RunState.h"
#include "list/modMain.h"
#include "support/QtPrint.h"

#include <gtest/gtest.h>

#include <functional>

using namespace orvello;

namespace {

struct RecordingSurface : UiSurface {
    QStringList writes; // "name=value", in order
    void SetVariable(const QString& name, const QString& value) override {
        writes << name + QLatin1Char('=') + value;
    }
    QString GetVariable(const QString&) override { return {}; }
};

} // namespace

TEST(SurfaceFeed, EachTypedChangeWritesItsVariablesInOrder) {
    RunState run;
    modMain list{run, nullptr, nullptr};
    list.AddUrlToList(QStringLiteral("http://www.putfile.com/v/1"));
    const quint64 key = list.Entries().at(0).Key;
    list.SetTransferNote(key, QStringLiteral("1.2 MB/s, 35 s left"));
    RecordingSurface surface;
    UiVariables ui{&surface};
    SurfaceFeed feed{ui, list};
    ProgramSettings settings;
    settings.bMonitorClipboard = false;
    settings.sDownloadDir = QStringLiteral("/srv/videos");

    const struct {
        const char* change;
        std::function<void()> apply;
        QStringList writes;
    } rows[] = {
        {"a run begins",
         [&] { feed.ShowControls(RunControls::Running); },
         {"_root.downloadBtn=0", "_root.startDownload=0", "_root.downloadTab=0"}},
        {"the user stops it",
         [&] { feed.ShowControls(RunControls::Stopped); },
         {"_root.downloadBtn=1", "_root.startDownload=1", "_root.downloadTab=1"}},
        {"it ends by itself",
         [&] { feed.ShowControls(RunControls::Ended); },
         {"_root.startDownload=1", "_root.downloadBtn=1", "_root.downloadTab=1"}},
        {"nothing to start",
         [&] { feed.ShowControls(RunControls::NothingToDo); },
         {"_root.startDownload=1"}},
        {"started on the About page",
         [&] {
             ui.sCurrentTab = QStringLiteral("About");
             feed.ShowRunStarted();
         },
         {"_root.downloadBtnTab=1"}},
        {"started on the download page",
         [&] {
             ui.sCurrentTab = QStringLiteral("Download");
             feed.ShowRunStarted();
         },
         {}},
        {"one video: its own note",
         [&] { feed.ShowSpeed(1, 1.2e6, key); },
         {"_root.downloadSpeed=1.2 MB/s, 35 s left"}},
        {"one video, its entry gone",
         [&] { feed.ShowSpeed(1, 1.2e6, key + 1); },
         {"_root.downloadSpeed="}},
        {"three videos together",
         [&] { feed.ShowSpeed(3, 3 * 1048576.0, 0); },
         {"_root.downloadSpeed=3 downloads, 3 MB/s"}},
        {"none any more", [&] { feed.ShowSpeed(0, 0, 0); }, {"_root.downloadSpeed="}},
        {"an address taken",
         [&] { feed.ShowAddress(QStringLiteral("http://putfile.com/v/2")); },
         {"_root.video_url=http://putfile.com/v/2"}},
        {"the settings",
         [&] { feed.ShowSettings(settings); },
         {"_root.autoToDownloadList_CB=0", "_root.Download_CB=1", "_root.Convert_CB=1",
          "_root.download_dir=/srv/videos"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.change);
        surface.writes.clear();
        row.apply();
        EXPECT_EQ(surface.writes, row.writes);
    }
    EXPECT_EQ(SurfaceFeed::Caption(true), "Stop Downloading");
    EXPECT_EQ(SurfaceFeed::Caption(false), "Start Downloading");
}
