// Whole runs against servers that misbehave and folders that refuse the files: every failing
// entry ends "ERROR", the run goes on with the next one, and what completes is exactly what the
// server sent.
#include "Machine.h"
#include "resolve/Sites.h"
#include "support/QtPrint.h"
#include "support/RawPeer.h"
#include "support/http/ScriptServer.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <random>
#include <set>

#include <sys/mount.h>
#include <unistd.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

QStringList Statuses(const modMain& list) {
    QStringList out;
    for (const DownloadItem& item : list.DownloadList)
        out << item.Status;
    return out;
}

QByteArray PutFilePage(const QString& video) {
    return "<html><a href=\"" + video.toLatin1() + "\">Download</a></html>";
}

Reply Sized(const QByteArray& body) {
    return Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(body.size())});
}

class Faults : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Machine m{dir.path()};
    ScriptServer server;

    void SetUp() override {
        m.s.download.setConnectTimeout(1s);
        m.s.download.setHeadTimeout(1s);
        m.s.download.setStallTimeout(300ms);
    }
    QString Saved(const QString& name) const {
        return QDir(m.settings.sDownloadDir).filePath(name);
    }
    void Click() { m.s.startStop.cmdStartDownload_Click(); }
    // Serves a PutFile page at /putfile.com/<name> naming the video /<name>.flv.
    QString ServeVideo(const QString& name, const Reply& head, const Reply& get) {
        const QByteArray path = "/" + name.toLatin1() + ".flv";
        server.onPath("GET", "/putfile.com/" + name.toLatin1(),
                      Reply::Ok(PutFilePage(server.url(QString::fromLatin1(path)))));
        server.onPath("HEAD", path, head);
        server.onPath("GET", path, get);
        return server.url("/putfile.com/" + name);
    }
    QString ServeGood(const QString& name, const QByteArray& body) {
        return ServeVideo(name, Sized(body), Reply::Ok(body));
    }
};

// A tmpfs of 64 KiB mounted on a folder for the length of a test; unmounted at the end.
struct TinyDisk {
    QString path;
    bool mounted = false;
    QString why;

    explicit TinyDisk(const QString& where) : path(where) {
        if (::geteuid() != 0) {
            why = QStringLiteral("mounting a small file system needs root");
            return;
        }
        QDir().mkpath(path);
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "size=64k") != 0) {
            why = QStringLiteral("tmpfs can't be mounted here: ") +
                  QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        mounted = true;
    }
    bool MakeReadOnly() {
        return ::mount(nullptr, QFile::encodeName(path).constData(), nullptr,
                       MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~TinyDisk() {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
};

} // namespace

TEST_F(Faults, AStalledVideoAndASilentPageServerEndErrorAndTheRunGoesOn) {
    const QByteArray body = QByteArray(20000, 's') + "tail";
    Reply stall = Reply::Ok(body);
    stall.cutAt = 6000;
    stall.after = Reply::After::Hang;
    Reply silent;
    silent.silent = true;
    const QString stalled = ServeVideo("stalled", Sized(body), stall);
    server.onPath("GET", "/putfile.com/silent", silent);
    const QString good = ServeGood("good", body);
    m.Add(stalled);
    m.Add(server.url("/putfile.com/silent"));
    m.Add(good);

    QElapsedTimer clock;
    clock.start();
    Click();
    EXPECT_LT(clock.elapsed(), 5000); // two stall times and the rest, not the default minutes

    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR", "Complete"}));
    EXPECT_EQ(ReadAll(Saved("stalled.flv")), body.left(6000));
    EXPECT_EQ(ReadAll(Saved("good.flv")), body);
    EXPECT_FALSE(m.run.bDownloading);
}

TEST_F(Faults, AVideoLargerThanTheDiskEndsErrorAndASmallOneAfterItCompletes) {
    TinyDisk disk(dir.filePath("tiny"));
    if (!disk.mounted)
        GTEST_SKIP() << disk.why.toStdString();
    m.settings.sDownloadDir = QDir(disk.path).filePath("Videos");
    const QByteArray big = QByteArray(200000, 'B');
    const QByteArray small = QByteArray(4000, 'l');
    m.Add(ServeGood("small1", small));
    m.Add(ServeGood("big", big));
    m.Add(ServeGood("small2", small));
    Click();

    EXPECT_EQ(Statuses(m.list), QStringList({"Complete", "ERROR", "Complete"}));
    EXPECT_EQ(ReadAll(Saved("small1.flv")), small);
    EXPECT_EQ(ReadAll(Saved("small2.flv")), small);
    EXPECT_FALSE(QFileInfo::exists(Saved("big.flv"))); // the part that fitted is not kept
}

TEST_F(Faults, AReadOnlyFolderOrOneThatCantBeCreatedEndsEachEntryError) {
    const QByteArray body(3000, 'r');
    m.Add(ServeGood("r1", body));
    m.Add(ServeGood("r2", body));

    // A plain file where a parent folder should be: the folder can't be created.
    QFile blocker(dir.filePath("blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    m.settings.sDownloadDir = dir.filePath("blocker/Videos");
    Click();
    EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
    EXPECT_EQ(QFileInfo(dir.filePath("blocker")).size(), 0);

    TinyDisk disk(dir.filePath("ro"));
    if (!disk.mounted)
        GTEST_SKIP() << disk.why.toStdString();
    ASSERT_TRUE(QDir().mkdir(QDir(disk.path).filePath("Videos")));
    if (!disk.MakeReadOnly())
        GTEST_SKIP() << "the small file system can't be made read-only";
    for (const char* folder : {"Videos", "NotYetThere"}) {
        SCOPED_TRACE(folder);
        m.Entry(0).Status = m.Entry(1).Status = "Waiting";
        m.settings.sDownloadDir = QDir(disk.path).filePath(folder);
        Click();
        EXPECT_EQ(Statuses(m.list), QStringList({"ERROR", "ERROR"}));
        EXPECT_FALSE(QFileInfo::exists(Saved("r1.flv")));
    }
    EXPECT_FALSE(m.run.bDownloading);
}
