// Why an entry failed, in a user's words: one row per failure against loopback servers, each
// checked in the entry and in its row's tooltip and accessible description.
#include "Machine.h"
#include "support/TinyDisk.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

Reply Sized(qsizetype size) {
    return Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(size)});
}

struct Row {
    const char* what;
    // Scripts the server and gives the page address to add.
    std::function<QString(ScriptServer&, Machine&)> arrange;
    QString reason;
    bool addressReplaced = false; // the row shows a message instead of the page address
    bool needsSmallDisk = false;
};

} // namespace

TEST(Reasons, EveryFailureSaysWhyInTheEntryAndItsRow) {
    const QByteArray video(300000, 'v');
    const Row rows[] = {
        {"an address no site knows",
         [](ScriptServer& s, Machine&) { return s.url("/example.org/watch?v=1"); },
         "No supported site has this address."},
        {"a host that is not found",
         [](ScriptServer&, Machine&) {
             return QStringLiteral("http://www.putfile.com.invalid/v/1");
         },
         "The host www.putfile.com.invalid was not found."},
        {"a port nobody listens on",
         [](ScriptServer&, Machine&) {
             return QStringLiteral("http://127.0.0.1:%1/putfile.com/v/1")
                 .arg(ScriptServer::ClosedPort());
         },
         "The connection to 127.0.0.1 was refused."},
        {"a page the server does not have",
         [](ScriptServer& s, Machine&) {
             s.onPath("GET", "/putfile.com/gone",
                      Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 0"}));
             return s.url("/putfile.com/gone");
         },
         "The server answered 404 (Not Found).", true},
        {"a page without a video",
         [](ScriptServer& s, Machine&) {
             s.onPath("GET", "/putfile.com/empty", Reply::Ok("<html>removed</html>"));
             return s.url("/putfile.com/empty");
         },
         "The page held no video.", true},
        {"a video the server does not have",
         [](ScriptServer& s, Machine&) {
             return ServeVideo(s, "lost", Sized(100),
                               Reply::Head({"HTTP/1.1 410 Gone", "Content-Length: 0"}));
         },
         "The server answered 410 (Gone)."},
        {"a server too slow",
         [](ScriptServer& s, Machine& m) {
             m.s.needs.limits = {.headers = 30s, .lowSpeedTime = 1s};
             Reply trickle = Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 5000"});
             trickle.drip = "a";
             trickle.dripEvery = 200;
             return ServeVideo(s, "slow", Sized(5000), trickle);
         },
         "The server was too slow: its answer did not begin within 30 s, or it sent less than "
         "100 bytes a second for 1 s."},
        {"a disk that fills up",
         [&video](ScriptServer& s, Machine&) {
             return ServeVideo(s, "big", Sized(video.size()), Reply::Ok(video));
         },
         "The disk is full.", false, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        ScriptServer server;
        Machine m{dir.path()};
        std::unique_ptr<TinyDisk> disk;
        if (row.needsSmallDisk) {
            disk = std::make_unique<TinyDisk>(dir.filePath("tiny"));
            if (!disk->mounted) {
                std::printf("  skipped: %s\n", qPrintable(disk->why));
                continue;
            }
            m.settings.sDownloadDir = QDir(disk->path).filePath("Videos");
        }
        const QString page = row.arrange(server, m);
        m.Add(page);
        m.Click();

        const DownloadItem& entry = m.Entry(0);
        EXPECT_EQ(entry.Status, "ERROR");
        EXPECT_EQ(entry.Reason, row.reason);
        EXPECT_EQ(entry.PageAddress, page);
        const QString note =
            row.addressReplaced ? row.reason + QStringLiteral("\nPage: ") + page : row.reason;
        const DownloadTableModel* shown = m.list.BoundRecordset();
        ASSERT_NE(shown, nullptr);
        for (int c = 0; c < DownloadTableModel::ColumnCount; ++c) {
            const QModelIndex cell = shown->index(0, c);
            EXPECT_EQ(cell.data(Qt::ToolTipRole).toString(), note) << c;
            EXPECT_EQ(cell.data(Qt::AccessibleDescriptionRole).toString(), note) << c;
        }
    }
}
