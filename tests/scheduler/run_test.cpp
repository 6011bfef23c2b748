// Whole runs: entries resolved and downloaded one after another into the download folder,
// with the start and stop operation, its message boxes, the UI variables and captions.
#include "Machine.h"
#include "support/QtPrint.h"
#include "support/http/ScriptServer.h"
#include "support/nginx/NginxServer.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;

namespace {

class Run : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Machine m{dir.path()};
    ScriptServer server;
    QStringList menuCaptions;

    void SetUp() override {
        QObject::connect(&m.s.startStop, &StartStop::mnuDownloadCaptionChanged,
                         [this](const QString& c) { menuCaptions << c; });
    }
    QString Saved(const QString& name) const { return m.Saved(name); }
    void Click() { m.Click(); }
    QString ServeVideo(const QString& name, const Reply& head, const Reply& get) {
        return test::ServeVideo(server, name, head, get);
    }
    // Runs `action` once, as the file of the entry whose address is `url` comes in.
    void DuringTransferOf(const QString& url, std::function<void()> action) {
        m.DuringTransferOf(url, std::move(action));
    }
};

} // namespace

TEST_F(Run, ThreeSitesFromNginxCompleteByteForByteAndFinishedEntriesAreLeftAlone) {
    NginxServer nginx;
    ASSERT_TRUE(nginx.start()) << nginx.errorString().toStdString();
    nginx.createFile("media/clip1.flv", 300000, 1);
    nginx.createFile("media/clip2.flv", 5000, 2);
    nginx.createFile("media/show3.flv", 70000, 3);
    nginx.createFile("putfile.com/v/1", PutFilePage(nginx.url("/media/clip1.flv")));
    nginx.createFile("dailymotion.com/video/x2",
                     "so.addVariable(\"url\", \"" +
                         QUrl::toPercentEncoding(nginx.url("/media/clip2.flv")) + "\");");
    nginx.createFile("angryalien.com/a/3.html",
                     "<embed src=\"" + nginx.url("/media/show3.flv").toLatin1() + "\" w=1>");

    m.Add(nginx.url("/putfile.com/v/1"));
    m.Add(server.url("/blip.tv/file/9"));
    m.Add(nginx.url("/dailymotion.com/video/x2"));
    m.Add(server.url("/ifilm.com/x"));
    m.Add(nginx.url("/angryalien.com/a/3.html"));
    m.SetState(1, EntryState::Complete);
    m.SetState(3, EntryState::Error);
    // A longer, read-only file of the same name that the program did not make: it stays, and
    // the download takes the next free name.
    m.SetState(4, EntryState::Cancelled);
    ASSERT_TRUE(QDir().mkpath(m.settings.sDownloadDir));
    QFile old(Saved("show3.flv"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(100000, 'x'));
    old.close();
    QFile::setPermissions(Saved("show3.flv"), QFileDevice::ReadOwner);

    m.ui.sCurrentTab = "About";
    QStringList seenWhileRunning;
    m.list.AddObserver([&](const ListChange& change) {
        const DownloadItem* item = m.list.EntryByKey(change.key);
        if (item && item->State == EntryState::StartDownloading)
            seenWhileRunning << m.s.startStop.cmdStartDownloadCaption() +
                                    (m.run.bDownloading() ? "/running" : "/idle");
    });
    Click();

    EXPECT_EQ(Statuses(m.list),
              QStringList({"Complete", "Complete", "Complete", "ERROR", "Complete"}));
    QString problem;
    EXPECT_TRUE(pattern::fileMatches(Saved("clip1.flv"), 300000, 1, &problem))
        << problem.toStdString();
    EXPECT_TRUE(pattern::fileMatches(Saved("clip2.flv.flv"), 5000, 2, &problem))
        << problem.toStdString();
    EXPECT_TRUE(pattern::fileMatches(Saved("show3 (2).flv"), 70000, 3, &problem))
        << problem.toStdString();
    EXPECT_EQ(ReadAll(Saved("show3.flv")), QByteArray(100000, 'x'));
    EXPECT_EQ(m.Entry(4).FileName, "show3 (2).flv");
    EXPECT_EQ(m.Entry(0).FileSize, "293 KB");
    EXPECT_TRUE(server.requests().empty()); // the finished entries were not touched

    // The surface's variables: the running look first, the download page asked for, the
    // idle look at the end; the captions in step.
    ASSERT_GE(m.surface.writes.size(), 7);
    EXPECT_EQ(m.surface.writes.mid(0, 4),
              QStringList({"_root.downloadBtn=0", "_root.startDownload=0", "_root.downloadTab=0",
                           "_root.downloadBtnTab=1"}));
    EXPECT_EQ(m.surface.writes.mid(m.surface.writes.size() - 3),
              QStringList({"_root.startDownload=1", "_root.downloadBtn=1", "_root.downloadTab=1"}));
    EXPECT_EQ(menuCaptions, QStringList({"Stop Downloading", "Start Downloading"}));
    EXPECT_EQ(m.s.startStop.cmdStartDownloadCaption(), "Start Downloading");
    ASSERT_FALSE(seenWhileRunning.isEmpty());
    EXPECT_EQ(seenWhileRunning.first(), "Stop Downloading/running");
    EXPECT_FALSE(m.run.bDownloading());
}

TEST_F(Run, FailuresEndErrorAndTheRunFollowsItsEntryThroughAddsMovesAndRemovals) {
    const QByteArray body = QByteArray(9000, 'v') + "end";
    Reply cut = Reply::Ok(body);
    cut.cutAt = 5000;
    const QList<QByteArray> noLength = {"HTTP/1.1 200 OK"};
    const QString sizeZero = ServeVideo("zero", Reply::Head(noLength), Reply::Ok(body));
    const QString noFile =
        ServeVideo("nofile", Reply::Head({"HTTP/1.1 404 Not Found"}), Reply::Ok(body));
    const QString errorPage =
        ServeVideo("errpage", Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 9003"}),
                   Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 0"}));
    const QString brokenOff =
        ServeVideo("broken", Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 9003"}), cut);
    const QString moved = ServeVideo("moved", Reply::Head(noLength), Reply::Ok(body));
    const QString removed =
        ServeVideo("removed", Reply::Head({"HTTP/1.1 404 Not Found"}), Reply::Ok(body));
    const QString added = ServeVideo("added", Reply::Head(noLength), Reply::Ok(body));
    const QString never = server.url("/putfile.com/never");
    server.onPath("GET", "/putfile.com/never", Reply::Ok("no markers here"));
    for (const QString& url : {sizeZero, noFile, errorPage, brokenOff, moved, never, removed})
        m.Add(url);

    // "moved" changes place with the finished entry before it while it downloads, and its
    // status follows it. "removed", the last entry, is removed while it downloads, after an
    // entry was added: nothing meant for it reaches the added entry, which is reached too.
    DuringTransferOf(moved, [this] {
        m.list.MoveItemUp(5);
        m.list.FillDownloadList();
    });
    DuringTransferOf(removed, [&, this] {
        m.list.AddUrlToList(added);
        m.list.RemoveFromDownloadList(m.list.iCurrentItem() + 1);
        m.list.FillDownloadList();
    });
    ASSERT_FALSE(QFileInfo::exists(m.settings.sDownloadDir));
    Click();

    EXPECT_TRUE(QFileInfo(m.settings.sDownloadDir).isDir());
    ASSERT_EQ(m.list.Entries().size(), 7u);
    const struct {
        QString url;
        const char* status;
    } expect[] = {
        {sizeZero, "Complete"},
        {noFile, "ERROR"},    // no length, no file: "-1 Bytes"
        {errorPage, "ERROR"}, // the error page is not kept as the video
        {moved, "Complete"},  // its status followed it to its new place
        {brokenOff, "ERROR"}, // cut off: never "Complete"
        {"Video may be inappropriate and can not be downloaded", "ERROR"},
        {added, "Complete"}, // added while the last entry downloaded
    };
    for (std::size_t i = 0; i < std::size(expect); ++i) {
        SCOPED_TRACE(expect[i].url.toStdString());
        EXPECT_EQ(m.Entry(int16_t(i)).Video_URL, expect[i].url);
        EXPECT_EQ(m.Entry(int16_t(i)).Status, expect[i].status);
    }
    EXPECT_EQ(ReadAll(Saved("zero.flv")), body);
    EXPECT_EQ(ReadAll(Saved("moved.flv")), body);
    EXPECT_EQ(ReadAll(Saved("added.flv")), body);
    EXPECT_FALSE(QFileInfo::exists(Saved("broken.flv"))); // a cut-off file is not kept
    EXPECT_EQ(QDir(m.settings.sDownloadDir).entryList({"*.part"}, QDir::Files | QDir::Hidden),
              QStringList());
    EXPECT_FALSE(QFileInfo::exists(Saved("errpage.flv")));
    EXPECT_EQ(m.Entry(0).FileSize, "0");
    EXPECT_EQ(m.Entry(1).FileSize, "-1 Bytes");
    EXPECT_FALSE(m.run.bDownloading());
}

TEST_F(Run, AStopAnsweredNoChangesNothingYesCancelsTheRunningEntryAndTheRestWait) {
    const QByteArray body = QByteArray(64 * 2048, 'b');
    Reply slow = Reply::Ok(body);
    slow.piece = 8192;
    const QList<QByteArray> head = {"HTTP/1.1 200 OK", "Content-Length: 131072"};
    const QString first = ServeVideo("first", Reply::Head(head), slow);
    const QString second = ServeVideo("second", Reply::Head(head), slow);
    m.Add(first);
    m.Add(second);

    std::vector<QStringList> writesAt;
    DuringTransferOf(first, [&] {
        m.prompter.answers = {MsgAnswer::No};
        Click(); // answered No: the run goes on untouched
        writesAt.push_back({m.s.startStop.cmdStartDownloadCaption()});
        m.prompter.answers = {MsgAnswer::Yes};
        const qsizetype before = m.surface.writes.size();
        Click();
        writesAt.push_back(m.surface.writes.mid(before));
        writesAt.back().prepend(m.s.startStop.cmdStartDownloadCaption());
        // The stop is heard at once: the run has ended, and a start would begin a new one.
        EXPECT_FALSE(m.run.bDownloading());
    });
    Click();

    ASSERT_EQ(writesAt.size(), 2u);
    EXPECT_EQ(writesAt[0], QStringList({"Stop Downloading"}));
    EXPECT_EQ(writesAt[1],
              QStringList({"Start Downloading", "_root.downloadBtn=1", "_root.startDownload=1",
                           "_root.downloadTab=1", "_root.downloadSpeed="}));
    ASSERT_EQ(m.prompter.shown.size(), 2u);
    EXPECT_EQ(m.prompter.shown[0].text, "Are you sure that you want to cancel downloading?");
    EXPECT_EQ(m.prompter.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(m.prompter.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(m.prompter.shown[0].title, "Orvello");
    EXPECT_EQ(Statuses(m.list), QStringList({"Cancelled", "Waiting"}));
    EXPECT_EQ(menuCaptions, QStringList({"Stop Downloading", "Start Downloading"}));
    EXPECT_FALSE(m.run.bDownloading());
    EXPECT_LT(QFileInfo(Saved("first.flv")).size(), body.size());

    // The next run takes the cancelled entry again from its first byte; a stop while the
    // second entry's page is fetched cancels that entry, not "ERROR".
    m.DuringPageOf(second, [&] {
        m.prompter.answers = {MsgAnswer::Yes};
        Click();
    });
    Click();
    EXPECT_EQ(ReadAll(Saved("first.flv")), body);
    EXPECT_EQ(Statuses(m.list), QStringList({"Complete", "Cancelled"}));
}

TEST_F(Run, AnEmptyListOrNoConnectionIsRefusedWithItsMessage) {
    Click();
    ASSERT_EQ(m.prompter.shown.size(), 1u);
    EXPECT_EQ(m.prompter.shown[0].text, "Please add video URL's first.");
    EXPECT_EQ(m.prompter.shown[0].title, "Empty List");
    EXPECT_EQ(m.prompter.shown[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(m.prompter.shown[0].buttons, MsgButtons::Ok);
    EXPECT_EQ(m.surface.writes, QStringList({"_root.startDownload=1"}));

    m.Add(server.url("/putfile.com/1"));
    m.connectivity.online = false;
    Click();
    ASSERT_EQ(m.prompter.shown.size(), 2u);
    EXPECT_EQ(m.prompter.shown[1].text,
              "You are not connected to the internet, Please connect first then try again");
    EXPECT_EQ(m.prompter.shown[1].title, "Orvello");
    EXPECT_EQ(m.prompter.shown[1].icon, MsgIcon::Exclamation);
    EXPECT_EQ(m.prompter.shown[1].buttons, MsgButtons::Ok);
    EXPECT_EQ(m.surface.writes.size(), 1);
    EXPECT_EQ(m.s.startStop.cmdStartDownloadCaption(), "Start Downloading");
    EXPECT_TRUE(menuCaptions.isEmpty());
    EXPECT_TRUE(server.requests().empty());
    EXPECT_EQ(m.Entry(0).Status, "Waiting");
}

TEST_F(Run, AFolderThatCantBeCreatedEndsEachEntryErrorAndWritesNothingElsewhere) {
    const QByteArray body(3000, 'z');
    const QString a = ServeVideo("a", Reply::Head({"HTTP/1.1 200 OK"}), Reply::Ok(body));
    const QString b = ServeVideo("b", Reply::Head({"HTTP/1.1 200 OK"}), Reply::Ok(body));
    m.Add(a);
    m.Add(b);
    // Only the folder itself is created, never missing parents.
    m.settings.sDownloadDir = dir.filePath("missing/parent/Videos");
    Click();
    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("missing")));

    // No folder at all: never a bare name in whatever folder the program runs in.
    m.SetState(0, EntryState::Waiting);
    m.SetState(1, EntryState::Waiting);
    m.settings.sDownloadDir.clear();
    Click();
    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
    EXPECT_FALSE(QFileInfo::exists("a.flv"));
}

TEST_F(Run, ALongRunKeepsOneDisplayCopy) {
    for (int i = 0; i < 30; ++i)
        m.Add(ServeVideo(QStringLiteral("v%1").arg(i), Reply::Head({"HTTP/1.1 200 OK"}),
                         Reply::Ok(QByteArray(100, 'x'))));
    m.list.FillDownloadList();
    const QPointer<DownloadTableModel> copy = m.list.BoundRecordset();
    Click();
    EXPECT_EQ(Statuses(m.list), QStringList(30, "Complete"));
    EXPECT_EQ(m.list.BoundRecordset(), copy.data()); // written in place, never replaced
    EXPECT_EQ(m.grid.bound, copy.data());
}
