// Whole runs: entries resolved and downloaded one after another into the download folder,
// with the start and stop operation, its message boxes, the UI variables and captions.
#include "Machine.h"
#include "list/EntryStatus.h"
#include "support/QtPrint.h"
#include "support/http/ScriptServer.h"
#include "support/nginx/NginxServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QUrl>

#include <map>

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;

namespace {

class Run : public ::testing::Test {
protected:
    QTemporaryDir dir;
    Machine m{dir.path()};
    ScriptServer server;
    // The stop offered and taken back, as the window's captions follow it.
    QStringList Offers() const { return m.changes.filter("offered="); }
    QString Caption() const { return m.s.startStop.StopOffered() ? "stop" : "start"; }
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

    QStringList seenWhileRunning;
    m.list.AddObserver([&](const ListChange& change) {
        const DownloadItem* item = m.list.EntryByKey(change.key);
        if (item && item->State == EntryState::StartDownloading)
            seenWhileRunning << Caption() + (m.run.bDownloading() ? "/running" : "/idle");
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

    // What the window was told: the stop offered and the running look first, then the run's
    // start; the idle look at the end, and the stop no longer offered.
    ASSERT_GE(m.changes.size(), 5);
    EXPECT_EQ(m.changes.mid(0, 3), QStringList({"offered=1", "controls=Running", "started"}));
    EXPECT_EQ(m.changes.mid(m.changes.size() - 2), QStringList({"controls=Ended", "offered=0"}));
    EXPECT_EQ(Offers(), QStringList({"offered=1", "offered=0"}));
    EXPECT_EQ(Caption(), "start");
    ASSERT_FALSE(seenWhileRunning.isEmpty());
    EXPECT_EQ(seenWhileRunning.first(), "stop/running");
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
        writesAt.push_back({Caption()});
        m.prompter.answers = {MsgAnswer::Yes};
        const qsizetype before = m.changes.size();
        Click();
        writesAt.push_back(m.changes.mid(before));
        writesAt.back().prepend(Caption());
        // The stop is heard at once: the run has ended, and a start would begin a new one.
        EXPECT_FALSE(m.run.bDownloading());
    });
    Click();

    ASSERT_EQ(writesAt.size(), 2u);
    EXPECT_EQ(writesAt[0], QStringList({"stop"}));
    EXPECT_EQ(writesAt[1], QStringList({"start", "offered=0", "controls=Stopped", "speed=0"}));
    ASSERT_EQ(m.prompter.shown.size(), 2u);
    EXPECT_EQ(m.prompter.shown[0].text, "Are you sure that you want to cancel downloading?");
    EXPECT_EQ(m.prompter.shown[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(m.prompter.shown[0].icon, MsgIcon::Question);
    EXPECT_EQ(m.prompter.shown[0].title, "Orvello");
    EXPECT_EQ(Statuses(m.list), QStringList({"Cancelled", "Waiting"}));
    EXPECT_EQ(Offers(), QStringList({"offered=1", "offered=0"}));
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
    EXPECT_EQ(m.changes, QStringList({"controls=NothingToDo"}));

    m.Add(server.url("/putfile.com/1"));
    m.connectivity.online = false;
    Click();
    ASSERT_EQ(m.prompter.shown.size(), 2u);
    EXPECT_EQ(m.prompter.shown[1].text,
              "You are not connected to the internet, Please connect first then try again");
    EXPECT_EQ(m.prompter.shown[1].title, "Orvello");
    EXPECT_EQ(m.prompter.shown[1].icon, MsgIcon::Exclamation);
    EXPECT_EQ(m.prompter.shown[1].buttons, MsgButtons::Ok);
    EXPECT_EQ(m.changes.size(), 1);
    EXPECT_EQ(Caption(), "start");
    EXPECT_TRUE(Offers().isEmpty());
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

namespace {

// What a run did, heard from the list: each entry's status texts in the order shown (digits
// read as '#', a text repeated in a row once), the order entries started and ended ("b+" as
// the entry whose page is /putfile.com/b begins, "b-" as it ends), and the most that ran at
// once.
struct RunLog {
    std::map<QString, QStringList> statuses;
    QStringList order;
    int running = 0;
    int mostRunning = 0;
    QSet<QString> active;

    static QString NameOf(const DownloadItem& e) {
        return QUrl(e.PageAddress).path().section('/', -1);
    }
    void Watch(modMain& list) {
        list.AddObserver([this, &list](const ListChange& change) {
            const DownloadItem* e = list.EntryByKey(change.key);
            if (change.kind != ListChange::Kind::Changed || !e)
                return;
            QString text = e->Status;
            text.replace(QRegularExpression(QStringLiteral("\\d+")), QStringLiteral("#"));
            const QString name = NameOf(*e);
            QStringList& seen = statuses[name];
            if (!seen.isEmpty() && seen.last() == text)
                return;
            seen << text;
            const bool ended = IsFinished(e->State) || e->State == EntryState::Cancelled;
            if (!active.contains(name) && !ended) {
                active.insert(name);
                order << name + '+';
                mostRunning = std::max(mostRunning, ++running);
            } else if (active.contains(name) && ended) {
                active.remove(name);
                order << name + '-';
                --running;
            }
        });
    }
    // How many entries had ended when this one began.
    int EndsBefore(const QString& name) const {
        int ends = 0;
        for (const QString& event : order) {
            if (event == name + '+')
                return ends;
            ends += event.endsWith('-') ? 1 : 0;
        }
        return -1;
    }
};

QStringList PartialFiles(const QString& folder) {
    return QDir(folder).entryList({"*.part"}, QDir::Files | QDir::Hidden);
}

} // namespace

// Several at a time: entries start in list order as places free up, and each goes on, or
// fails, on its own; the run's end counts them all.
TEST_F(Run, SeveralAtATimeStartInListOrderAndEachEndsOnItsOwn) {
    // Each entry's statuses: a file that comes in, and one that fails (no video on its page,
    // no file on the server, a host that refuses the connection).
    const QStringList fetched = {"Preparing (#%)", "Start Downloading...", "#", "Complete"};
    const QStringList failed = {"Preparing (#%)", "Start Downloading...", "ERROR"};
    const struct {
        const char* what;
        int simultaneous;
        // Each entry: its name and the length of its file (-1: the page holds no video,
        // -404: the file is not there, -2: its host refuses the connection).
        std::vector<std::pair<QString, qsizetype>> entries;
        QStringList order; // the starts and ends, exactly; empty: list order as places free
    } rows[] = {
        {"one at a time, in list order, as before",
         1,
         {{"a", 3000}, {"v", -1}, {"b", 70000}},
         {"a+", "a-", "v+", "v-", "b+", "b-"}},
        {"three at a time over five entries of different lengths",
         3,
         {{"a", 400000}, {"b", 20000}, {"c", 250000}, {"d", 5000}, {"e", 90000}},
         {}},
        {"one missing and one refused while the others go on",
         3,
         {{"a", 300000}, {"m", -404}, {"r", -2}, {"b", 100000}, {"v", -1}, {"c", 3000}},
         {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir folder;
        Machine m{folder.path()};
        ScriptServer server;
        m.settings.iSimultaneous = row.simultaneous;
        std::map<QString, QByteArray> bodies;
        QStringList statuses;
        std::map<QString, QStringList> sequences;
        for (const auto& [name, length] : row.entries) {
            statuses << (length >= 0 ? "Complete" : "ERROR");
            sequences[name] = length >= 0 ? fetched : failed;
            const QByteArray path = "/putfile.com/" + name.toLatin1();
            if (length == -1) {
                server.onPath("GET", path, Reply::Ok("<html>removed</html>"));
                m.Add(server.url(path));
                continue;
            }
            if (length == -2) {
                const QString closed = QStringLiteral("http://127.0.0.1:%1/%2.flv")
                                           .arg(ScriptServer::ClosedPort())
                                           .arg(name);
                server.onPath("GET", path, Reply::Ok(PutFilePage(closed)));
                m.Add(server.url(path));
                continue;
            }
            if (length == -404) {
                m.Add(
                    test::ServeVideo(server, name, Reply::Head({"HTTP/1.1 404 Not Found"}),
                                     Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 0"})));
                continue;
            }
            bodies[name] = pattern::bytes(bodies.size() + 1, 0, length);
            Reply get = Reply::Ok(bodies[name]);
            get.piece = 8192; // the larger the file, the longer it takes
            m.Add(test::ServeVideo(
                server, name,
                Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(length)}),
                get));
        }
        RunLog log;
        log.Watch(m.list);
        std::vector<std::pair<int, int>> ended;
        QObject::connect(&m.s.startStop, &StartStop::RunEnded,
                         [&](int complete, int failed) { ended.emplace_back(complete, failed); });
        m.Click();

        EXPECT_EQ(Statuses(m.list), statuses);
        for (const auto& [name, body] : bodies) {
            EXPECT_EQ(ReadAll(m.Saved(name + ".flv")), body) << name.toStdString();
        }
        EXPECT_EQ(PartialFiles(m.settings.sDownloadDir), QStringList());
        EXPECT_EQ(log.statuses, sequences);
        // The run's end counts every entry it worked on.
        const int complete = int(statuses.count("Complete"));
        EXPECT_EQ(ended,
                  (std::vector<std::pair<int, int>>{{complete, int(statuses.size()) - complete}}));
        EXPECT_EQ(log.mostRunning, row.simultaneous) << log.order.join(' ').toStdString();
        if (!row.order.isEmpty()) {
            EXPECT_EQ(log.order, row.order);
        }
        // The first entries begin together; each later one once as many have ended as it
        // stands places behind them.
        for (std::size_t i = 0; i < row.entries.size(); ++i) {
            const QString name = row.entries[i].first;
            EXPECT_EQ(log.EndsBefore(name), std::max<int>(int(i) - row.simultaneous + 1, 0))
                << name.toStdString() << ": " << log.order.join(' ').toStdString();
            if (i > 0) {
                EXPECT_LT(log.order.indexOf(row.entries[i - 1].first + '+'),
                          log.order.indexOf(name + '+'));
            }
        }
    }
}

// A Stop while three run stops all three at once; a running entry that is removed stops
// alone, and the run goes on.
TEST_F(Run, AStopEndsEveryRunningEntryAndARemovedOneStopsAlone) {
    enum class Act { Stop, Remove };
    const struct {
        const char* what;
        int simultaneous;
        QString entries; // one letter each: h holds its file back, s comes slowly, o at once
        Act act;         // once the entries that hold their files are all coming in
        QStringList statuses;
        QStringList files; // complete, in the folder
    } rows[] = {
        {"Stop with three running", 3, "hhhoo", Act::Stop,
         QStringList{"Cancelled", "Cancelled", "Cancelled", "Waiting", "Waiting"}, QStringList{}},
        {"removing the running entry, one at a time", 1, "oho", Act::Remove,
         QStringList{"Complete", "Complete"}, QStringList{"o0.flv", "o2.flv"}},
        {"removing a running entry, three at a time", 3, "shsoo", Act::Remove,
         QStringList{"Complete", "Complete", "Complete", "Complete"},
         QStringList{"o3.flv", "o4.flv", "s0.flv", "s2.flv"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir folder;
        Machine m{folder.path()};
        ScriptServer server;
        m.settings.iSimultaneous = row.simultaneous;
        const QByteArray body(300000, 'x');
        int held = 0;
        for (qsizetype i = 0; i < row.entries.size(); ++i) {
            Reply get = Reply::Ok(body);
            if (row.entries[i] == 'h') {
                get.cutAt = 3000;
                get.after = Reply::After::Hang;
                ++held;
            } else if (row.entries[i] == 's') {
                get.piece = 2048;
            }
            m.Add(test::ServeVideo(server, row.entries[i] + QString::number(i),
                                   Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 300000"}),
                                   get));
        }
        std::vector<std::pair<int, int>> ended;
        QObject::connect(&m.s.startStop, &StartStop::RunEnded,
                         [&](int complete, int failed) { ended.emplace_back(complete, failed); });
        bool acted = false;
        m.list.AddObserver([&](const ListChange&) {
            int coming = 0;
            quint64 heldKey = 0;
            for (const DownloadItem& e : m.list.Entries()) {
                if (e.State == EntryState::Transferring && e.FileName.startsWith('h')) {
                    ++coming;
                    heldKey = e.Key;
                }
            }
            if (acted || coming < held)
                return;
            acted = true;
            const QString heldPart = m.list.EntryByKey(heldKey)->FileName + ".part";
            EXPECT_TRUE(PartialFiles(m.settings.sDownloadDir).contains(heldPart));
            if (row.act == Act::Stop) {
                m.prompter.answers = {MsgAnswer::Yes};
                m.Click();
                // Everything stopped at once: the run has ended as the Stop returns.
                EXPECT_FALSE(m.run.bDownloading());
                EXPECT_EQ(PartialFiles(m.settings.sDownloadDir), QStringList());
                EXPECT_EQ(ended, (std::vector<std::pair<int, int>>{{0, 0}}));
            } else {
                m.list.RemoveFromDownloadList(int16_t(m.list.IndexOfKey(heldKey) + 1));
                // Its transfer stopped at once and its partial file went; the run goes on.
                EXPECT_FALSE(m.run.IsRunning(heldKey));
                EXPECT_TRUE(m.run.bDownloading());
                EXPECT_FALSE(PartialFiles(m.settings.sDownloadDir).contains(heldPart));
            }
            m.list.FillDownloadList();
        });
        m.Click();

        EXPECT_TRUE(acted);
        EXPECT_EQ(Statuses(m.list), row.statuses);
        EXPECT_EQ(QDir(m.settings.sDownloadDir).entryList(QDir::Files | QDir::Hidden), row.files);
        for (const QString& file : row.files) {
            EXPECT_EQ(ReadAll(m.Saved(file)), body) << file.toStdString();
        }
        EXPECT_FALSE(m.run.bDownloading());
    }
}

// Where a server can hold an entry, a Stop ends it at once: "Cancelled", no partial file,
// the run over; and a start right after downloads it.
TEST_F(Run, AStopAtEveryMomentAServerHoldsTheEntryEndsItAtOnce) {
    const QByteArray body(5000, 'f');
    const Reply head = Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 5000"});
    Reply silent;
    silent.silent = true;
    Reply halfPage = Reply::Ok(PutFilePage("http://127.0.0.1/none.flv") + QByteArray(4000, ' '));
    halfPage.cutAt = 20;
    halfPage.after = Reply::After::Hang;
    Reply halfFile = Reply::Ok(body);
    halfFile.cutAt = 1000;
    halfFile.after = Reply::After::Hang;
    const struct {
        const char* moment;
        QByteArray method, target; // the request held
        Reply hold;
        bool redirect = false;
    } rows[] = {
        {"the page's headers", "GET", "/putfile.com/v", silent},
        {"the page's body", "GET", "/putfile.com/v", halfPage},
        {"the header request", "HEAD", "/v.flv", silent},
        {"the file's headers", "GET", "/v.flv", silent},
        {"the file's body", "GET", "/v.flv", halfFile},
        {"the redirect", "GET", "/v/AbC", silent, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.moment);
        QTemporaryDir folder;
        Machine m{folder.path()};
        std::unique_ptr<ScriptServer> server =
            row.redirect ? ServerOnPort80() : std::make_unique<ScriptServer>();
        if (!server) {
            std::cout << "[ SKIPPED  ] " << row.moment << ": port 80 can't be had\n";
            continue;
        }
        m.s.needs.redirectPort = 80;
        // The held request first, then the same request answered.
        server->onPath(row.method, row.target, row.hold);
        const QString page = row.redirect ? ServeYoutube(*server, "AbC", head, Reply::Ok(body))
                                          : test::ServeVideo(*server, "v", head, Reply::Ok(body));
        m.Add(page);
        QElapsedTimer sinceStop;
        server->onRequest = [&](const ScriptServer::Request& request) {
            if (request.method() != row.method || request.target() != row.target ||
                sinceStop.isValid())
                return;
            sinceStop.start(); // the stop comes once the entry has waited a while
            QTimer::singleShot(300, [&] {
                sinceStop.restart();
                m.prompter.answers = {MsgAnswer::Yes};
                m.Click();
                EXPECT_EQ(m.Entry(0).Status, "Cancelled");
                EXPECT_FALSE(m.run.bDownloading());
                EXPECT_EQ(PartialFiles(m.settings.sDownloadDir), QStringList());
                EXPECT_LT(sinceStop.elapsed(), 1000);
            });
        };
        m.Click();
        ASSERT_TRUE(sinceStop.isValid()) << "the request was never held";
        EXPECT_EQ(m.Entry(0).Status, "Cancelled");

        m.Click(); // a start right after: the same requests are answered now
        EXPECT_EQ(m.Entry(0).Status, "Complete");
        EXPECT_EQ(ReadAll(m.Saved(row.redirect ? "get_videovideo_id=AbCt=T0k3n.flv" : "v.flv")),
                  body);
        EXPECT_EQ(PartialFiles(m.settings.sDownloadDir), QStringList());
    }
}

// A file shorter than its header request announced fails, saying how much came; a header
// request the server holds ends its entry within about one time limit, not two.
TEST_F(Run, AShortFileAndAHeldHeaderRequestEndTheirEntryError) {
    Reply shortFile = Reply::Head({"HTTP/1.1 200 OK"}); // no length; closes after 1,000 bytes
    shortFile.body = QByteArray(1000, 's');
    Reply silent;
    silent.silent = true;
    const struct {
        const char* what;
        Reply head, get;
        QString reason;
        int mostMs; // from the header request to the entry's end
    } rows[] = {
        {"HEAD announces 100,000 bytes, the file brings 1,000 and closes",
         Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 100000"}), shortFile,
         "The server sent only 1,000 of the 100,000 bytes it announced.", 20000},
        {"the header request held, and the file too", silent, silent,
         "The server was too slow: its answer did not begin within 2 s, or it sent less than "
         "100 bytes a second for 2 s.",
         3500},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir folder;
        Machine m{folder.path()}; // time limits of 2 s
        ScriptServer server;
        m.Add(test::ServeVideo(server, "v", row.head, row.get));
        QElapsedTimer sinceHead;
        server.onRequest = [&](const ScriptServer::Request& request) {
            if (request.method() == "HEAD")
                sinceHead.start();
        };
        m.Click();
        EXPECT_EQ(m.Entry(0).Status, "ERROR");
        EXPECT_EQ(m.Entry(0).Reason, row.reason);
        EXPECT_LT(sinceHead.elapsed(), row.mostMs);
        EXPECT_EQ(QDir(m.settings.sDownloadDir).entryList(QDir::Files | QDir::Hidden),
                  QStringList());
    }
}

// A speed limit holds all the files together back, and applies at once to a run under way;
// libcurl's waits are no slow server (the time limits here are 2 s). The files are large:
// libcurl keeps to a limit between its reads, and a read takes all that has come.
TEST_F(Run, TheSpeedLimitIsSharedByTheFilesComingIn) {
    constexpr std::int64_t kLimit = 4 << 20;
    const QByteArray body = pattern::bytes(7, 0, 8 << 20);
    const struct {
        const char* what;
        std::int64_t atStart, duringRun; // -1: left as it is
        qint64 leastMs;
    } rows[] = {
        {"no limit", 0, -1, 0},
        {"4 MiB/s over two files of 8 MiB", kLimit, -1, 3500},
        {"4 MiB/s set as the files come in", 0, kLimit, 3000},
    };
    qint64 unlimitedMs = -1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir folder;
        Machine m{folder.path()};
        ScriptServer server;
        m.settings.iSimultaneous = 2;
        m.settings.lSpeedLimit = row.atStart;
        const Reply head =
            Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(body.size())});
        Reply get = Reply::Ok(body);
        const QString a = test::ServeVideo(server, "a", head, get);
        m.Add(a);
        m.Add(test::ServeVideo(server, "b", head, get));
        if (row.duringRun >= 0)
            m.DuringTransferOf(a, [&] { m.s.runner.setSpeedLimit(row.duringRun); });
        QElapsedTimer clock;
        clock.start();
        m.Click();
        const qint64 took = clock.elapsed();
        EXPECT_EQ(Statuses(m.list), QStringList({"Complete", "Complete"}));
        EXPECT_EQ(ReadAll(m.Saved("a.flv")), body);
        EXPECT_EQ(ReadAll(m.Saved("b.flv")), body);
        EXPECT_GE(took, row.leastMs);
        const QStringList badge = m.changes.filter("speed=");
        EXPECT_EQ(badge.last(), "speed=0");
        if (row.atStart == 0 && row.duringRun < 0) {
            unlimitedMs = took;
            continue;
        }
        EXPECT_LT(unlimitedMs * 2, took) << "no limit: " << unlimitedMs << " ms";
        // The window was told of both coming in together.
        EXPECT_TRUE(badge.contains("speed=2")) << badge.join('\n').toStdString();
    }
}
