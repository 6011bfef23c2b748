#include "list/ListFile.h"
#include "list/modMain.h"
#include "support/QtPrint.h"
#include "support/RecordingGrid.h"
#include "support/TinyDisk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace orvello;
using namespace std::chrono_literals;

namespace {

QByteArray bytesOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(none)");
}
bool put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return QDir().mkpath(QFileInfo(path).path()) && f.open(QIODevice::WriteOnly) &&
           f.write(bytes) == bytes.size();
}
// Every field of an entry but its identity.
QString fields(const DownloadItem& e) {
    return QStringList{e.Video_URL,   e.FileName, e.Status,    e.FileSize,
                       e.PageAddress, e.Reason,   e.SavedPath, e.TransferNote}
               .join('|') +
           QString::asprintf("|%d|%d|%lld|%lld|%d", e.ID, int(e.State), e.Progress, e.ExpectedBytes,
                             int(e.FileReported));
}

struct ListFileFixture : ::testing::Test {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("data/Orvello/list.json"));
    RunState run;
    test::RecordingGrid grid;
    modMain list{run, &grid, nullptr};

    void add(modMain& to, const QString& url, QString status = {}) {
        QString size;
        ASSERT_TRUE(to.AddToDownloadList(url, QStringLiteral("f"), status, size));
    }
    quint64 key(int i) const { return list.Entries()[std::size_t(i)].Key; }
    // What a new program reads from the file.
    QStringList readBack() const {
        RunState r;
        test::RecordingGrid g;
        modMain fresh{r, &g, nullptr};
        EXPECT_EQ(ListFile(fresh, path).Load().message, "");
        QStringList out;
        for (const DownloadItem& e : fresh.Entries())
            out << fields(e);
        return out;
    }
    // A write replaces the file with a new one: a new inode.
    ino_t inode() const {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
    }
};

} // namespace

TEST_F(ListFileFixture, EveryFieldComesBackInOrderAndARunningEntryCancelled) {
    add(list, QStringLiteral("http://www.youtube.com/watch?v=done"));
    add(list, QStringLiteral("http://example.org/\"quoted\" \u00e9\\"));
    add(list, QStringLiteral("http://www.youtube.com/watch?v=running"));
    add(list, QStringLiteral("http://www.youtube.com/watch?v=later"), QStringLiteral("My text"));
    list.SetState(key(0), EntryState::Complete);
    list.SetFileSize(key(0), QStringLiteral("1.5 MB"), 1572864, true);
    list.SetSavedPath(key(0), QStringLiteral("/home/u/Downloaded Videos/clip (2).flv"));
    list.SetState(key(1), EntryState::Error);
    list.SetVideoUrl(key(1), EntryText::ProcessFailed);
    list.SetReason(key(1), QStringLiteral("Server:\t404\nNot Found \x1f \U0001F600"));
    list.SetState(key(2), EntryState::Transferring, 57);
    list.SetTransferNote(key(2), QStringLiteral("1.2 MB/s, 35 s left"));
    ASSERT_TRUE(ListFile(list, path).SaveNow());
    EXPECT_TRUE(bytesOf(path).contains("\"state\": \"Complete\""));
    EXPECT_FALSE(bytesOf(path).contains('\t')); // escaped, as JSON requires

    std::vector<DownloadItem> want = list.Entries();
    want[2].State = EntryState::Cancelled;
    want[2].Status = EntryText::Cancelled;
    want[2].Progress = 0;
    want[2].TransferNote.clear();
    QStringList wanted;
    for (const DownloadItem& e : want)
        wanted << fields(e);
    EXPECT_EQ(readBack(), wanted);
}

TEST_F(ListFileFixture, OddMembersAreReadAndADamagedFileIsKeptUnderAFreeName) {
    EXPECT_EQ(ListFile(list, path).Load().message, ""); // no file: quietly empty
    const struct {
        QByteArray bytes;
        QString status; // of the one entry read; none: the file is damaged
    } rows[] = {
        {R"({"version": 1, "entries": [{"url": "u", "state": "Sleeping", "status": "Complete"}]})",
         "Waiting"},
        {R"({"version": 1, "entries": [{"url": "", "state": "Error", "status": 3}]})", "ERROR"},
        {R"({"version": 1, "entries": [)", {}},
        {"[]", {}},
        {R"({"version": 2, "entries": []})", {}},
        {R"({"version": 1, "entries": {}})", {}},
        {R"({"version": 1, "entries": [{"url": "a"}, {"fileName": "b"}]})", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.bytes.toStdString());
        for (const QString& kept : {path + ".damaged", path + ".damaged-2"}) {
            add(list, QStringLiteral("x")); // the ListFile before must have let go of the list
            const QByteArray bytes = row.bytes + (kept.endsWith('2') ? " " : ""); // as damaged
            ASSERT_TRUE(put(path, bytes));
            const ListFile::LoadResult result = ListFile(list, path).Load();
            if (!row.status.isEmpty()) {
                ASSERT_EQ(list.Entries().size(), 1u);
                EXPECT_EQ(list.Entries()[0].Status, row.status);
                EXPECT_EQ(result.message, "");
                continue;
            }
            EXPECT_TRUE(list.Entries().empty());
            EXPECT_EQ(result.keptAs, kept);
            EXPECT_TRUE(result.message.contains(kept));
            EXPECT_EQ(bytesOf(kept), bytes);
            EXPECT_FALSE(QFile::exists(path));
        }
        QFile::remove(path + ".damaged");
        QFile::remove(path + ".damaged-2");
    }
}

TEST_F(ListFileFixture, AFailedWriteLeavesTheOldFileAndIsReported) {
    ASSERT_TRUE(put(dir.filePath("plain"), "x"));
    test::TinyDisk disk(dir.filePath("small")); // 64 KiB: a mount needs root
    const struct {
        QString path;
        bool runs;
        std::function<void()> breakIt;
    } rows[] = {
        {dir.filePath("plain/Orvello/list.json"), true, [] {}}, // no folder can be made there
        {dir.filePath("ro/list.json"), ::geteuid() != 0,        // root ignores permissions
         [&] { QFile::setPermissions(dir.filePath("ro"), QFile::ReadOwner | QFile::ExeOwner); }},
        {disk.path + "/list.json", disk.mounted, [] {}}, // too small for the grown list
    };
    for (const auto& row : rows) {
        if (!row.runs)
            continue;
        RunState r;
        test::RecordingGrid g;
        modMain grown{r, &g, nullptr};
        add(grown, QStringLiteral("first"));
        ListFile file(grown, row.path);
        file.SaveNow();
        const QByteArray old = bytesOf(row.path);
        row.breakIt();
        for (int i = 0; i < 200; ++i)
            add(grown, QString::number(i).repeated(100));
        EXPECT_FALSE(file.SaveNow()) << row.path.toStdString();
        EXPECT_TRUE(file.LastWriteFailed());
        EXPECT_EQ(bytesOf(row.path), old);
    }
    QFile::setPermissions(dir.filePath("ro"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(ListFileFixture, ChangesAreWrittenOncePerIntervalSaveNowAtOnceRemovalsToo) {
    ListFile file(list, path, 200ms);
    add(list, QStringLiteral("u"));
    QTest::qWait(20);
    EXPECT_FALSE(QFile::exists(path));
    int writes = 0;
    ino_t last = 0;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; clock.elapsed() < 700; ++i) { // a download's progress, block after block
        list.ShowRunningStatus(key(0), EntryState::Transferring, i % 100);
        QTest::qWait(10);
        writes += inode() != last;
        last = inode();
    }
    EXPECT_GE(writes, 2);
    EXPECT_LE(writes, 4);

    list.SetFileName(key(0), QStringLiteral("now.flv"));
    EXPECT_TRUE(file.SaveNow());
    EXPECT_EQ(readBack().value(0).section('|', 1, 1), "now.flv");
    last = inode();
    QTest::qWait(300); // nothing left to write
    EXPECT_EQ(inode(), last);

    list.RemoveFromDownloadList(1);
    for (clock.start(); inode() == last && clock.elapsed() < 5000;)
        QTest::qWait(10);
    EXPECT_TRUE(QFile::exists(path)); // an empty list, written
    EXPECT_EQ(readBack(), QStringList());
}
