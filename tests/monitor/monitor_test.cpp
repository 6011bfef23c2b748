// The clipboard monitor against the application's real clipboard (in-process on the
// offscreen platform): copied addresses are added, shown and downloaded.
#include "../scheduler/Machine.h"
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
    ClipboardMonitor monitor{m.settings, m.list, m.run, m.s.startStop};
    int runs = 0;
    QStringList shown; // the addresses the window was told of

    void SetUp() override {
        QGuiApplication::clipboard()->clear();
        // Every page is one without markers: each run ends its entries quickly.
        server.onGet(Reply::Ok("<html>no video here</html>"));
        QObject::connect(&m.s.startStop, &StartStop::StopOfferedChanged,
                         [this](bool offered) { runs += offered; });
        QObject::connect(&monitor, &ClipboardMonitor::AddressTaken,
                         [this](const QString& address) { shown << address; });
    }
    void Copy(const QString& text) { QGuiApplication::clipboard()->setText(text); }
    // Lets events run until `done` holds or ten seconds pass.
    template <typename F> bool WaitFor(F done) { return RunUntil(done, 10s); }
    QStringList Urls() const {
        QStringList out;
        for (const DownloadItem& item : m.list.Entries())
            out << item.Video_URL;
        return out;
    }
    // Serves the page of the entry at `index` from the loopback server: a copied address
    // names the site's own host, which a test must not reach.
    void ServeLocally(int index, const QString& path) {
        m.list.SetVideoUrl(m.list.Entries().at(std::size_t(index)).Key, server.url(path));
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

    const QString first = "http://www.youtube.com/watch?v=1";
    QElapsedTimer sinceCopy;
    sinceCopy.start();
    Copy(first + "\n");
    EXPECT_EQ(Urls(), QStringList({first}));
    EXPECT_EQ(shown, QStringList({first}));
    EXPECT_TRUE(m.s.startStop.tmrDownload.isActive());
    EXPECT_EQ(m.Entry(0).Status, "Waiting");
    ServeLocally(0, "/youtube.com/watch?v=1");

    // The run starts from the timer; an address copied during it is added and reached
    // by the same run.
    const QString second = "http://www.dailymotion.com/video/x2";
    bool copiedDuringRun = false;
    m.OnFirst([](const DownloadItem& e) { return e.State == EntryState::Preparing; },
              [&] {
                  {
                      copiedDuringRun = true;
                      EXPECT_GE(sinceCopy.elapsed(),
                                150); // about 200 ms: a coarse timer may fire 5% early
                      Copy(second);
                      EXPECT_FALSE(m.s.startStop.tmrDownload.isActive());
                      ASSERT_EQ(Urls().size(), 2);
                      ServeLocally(1, "/dailymotion.com/video/x2");
                  }
              });
    ASSERT_TRUE(WaitFor([&] { return copiedDuringRun && !m.run.bDownloading(); }));
    EXPECT_EQ(Urls().size(), 2);
    EXPECT_EQ(m.Entry(1).FileName, "Process failed."); // reached in the same run
    EXPECT_EQ(runs, 1);

    // Switched off: copies are left alone.
    monitor.Monitor(false);
    EXPECT_FALSE(m.settings.bMonitorClipboard);
    Copy("http://www.bolt.com/v/3");
    EXPECT_EQ(m.list.Entries().size(), 2u);
    monitor.txtMonitor_Change(QString()); // an empty hand-over does nothing
    EXPECT_EQ(m.list.Entries().size(), 2u);
}

TEST_F(Clipboard, APollTakesEachNewSupportedTextOnceAndStartsARun) {
    const QString url = "http://media.putfile.com/v/9";

    const struct {
        QString copied;
        int entries;
        bool shown; // the window told of the address by this poll
    } polls[] = {
        {url, 1, true},
        {url, 1, false}, // the same text again: ignored
        {"just words", 1, false},
        {"http://example.org/x", 1, false},
        {url, 1, true}, // again after other texts: not added twice, but shown
        {"http://192.0.2.1/x?ref=putfile.com", 1, false},
        {url + "&" + QString(5000, u'x'), 1, false},
    };
    for (const auto& p : polls) {
        SCOPED_TRACE(p.copied.left(80).toStdString());
        Copy(p.copied);
        const qsizetype before = shown.size();
        monitor.CallMonTimer();
        EXPECT_EQ(int(m.list.Entries().size()), p.entries);
        EXPECT_EQ(shown.size() > before, p.shown);
        EXPECT_EQ(monitor.sLastClipboard, p.copied);
    }
    ServeLocally(0, "/putfile.com/v/9"); // the run starts once events run
    ASSERT_TRUE(WaitFor([&] { return runs >= 1 && !m.run.bDownloading(); }));
    EXPECT_EQ(m.Entry(0).FileName, "Process failed.");
}

// Only a copied address on a supported site's own host is taken; whatever is copied is
// fetched without a question, so a site's name anywhere else must not make an address one to
// fetch, and a long text is passed over without a look.
TEST_F(Clipboard, OnlyAnAddressOnASitesOwnHostIsTaken) {
    m.connectivity.online = false; // no run may reach the sites' real hosts
    monitor.Monitor(true);
    const QString v = "http://www.youtube.com/watch?v=";
    const struct {
        QString copied;
        bool taken;
    } cases[] = {
        {"http://youtube.com/watch?v=1", true},
        {" https://m.youtube.com/watch?v=2\r\n", true},
        {"HTTP://WWW.YouTube.COM:8080/watch?v=3", true},
        {"video.google.com/videoplay?docid=4", true},
        {"http://youtube.com.evil.net/watch?v=1", false},
        {"http://evilyoutube.com/watch?v=1", false},
        {"http://192.0.2.1/apply.cgi?action=reboot&ref=youtube.com", false},
        {"http://example.net/www.youtube.com/watch?v=1", false},
        {"http://youtube.com@evil.net/watch?v=1", false},
        {"http://evil.net#@www.youtube.com/", false},
        {v + QString(5000, u'a'), false},
        {v + QString(20 << 20, u'a'), false}, // 20 MB of text, at no cost worth measuring
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.copied.left(80).toStdString());
        const std::size_t before = m.list.Entries().size();
        QElapsedTimer took;
        took.start();
        Copy(c.copied);
        EXPECT_LT(took.elapsed(), 100);
        ASSERT_EQ(m.list.Entries().size(), before + c.taken);
        EXPECT_TRUE(!c.taken || Urls().back() == c.copied.trimmed());
    }
    m.s.startStop.tmrDownload.stop();
}
