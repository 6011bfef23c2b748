#include "list/FinishedFile.h"
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
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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
           QString::asprintf("|%d|%d|%lld|%lld|%d|%d", e.ID, int(e.State), e.Progress,
                             e.ExpectedBytes, int(e.FileReported), int(e.SiteCode));
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
    // A list file of these entries, each a JSON object's text.
    static QByteArray listOf(const QByteArrayList& entries) {
        return R"({"version": 1, "entries": [)" + entries.join(",\n") + "]}";
    }
    static void link(const QString& target, const QString& at) {
        ASSERT_EQ(
            ::symlink(QFile::encodeName(target).constData(), QFile::encodeName(at).constData()), 0);
    }
    // The file's type and, for a link, where it points.
    static QString kindOf(const QString& at) {
        struct stat st {};
        if (::lstat(QFile::encodeName(at).constData(), &st) != 0)
            return "none";
        if (S_ISLNK(st.st_mode))
            return "link to " + QFile::symLinkTarget(at);
        return S_ISFIFO(st.st_mode) ? "fifo" : S_ISDIR(st.st_mode) ? "folder" : "file";
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
    // A page searched for a video stays one.
    add(list, QStringLiteral("http://example.net/any"), EntryText::LinkNotSupported);
    ASSERT_TRUE(list.SearchPages({key(4)}));
    ASSERT_TRUE(ListFile(list, path).SaveNow());
    EXPECT_TRUE(bytesOf(path).contains("\"state\": \"Complete\""));
    EXPECT_FALSE(bytesOf(path).contains('\t')); // escaped, as JSON requires

    std::vector<DownloadItem> want = list.Entries();
    // A status text comes back as its state renders it, never as stored.
    want[3].Status = EntryText::Waiting;
    want[3].Progress = 0;
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

// A tampered list file can't reach beyond the download folder: every name is cleaned as a
// typed one (the list's fixed texts stay), the status is rendered from the state, and an
// entry that can't be made sound is left out, said once for the whole load.
TEST_F(ListFileFixture, TamperedEntriesAreCleanedOrLeftOut) {
    const auto longText = [](const QByteArray& member, int length) {
        const QByteArray text = '"' + QByteArray(length, 'x') + '"';
        return member == "url"
                   ? R"({"url": )" + text + '}'
                   : R"({"url": ")" + member + R"(", ")" + member + R"(": )" + text + '}';
    };
    const struct {
        QByteArrayList entries;
        QStringList loaded; // address | file name | status | expected bytes
        QString message;
    } rows[] = {
        {{R"({"url": "a", "fileName": "/home/you/.config/autostart/evil.desktop"})",
          R"({"url": "b", "fileName": "../../../x"})", R"({"url": "c", "fileName": ".."})",
          R"({"url": "d", "fileName": "clip\u001b]0;owned\u0007\n.flv"})",
          R"({"url": "e", "fileName": "Process failed."})"},
         {"a|homeyou.configautostartevil.desktop|Waiting|-1", "b|x|Waiting|-1",
          "c|Enter File Name|Waiting|-1", "d|clip]0;owned.flv|Waiting|-1",
          "e|Process failed.|Waiting|-1"},
         ""},
        // The status shown is the state's, whatever the file says; counts within their range.
        {{R"({"url": "a", "state": "Complete", "status": "\u001b[2JPaid: enter your card"})",
          R"({"url": "b", "state": "Error", "status": "Complete", "expectedBytes": 1500})",
          R"({"url": "c", "expectedBytes": 1152921504606846976})"},
         {"a|Waiting (Auto Detect)|Complete|-1", "b|Waiting (Auto Detect)|ERROR|1500",
          "c|Waiting (Auto Detect)|Waiting|-1"},
         ""},
        // Left out: no address, texts longer than any the program writes, no object.
        {{R"({"url": 7, "fileName": "x"})", longText("url", 8193), longText("pageAddress", 8193),
          longText("fileName", 4097), longText("reason", 1025), longText("savedPath", 4097),
          longText("fileSize", 65), longText("transferNote", 257), R"("g")",
          longText("fileName", 4096)},
         {"fileName|" + QString(255, 'x') + "|Waiting|-1"},
         "9 entries of the saved download list could not be used and were left out."},
        {{R"({"url": "a"})", R"({"fileName": "b"})"},
         {"a|Waiting (Auto Detect)|Waiting|-1"},
         "1 entry of the saved download list could not be used and was left out."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.entries.join('\n').left(300).toStdString());
        ASSERT_TRUE(put(path, listOf(row.entries)));
        const ListFile::LoadResult result = ListFile(list, path).Load();
        QStringList loaded;
        for (const DownloadItem& e : list.Entries())
            loaded << QStringList{e.Video_URL, e.FileName, e.Status,
                                  QString::number(e.ExpectedBytes)}
                          .join('|');
        EXPECT_EQ(loaded, row.loaded);
        EXPECT_EQ(result.message, row.message);
        EXPECT_TRUE(QFile::exists(path)); // read, not set aside
    }
}

// What stands at list.json but is no list file of the program's is set aside under a free
// name without being read or followed, at once; nothing outside the folder is touched.
TEST_F(ListFileFixture, AListFileThatIsNoPlainListIsSetAsideUnread) {
    const QString elsewhere = dir.filePath("elsewhere");
    const QByteArray aList = listOf({R"({"url": "a"})"});
    ASSERT_TRUE(put(elsewhere + "/list.json", aList));
    QByteArray big = aList;
    big.append(ListFile::kMaxFileBytes + 1 - big.size(), ' ');
    const struct {
        const char* what;
        std::function<void()> plant;
        QString keptAs;
        QString kept; // what stands there afterwards
    } rows[] = {
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); },
         path + ".damaged", "fifo"},
        {"a link to /dev/zero", [&] { link("/dev/zero", path); }, path + ".damaged",
         "link to /dev/zero"},
        {"a link to a list elsewhere", [&] { link(elsewhere + "/list.json", path); },
         path + ".damaged", "link to " + elsewhere + "/list.json"},
        {"a list over the size bound", [&] { ASSERT_TRUE(put(path, big)); }, path + ".damaged",
         "file"},
        {"a dangling link at the name a damaged list is kept under",
         [&] {
             ASSERT_TRUE(put(path, "{"));
             link(elsewhere + "/created", path + ".damaged");
         },
         path + ".damaged-2", "file"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QDir(QFileInfo(path).path()).removeRecursively();
        QDir().mkpath(QFileInfo(path).path());
        row.plant();
        // A FIFO with no writer holds a reader: one comes after a while, so a reader that
        // waited gets a list.
        std::thread writer([&] {
            if (row.kept != "fifo")
                return;
            QTest::qSleep(1500);
            const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                (void)!::write(fd, aList.constData(), std::size_t(aList.size()));
                ::close(fd);
            }
        });
        QElapsedTimer clock;
        clock.start();
        const ListFile::LoadResult result = ListFile(list, path).Load();
        EXPECT_LT(clock.elapsed(), 1000);
        writer.join();
        EXPECT_TRUE(list.Entries().empty());
        EXPECT_EQ(result.keptAs, row.keptAs);
        EXPECT_TRUE(result.message.contains(row.keptAs)) << result.message.toStdString();
        EXPECT_EQ(kindOf(row.keptAs), row.kept);
        EXPECT_EQ(kindOf(path), "none");
        EXPECT_EQ(kindOf(elsewhere + "/created"), "none");
        EXPECT_EQ(bytesOf(elsewhere + "/list.json"), aList);
    }
}

// A list longer than the list holds: its first 32,767 entries are loaded and the whole file is
// kept under a free name before the shorter list is written, with one message saying where.
TEST_F(ListFileFixture, AFileOfMoreEntriesThanTheListHoldsIsKeptWhole) {
    QByteArrayList entries;
    for (int i = 0; i <= EntryStore::kCapacity; ++i)
        entries << R"({"url": "http://www.youtube.com/watch?v=)" + QByteArray::number(i) +
                       R"(", "fileName": "../)" + QByteArray::number(i) + R"("})";
    const QByteArray whole = listOf(entries);
    const struct {
        bool linkAtFullName; // a link that leads nowhere where the file would be kept
        QString keptAs;
    } rows[] = {{false, path + ".full"}, {true, path + ".full-2"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.keptAs.toStdString());
        QDir(QFileInfo(path).path()).removeRecursively();
        ASSERT_TRUE(put(path, whole));
        if (row.linkAtFullName)
            link(dir.filePath("created"), path + ".full");
        ListFile file(list, path);
        const ListFile::LoadResult result = file.Load();
        ASSERT_EQ(list.Entries().size(), std::size_t(EntryStore::kCapacity));
        EXPECT_EQ(list.Entries().back().FileName, "32766");
        EXPECT_EQ(result.keptAs, row.keptAs);
        EXPECT_EQ(result.message,
                  "The saved download list holds 32768 entries, more than the 32767 the list can "
                  "hold; the first 32767 were loaded. The whole file was kept as " +
                      row.keptAs + ".");
        ASSERT_TRUE(file.SaveNow());
        EXPECT_EQ(bytesOf(row.keptAs), whole);
        EXPECT_EQ(readBack().size(), EntryStore::kCapacity);
        EXPECT_EQ(kindOf(dir.filePath("created")), "none");
    }
}

// A list that can't be written is said once, however many writes fail, and written by the
// retry once it can be, with no further change; after that, a new failure is said again.
TEST_F(ListFileFixture, AFailedWriteIsSaidOnceAndTriedAgainByItself) {
    test::TinyDisk disk(dir.filePath("disk")); // read-only while a mount holds (needs root)
    const QString blocked = dir.filePath("blocked");
    const struct {
        QString path;
        bool runs;
        std::function<bool()> block, unblock;
    } rows[] = {
        {blocked + "/Orvello/list.json", true,
         [&] { return QDir(blocked).removeRecursively() && put(blocked, "x"); },
         [&] { return QFile::remove(blocked); }},
        {disk.path + "/list.json", disk.mounted, [&] { return disk.MakeReadOnly(); },
         [&] { return disk.MakeWritable(); }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path.toStdString());
        if (!row.runs)
            continue;
        RunState r;
        test::RecordingGrid g;
        modMain kept{r, &g, nullptr};
        add(kept, QStringLiteral("first"));
        ListFile file(kept, row.path, 20ms, 150ms);
        QStringList said;
        file.SetSaveFailedListener([&said](const QString& message) { said << message; });
        ASSERT_TRUE(row.block());
        EXPECT_FALSE(file.SaveNow());
        add(kept, QStringLiteral("second")); // written one throttle interval later: fails too
        QTest::qWait(500);                   // and so do the retries
        ASSERT_EQ(said.size(), 1);
        EXPECT_TRUE(said[0].startsWith("The download list could not be saved to " + row.path) &&
                    said[0].endsWith(". Orvello will keep trying."))
            << said[0].toStdString();

        ASSERT_TRUE(row.unblock());
        QElapsedTimer clock;
        for (clock.start(); !QFile::exists(row.path) && clock.elapsed() < 3000;)
            QTest::qWait(10);
        EXPECT_TRUE(bytesOf(row.path).contains("second"));

        ASSERT_TRUE(row.block());
        add(kept, QStringLiteral("third"));
        QTest::qWait(300);
        EXPECT_EQ(said.size(), 2); // a new failure after a write that succeeded
        ASSERT_TRUE(row.unblock());
    }
}

// Open file and Open containing folder open only what the program finished into a folder:
// the entry's own clean name in an absolute folder, and a regular file there.
TEST_F(ListFileFixture, OnlyAFileFinishedIntoItsFolderIsOpened) {
    const QString videos = dir.filePath("videos"), elsewhere = dir.filePath("elsewhere");
    ASSERT_TRUE(put(elsewhere + "/evil.desktop", "[Desktop Entry]"));
    ASSERT_TRUE(put(elsewhere + "/clip.flv", "x"));
    ASSERT_TRUE(QDir().mkpath(videos));
    const struct {
        QString name, saved;
        bool linkInPlace; // a link to evil.desktop at videos/clip.flv
        FinishedFile found;
    } rows[] = {
        {"clip.flv", elsewhere + "/evil.desktop", false, FinishedFile::None},
        {"clip.flv", videos + "/../elsewhere/clip.flv", false, FinishedFile::None},
        {"../elsewhere/clip.flv", elsewhere + "/clip.flv", false, FinishedFile::None},
        {"clip.flv", videos + "/clip.flv", true, FinishedFile::Replaced},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.saved.toStdString());
        QFile::remove(videos + "/clip.flv");
        if (row.linkInPlace)
            link(elsewhere + "/evil.desktop", videos + "/clip.flv");
        ASSERT_TRUE(put(
            path, listOf({R"({"url": "a", "state": "Complete", "fileName": ")" + row.name.toUtf8() +
                          R"(", "savedPath": ")" + row.saved.toUtf8() + R"("})"})));
        ListFile(list, path).Load();
        ASSERT_EQ(list.Entries().size(), 1u);
        QString at;
        EXPECT_EQ(int(FinishedFileOf(list.Entries()[0], &at)), int(row.found));
    }
}

// A link put at the list's name after the start is replaced by the list, never followed: the
// user's file it points to stays as it was.
TEST_F(ListFileFixture, AWriteReplacesALinkAtItsNameNotWhatItPointsTo) {
    const QString target = dir.filePath("elsewhere/autostart.desktop");
    ASSERT_TRUE(put(target, "[Desktop Entry]"));
    add(list, QStringLiteral("u"));
    ListFile file(list, path);
    QDir().mkpath(QFileInfo(path).path());
    link(target, path);
    EXPECT_TRUE(file.SaveNow());
    EXPECT_EQ(kindOf(path), "file");
    EXPECT_EQ(readBack().size(), 1);
    EXPECT_EQ(bytesOf(target), "[Desktop Entry]");
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
              QStringList{"list.json"}); // no file of its writing left behind
}
