// The clipboard monitor against the application's real clipboard (in-process on the
// offscreen platform): copied addresses are added, shown and downloaded.
#include "../scheduler/Machine.h"
#include "common/DoEvents.h"
#include "monitor/ClipboardMonitor.h"
#include "support/QtPrint.h"
#include "support/http/ScriptServer.h"

#include <QClipboard>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

class Clipboard : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Machine m{dir.path()};
    ScriptServer server;
    ClipboardMonitor monitor{m.settings, m.list, m.ui, m.run, m.s.startStop};
    int runs = 0;

    void SetUp() override {
        QGuiApplication::clipboard()->clear();
        // Every page is one without markers: each run ends its entries quickly.
        server.onGet(Reply::Ok("<html>no video here</html>"));
        QObject::connect(&m.s.startStop, &StartStop::mnuDownloadCaptionChanged,
                         [this](const QString& c) { runs += c == StartStop::kStop; });
    }
    void Copy(const QString& text) { QGuiApplication::clipboard()->setText(text); }
    // Lets events run until `done` holds or ten seconds pass.
    template <typename F> bool WaitFor(F done) {
        QElapsedTimer t;
        t.start();
        while (!done() && t.elapsed() < 10000)
            WaitForEvents(10ms);
        return done();
    }
    QStringList Urls() const {
        QStringList out;
        for (const DownloadItem& item : m.list.Entries())
            out << item.Video_URL;
        return out;
    }
};

} // namespace

TEST_F(Clipboard, ACopiedAddressIsAddedOnceShownAndDownloaded200msLater) {
    monitor.Monitor(true);
    EXPECT_TRUE(m.settings.bMonitorClipboard);
    // Ordinary text, an address of no supported site, text around an address: not taken.
    for (const char* text :
         {"hello", "http://example.org/v/1", "see http://www.youtube.com/watch?v=1 there"})
        Copy(QString::fromLatin1(text));
    EXPECT_TRUE(m.list.IsDownloadListEmpty());

    const QString first = server.url("/youtube.com/watch?v=1");
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    Copy(first + "\n");
    EXPECT_EQ(Urls(), QStringList({first}));
    EXPECT_EQ(m.surface.values["_root.video_url"], first);
    EXPECT_TRUE(m.s.startStop.tmrDownload.isActive());
    EXPECT_EQ(m.Entry(0).Status, "Waiting");

    // The run starts from the timer; an address copied during it is added and reached
    // by the same run.
    const QString second = server.url("/dailymotion.com/video/x2");
    bool copiedDuringRun = false;
    QObject::connect(&m.s.download, &Download::DownloadProgress, [&](qint32&) {
        if (!copiedDuringRun) {
            copiedDuringRun = true;
            EXPECT_GE(sinceCopy.elapsed(), 150); // about 200 ms: a coarse timer may fire 5% early
            Copy(second);
            EXPECT_FALSE(m.s.startStop.tmrDownload.isActive());
        }
    });
    ASSERT_TRUE(WaitFor([&] { return copiedDuringRun && !m.run.bDownloading; }));
    EXPECT_EQ(Urls().size(), 2);
    EXPECT_EQ(m.Entry(1).FileName, "Process failed."); // reached in the same run
    EXPECT_EQ(runs, 1);

    // Switched off: copies are left alone.
    monitor.Monitor(false);
    EXPECT_FALSE(m.settings.bMonitorClipboard);
    Copy(server.url("/bolt.com/v/3"));
    EXPECT_EQ(m.list.Entries().size(), 2u);
    monitor.txtMonitor_Change(QString()); // an empty hand-over does nothing
    EXPECT_EQ(m.list.Entries().size(), 2u);
}

TEST_F(Clipboard, APollTakesEachNewSupportedTextOnceAndStartsARun) {
    const QString url = server.url("/putfile.com/v/9");

    const struct {
        QString copied;
        int entries;
        bool shown; // _root.video_url written by this poll
    } polls[] = {
        {url, 1, true},           {url, 1, false}, // the same text again: ignored
        {"just words", 1, false}, {"http://example.org/x", 1, false},
        {url, 1, true}, // again after other texts: not added twice, but shown
    };
    for (const auto& p : polls) {
        SCOPED_TRACE(p.copied.toStdString());
        Copy(p.copied);
        const qsizetype writes = m.surface.writes.size();
        monitor.CallMonTimer();
        EXPECT_EQ(int(m.list.Entries().size()), p.entries);
        EXPECT_EQ(m.surface.writes.size() > writes, p.shown);
        EXPECT_EQ(monitor.sLastClipboard, p.copied);
    }
    ASSERT_TRUE(WaitFor([&] { return runs >= 1 && !m.run.bDownloading; }));
    EXPECT_EQ(m.Entry(0).FileName, "Process failed.");
}
