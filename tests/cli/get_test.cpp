// orvello-get as a script runs it: the real program against a loopback server, with its own
// home, settings and temporary folders, checked by exit status, files and printed lines.
#include "cli/ConsoleReport.h"
#include "cli/GetOptions.h"
#include "common/DoEvents.h"
#include "scheduler/Machine.h"
#include "settings/CRegister.h"
#include "settings/modSettings.h"
#include "support/QtPrint.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;

namespace {

const QByteArray kVideo = QByteArray(100 * 1024, 'v') + "end";

Reply Sized(qsizetype size) {
    return Reply::Head({"HTTP/1.1 200 OK", "Content-Length: " + QByteArray::number(size)});
}

struct Outcome {
    int exit = -1;
    QString out;
    QString err;
};

// How the program runs, beside its arguments.
struct How {
    QByteArray input = {}; // standard input, closed after it
    // Called as the program runs, until it returns true.
    std::function<bool(QProcess&)> during = {};
    QString wrapper = {}; // `script`, for a terminal
    // Runs in the child before the program starts.
    std::function<void()> inChild = {};
    // Set up and not started: its output is the program's standard input instead.
    QProcess* inputFrom = nullptr;
};

// A home of its own for each run: settings, cache, temporary files and the default folder.
struct GetRig {
    QTemporaryDir dir;
    ScriptServer server;
    QString ok, missing, novideo, slow, gone, cut, page;

    GetRig() {
        for (const char* sub : {"home", "config", "cache", "tmp"})
            QDir(dir.path()).mkpath(sub);
        ok = ServeVideo(server, "ok", Sized(kVideo.size()), Reply::Ok(kVideo));
        missing = ServeVideo(server, "missing", Sized(10),
                             Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 0"}));
        server.onPath("GET", "/putfile.com/novideo", Reply::Ok("<html>removed</html>"));
        novideo = server.url("/putfile.com/novideo");
        // Sends a part of its file, then nothing more until the program stops it.
        Reply hang = Sized(10 * kVideo.size());
        hang.body = kVideo;
        hang.after = Reply::After::Hang;
        slow = ServeVideo(server, "slow", Sized(10 * kVideo.size()), hang);
        // The file is gone: its header request gets a 404 without a length, its download a
        // page that says so.
        Reply notFound = Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 170"});
        notFound.body = QByteArray(170, 'x');
        gone = ServeVideo(server, "gone", Reply::Head({"HTTP/1.1 404 Not Found"}), notFound);
        // The header request announces 100,000 bytes; the file brings 1,000 without a length
        // and closes.
        Reply shortFile = Reply::Head({"HTTP/1.1 200 OK"});
        shortFile.body = QByteArray(1000, 's');
        cut = ServeVideo(server, "cut", Sized(100000), shortFile);
        // A page no site knows, whose <video> names its file.
        server.onPath("GET", "/any/page", Reply::Ok("<html><video src=\"/any/clip.mp4\"></html>"));
        server.onPath("HEAD", "/any/clip.mp4", Sized(kVideo.size()));
        server.onPath("GET", "/any/clip.mp4", Reply::Ok(kVideo));
        page = server.url("/any/page");
    }
    QString path(const QString& sub) const { return QDir(dir.path()).filePath(sub); }
    QString defaultFolder() const { return path("home/Downloaded Videos"); }

    // Runs the program with these arguments, its stop signals and SIGPIPE at their defaults.
    Outcome Run(const QStringList& args, const How& how = {}) {
        QProcess p;
        p.setChildProcessModifier([inChild = how.inChild] {
            for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
                ::signal(signal, SIG_DFL);
            if (inChild)
                inChild();
        });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", path("home"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_CACHE_HOME", path("cache"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("LC_ALL", "C.UTF-8");
        env.insert("TERM", "xterm");
        p.setProcessEnvironment(env);
        if (how.inputFrom) {
            how.inputFrom->setStandardOutputProcess(&p);
            how.inputFrom->start();
        }
        if (how.wrapper.isEmpty())
            p.start(ORVELLO_GET, args);
        else // the program on a terminal: `script` gives it one and copies what it prints
            p.start(how.wrapper,
                    {"-qefc", QStringLiteral(ORVELLO_GET " ") + args.join(' '), "/dev/null"});
        EXPECT_TRUE(p.waitForStarted());
        if (!how.inputFrom) {
            p.write(how.input);
            p.closeWriteChannel();
        }
        QElapsedTimer clock;
        clock.start();
        bool done = !how.during;
        while (p.state() != QProcess::NotRunning && !clock.hasExpired(30000)) {
            WaitForEvents(20ms);
            if (!done)
                done = how.during(p);
        }
        if (p.state() != QProcess::NotRunning) {
            ADD_FAILURE() << "orvello-get did not end";
            p.kill();
            p.waitForFinished();
        }
        return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                QString::fromUtf8(p.readAllStandardOutput()),
                QString::fromUtf8(p.readAllStandardError())};
    }
};

// The files under a folder, as paths relative to it, sorted.
QStringList FilesUnder(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(folder).relativeFilePath(it.next());
    files.sort();
    return files;
}

// {dir}, {videos} (the default folder), {ok}, {missing}, {novideo}, {slow}, {gone}, {cut} and
// {page} in a row's texts.
QString Expand(QString text, const GetRig& rig) {
    return text.replace("{videos}", rig.defaultFolder())
        .replace("{dir}", rig.dir.path())
        .replace("{ok}", rig.ok)
        .replace("{missing}", rig.missing)
        .replace("{novideo}", rig.novideo)
        .replace("{slow}", rig.slow)
        .replace("{gone}", rig.gone)
        .replace("{cut}", rig.cut)
        .replace("{page}", rig.page);
}

} // namespace

TEST(GetCommand, ExitStatusFilesAndLines) {
    const QString ok = "home/Downloaded Videos/ok.flv";
    const QString complete = "Complete\t100 KB\t{videos}/ok.flv\n";
    const QString missing = "ERROR\t10 Bytes\t{missing}\tThe server answered 404 (Not Found).\n";
    const QString novideo = "ERROR\t????\t{novideo}\tThe page held no video.\n";
    const QString unsupported = "Link is not supported\t????\t%1\tNo supported site has this "
                                "address; --any-site looks for a video on any page.\n";
    const QString usage = "orvello-get: %1\nTry 'orvello-get --help' for more information.\n";
    const struct {
        const char* what;
        QStringList args;
        QString input;
        int exit;
        QStringList files; // under the rig's folder
        QString out, err;  // exactly
        QString storedFolder = {};
    } rows[] = {
        {"a video that downloads", {"{ok}"}, "", 0, {ok}, complete, ""},
        {"a video the server does not have", {"{missing}"}, "", 1, {}, "", missing},
        {"a page without a video", {"{novideo}"}, "", 1, {}, "", novideo},
        {"an address no site knows is skipped",
         {"http://example.org/clip", "{ok}"},
         "",
         1,
         {ok},
         complete,
         unsupported.arg("http://example.org/clip")},
        {"--any-site: the video of a page no site knows",
         {"--any-site", "{page}"},
         "",
         0,
         {"home/Downloaded Videos/clip.mp4"},
         "Complete\t100 KB\t{videos}/clip.mp4\n",
         ""},
        {"addresses on standard input, blank lines and a repeat left out",
         {"-"},
         "{ok}\n\n  {missing}  \n{ok}\n",
         1,
         {ok},
         complete,
         missing},
        {"an address that would move the terminal's cursor",
         {"-"},
         "http://example.org/\x1b[2J\n",
         1,
         {},
         "",
         unsupported.arg("http://example.org/?[2J")},
        {"a line too long is left out whole, and the next one read",
         {"-"},
         QString(10000, 'x') + "\n{ok}\n",
         1,
         {ok},
         complete,
         "orvello-get: Line 1 of standard input is longer than 8192 bytes; it is left out.\n"},
        {"a last line too long, without its newline",
         {"-"},
         "{ok}\n" + QString(20000, 'y'),
         1,
         {ok},
         complete,
         "orvello-get: Line 2 of standard input is longer than 8192 bytes; it is left out.\n"},
        {"--folder, created with its parents",
         {"--folder", "{dir}/a/b", "{ok}"},
         "",
         0,
         {"a/b/ok.flv"},
         "Complete\t100 KB\t{dir}/a/b/ok.flv\n",
         ""},
        {"the folder in the settings",
         {"{ok}"},
         "",
         0,
         {"config/Orvello/HKEY_CURRENT_USER.ini", "kept/ok.flv"},
         "Complete\t100 KB\t{dir}/kept/ok.flv\n",
         "",
         "{dir}/kept"},
        {"--quiet prints the failure only",
         {"--quiet", "{ok}", "{novideo}"},
         "",
         1,
         {ok},
         "",
         novideo},
        {"a folder that can't be created",
         {"--folder=/dev/null/videos", "{ok}"},
         "",
         1,
         {},
         "",
         "orvello-get: The folder /dev/null/videos can't be created: Not a directory.\n"},
        {"no address", {"--quiet"}, "", 2, {}, "", usage.arg("no address given")},
        {"an unknown option",
         {"--fast", "{ok}"},
         "",
         2,
         {},
         "",
         usage.arg("unknown option --fast")},
        {"an unknown option that would clear the terminal",
         {"--\x1b[2Jfast", "{ok}"},
         "",
         2,
         {},
         "",
         usage.arg("unknown option --?[2Jfast")},
        {"--version wins",
         {"{ok}", "--version"},
         "",
         0,
         {},
         "orvello-get " ORVELLO_VERSION "\n",
         ""},
        {"--help wins", {"--fast", "--help"}, "", 0, {}, cli::UsageText(), ""},
        {"a file shorter than announced",
         {"--retries", "0", "{cut}"},
         "",
         1,
         {},
         "",
         "ERROR\t97.7 KB\t{cut}\tThe server sent only 1,000 of the 100,000 bytes it announced.\n"},
        {"two at a time within a limit",
         {"--jobs=2", "--limit-rate", "2M", "{ok}", "{missing}"},
         "",
         1,
         {ok},
         complete,
         missing},
        {"-j 9", {"-j", "9", "{ok}"}, "", 2, {}, "", usage.arg("-j needs a number from 1 to 8")},
        {"--jobs without its number",
         {"{ok}", "--jobs"},
         "",
         2,
         {},
         "",
         usage.arg("--jobs needs a number from 1 to 8")},
        {"more tries than taken",
         {"--retries=11", "{ok}"},
         "",
         2,
         {},
         "",
         usage.arg("--retries needs a number from 0 to 10")},
        {"a rate in an unknown unit",
         {"--limit-rate=5X", "{ok}"},
         "",
         2,
         {},
         "",
         usage.arg("--limit-rate needs a rate in bytes a second, such as 500K or 2M")},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        if (!row.storedFolder.isEmpty())
            CRegister().REGSaveSetting({rig.path("config/Orvello/HKEY_CURRENT_USER.ini")},
                                       modSettings::kSection, modSettings::kDownloadDir,
                                       Expand(row.storedFolder, rig));
        QStringList args;
        for (const QString& arg : row.args)
            args << Expand(arg, rig);
        const Outcome got = rig.Run(args, {.input = Expand(row.input, rig).toUtf8()});
        EXPECT_EQ(got.exit, row.exit);
        EXPECT_EQ(got.out, Expand(row.out, rig));
        EXPECT_EQ(got.err, Expand(row.err, rig));
        // Nothing else is left: no partial file, no scratch page.
        const QStringList files = FilesUnder(rig.dir.path());
        EXPECT_EQ(files, row.files);
        for (const QString& file : files) {
            if (file.endsWith(".flv") || file.endsWith(".mp4")) {
                EXPECT_EQ(ReadAll(rig.path(file)), kVideo);
            }
        }
    }
}

// What stops a run in the table below.
enum class Stopper {
    SignalWhileAFileComesIn, // the partial file is there, the server holds the rest back
    SignalAtStartUp,         // the settings file is a FIFO nobody writes
    OutputReaderGone,        // standard output is a pipe whose reader has gone
};

TEST(GetCommand, AStopEndsTheRunAndLeavesNoPartialFile) {
    const QString cancelled = "Cancelled\t1000 KB\t{slow}\tStopped before the file was complete.\n";
    const struct {
        const char* what;
        Stopper stopper;
        int signal;
        QStringList args;
        int exit;
        QString err;
        QStringList files;
        QStringList fetched; // the paths the server was asked for, in order
    } rows[] = {
        {"SIGINT",
         Stopper::SignalWhileAFileComesIn,
         SIGINT,
         {"{slow}", "{ok}"},
         130,
         cancelled,
         {},
         {"/putfile.com/slow", "/slow.flv"}},
        {"SIGTERM",
         Stopper::SignalWhileAFileComesIn,
         SIGTERM,
         {"{slow}", "{ok}"},
         143,
         cancelled,
         {},
         {"/putfile.com/slow", "/slow.flv"}},
        {"SIGHUP, a closed terminal",
         Stopper::SignalWhileAFileComesIn,
         SIGHUP,
         {"{slow}", "{ok}"},
         129,
         cancelled,
         {},
         {"/putfile.com/slow", "/slow.flv"}},
        {"SIGTERM while the settings are read from a FIFO",
         Stopper::SignalAtStartUp,
         SIGTERM,
         {"{ok}"},
         143,
         "",
         {"config/Orvello/HKEY_CURRENT_USER.ini"},
         {}},
        {"a reader of standard output that has gone",
         Stopper::OutputReaderGone,
         0,
         {"{ok}", "{slow}"},
         1,
         "orvello-get: Standard output can't be written: Broken pipe.\n",
         {"home/Downloaded Videos/ok.flv"},
         // The stop comes as the first entry's line can't be written, before the next entry
         // begins.
         {"/putfile.com/ok", "/ok.flv"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        QStringList args;
        for (const QString& arg : row.args)
            args << Expand(arg, rig);
        std::function<bool(QProcess&)> during;
        std::function<void()> inChild;
        QElapsedTimer moment; // the partial file's appearance, or the start
        QElapsedTimer sinceSignal;
        int pipeEnds[2] = {-1, -1};
        int fifoWriter = -1;
        switch (row.stopper) {
        case Stopper::SignalWhileAFileComesIn:
            during = [&](QProcess& p) {
                if (!moment.isValid()) {
                    if (FilesUnder(rig.defaultFolder()) == QStringList{"slow.flv.part"})
                        moment.start();
                    return false;
                }
                if (!moment.hasExpired(300))
                    return false;
                ::kill(pid_t(p.processId()), row.signal);
                return true;
            };
            break;
        case Stopper::SignalAtStartUp:
            ASSERT_TRUE(QDir(rig.path("config")).mkpath("Orvello"));
            ASSERT_EQ(::mkfifo(qPrintable(rig.path("config/Orvello/HKEY_CURRENT_USER.ini")), 0600),
                      0);
            during = [&](QProcess& p) {
                // A FIFO opens for writing without a wait only once a reader waits on it:
                // then the program is inside its reading of the settings.
                fifoWriter = ::open(qPrintable(rig.path("config/Orvello/HKEY_CURRENT_USER.ini")),
                                    O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                if (fifoWriter < 0)
                    return false;
                ::kill(pid_t(p.processId()), row.signal);
                sinceSignal.start();
                return true;
            };
            break;
        case Stopper::OutputReaderGone:
            ASSERT_EQ(::pipe2(pipeEnds, O_CLOEXEC), 0);
            ::close(pipeEnds[0]);
            inChild = [&pipeEnds] { ::dup2(pipeEnds[1], STDOUT_FILENO); };
            break;
        }
        const Outcome got = rig.Run(args, {.during = during, .inChild = inChild});
        if (pipeEnds[1] >= 0)
            ::close(pipeEnds[1]);
        if (fifoWriter >= 0)
            ::close(fifoWriter);
        if (sinceSignal.isValid()) {
            EXPECT_LT(sinceSignal.elapsed(), 1000) << "the signal ends the program at once";
        }
        EXPECT_EQ(got.exit, row.exit);
        EXPECT_EQ(got.out, "");
        EXPECT_EQ(got.err, Expand(row.err, rig));
        EXPECT_EQ(FilesUnder(rig.dir.path()), row.files);
        QStringList fetched;
        for (const auto& request : rig.server.requests("GET"))
            fetched << QString::fromLatin1(request.target());
        EXPECT_EQ(fetched, row.fetched);
    }
}

// The resident memory of a running process, in bytes (0 once it is gone).
qint64 ResidentBytes(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

// "-" reads standard input as the run goes, a few addresses ahead of the downloads: an endless
// input holds the memory flat, and a long one is mostly still unread when the first file
// comes in. Each run is stopped with SIGTERM once its first file has come in.
// A run stopped by a signal, or killed, leaves its partial file with its record; the next run
// for the same address and folder asks for the rest only and says where it continued.
TEST(GetCommand, ASecondRunContinuesWhereASignalStoppedTheFirst) {
    const QByteArray whole = DistinctBytes(10 * kVideo.size());

    const struct {
        const char* what;
        int signal;
        int exit;
        std::chrono::milliseconds after; // from the partial file's appearance
    } rows[] = {
        {"Ctrl+C", SIGINT, 130, 300ms},
        {"SIGTERM", SIGTERM, 143, 300ms},
        // Killed: what the last record written says is on disk is what the next run keeps.
        {"SIGKILL after a record was written", SIGKILL, -1, 2500ms},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        QList<QByteArray> ranges;
        // The first GET sends a tenth of the file, then nothing more; a range gets the rest.
        rig.server.respond = ResumableFile("/part.flv", whole, kVideo.size(), ranges);
        const QString page = ServeVideo(rig.server, "part", Sized(whole.size()), Reply::Ok(""));
        QElapsedTimer moment;
        const Outcome first =
            rig.Run({page}, {.during = [&](QProcess& p) {
                        if (!moment.isValid()) {
                            if (QFileInfo::exists(rig.defaultFolder() + "/part.flv.part"))
                                moment.start();
                            return false;
                        }
                        if (!moment.hasExpired(row.after.count()))
                            return false;
                        ::kill(pid_t(p.processId()), row.signal);
                        return true;
                    }});
        EXPECT_EQ(first.exit, row.exit) << first.err.toStdString();
        EXPECT_EQ(FilesUnder(rig.defaultFolder()),
                  (QStringList{"part.flv.part", "part.flv.part.json"}));

        const Outcome second = rig.Run({page});
        EXPECT_EQ(second.exit, 0) << second.err.toStdString();
        EXPECT_EQ(second.out, Expand("Complete\t1000 KB\t{videos}/part.flv\n", rig));
        EXPECT_EQ(second.err, "orvello-get: part.flv: continued from 100 KB of 1000 KB.\n");
        EXPECT_EQ(FilesUnder(rig.defaultFolder()), QStringList{"part.flv"});
        EXPECT_TRUE(ReadAll(rig.defaultFolder() + "/part.flv") == whole);
        EXPECT_EQ(ranges,
                  (QList<QByteArray>{{}, "bytes=" + QByteArray::number(kVideo.size()) + "-"}));
    }
}

// A cookies file is read for every request of the run, and never written; one that can't be
// read ends the program before anything is fetched.
TEST(GetCommand, ACookiesFileGoesWithEveryRequest) {
    const QByteArray jar = "# Netscape HTTP Cookie File\n127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n";
    const struct {
        const char* what;
        bool present;
        int exit;
        QString err;
    } rows[] = {
        {"a cookies file", true, 0, ""},
        {"a cookies file that is not there", false, 1,
         "orvello-get: The cookies file {dir}/cookies.txt can't be read.\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        const QString cookies = rig.path("cookies.txt");
        if (row.present) {
            QFile f(cookies);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(jar);
        }
        const Outcome got = rig.Run({"--cookies", cookies, rig.ok});
        EXPECT_EQ(got.exit, row.exit);
        EXPECT_EQ(got.err, Expand(row.err, rig));
        const auto& requests = rig.server.requests();
        EXPECT_EQ(requests.size(), row.present ? 3u : 0u); // page, header request, file
        for (const auto& r : requests)
            EXPECT_EQ(r.header("Cookie"), "sid=abc") << r.raw.constData();
        if (row.present) {
            EXPECT_EQ(ReadAll(cookies), jar); // never written
        }
    }
}

TEST(GetCommand, StandardInputIsReadAsTheRunGoes) {
#ifdef __SANITIZE_ADDRESS__
    // The sanitizer's shadow memory and its quarantine of freed blocks come on top.
    constexpr qint64 kMostMemory = 400 * 1024 * 1024;
#else
    constexpr qint64 kMostMemory = 100 * 1024 * 1024;
#endif
    QByteArray distinct = "{slow}\n";
    for (int i = 0; i < 10000; ++i)
        distinct += "{ok}?copy=" + QByteArray::number(i) + "\n";
    const struct {
        const char* what;
        bool endless;     // `yes <the first address>`, else `input`
        QByteArray input; // its first line is the file waited for
        QString file;     // in the default folder
        QString out, err;
        bool inputLeft; // most of the input is still unread when the file has come in
    } rows[] = {
        {"yes {ok}", true, "{ok}", "ok.flv", "Complete\t100 KB\t{videos}/ok.flv\n", "", false},
        {"10,000 other addresses after the first", false, distinct, "slow.flv.part", "",
         "Cancelled\t1000 KB\t{slow}\tStopped before the file was complete.\n", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        const QByteArray input = Expand(QString::fromUtf8(row.input), rig).toUtf8();
        QProcess yes;
        yes.setProgram("yes");
        yes.setArguments({QString::fromUtf8(input)});
        qint64 mostMemory = 0;
        qint64 unread = -1;
        QElapsedTimer since; // the file came in
        const Outcome got = rig.Run(
            {"-"}, {.input = row.endless ? QByteArray() : input,
                    .during =
                        [&](QProcess& p) {
                            mostMemory = std::max(mostMemory, ResidentBytes(p.processId()));
                            if (mostMemory > kMostMemory) {
                                ::kill(pid_t(p.processId()), SIGKILL);
                                return true;
                            }
                            if (!since.isValid()) {
                                if (FilesUnder(rig.defaultFolder()) == QStringList{row.file}) {
                                    since.start();
                                    unread = p.bytesToWrite();
                                }
                                return false;
                            }
                            if (!since.hasExpired(1000))
                                return false; // endless lines go on coming meanwhile
                            ::kill(pid_t(p.processId()), SIGTERM);
                            return true;
                        },
                    .inputFrom = row.endless ? &yes : nullptr});
        yes.kill();
        yes.waitForFinished();
        EXPECT_LT(mostMemory, kMostMemory);
        EXPECT_EQ(got.exit, 143);
        EXPECT_EQ(got.out, Expand(row.out, rig));
        EXPECT_EQ(got.err, Expand(row.err, rig));
        if (row.inputLeft) {
            EXPECT_GT(unread, input.size() / 2);
        }
    }
}

// With standard input closed, "-" reads nothing rather than a descriptor the program opened.
TEST(GetCommand, AClosedStandardInputReadsAsEmpty) {
    GetRig rig;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", rig.path("home"));
    env.insert("XDG_CONFIG_HOME", rig.path("config"));
    p.setProcessEnvironment(env);
    p.start("sh", {"-c", "exec \"$0\" - <&-", ORVELLO_GET});
    ASSERT_TRUE(p.waitForFinished(10000)) << "orvello-get waits on a closed input";
    EXPECT_EQ(p.exitCode(), 0);
}

TEST(GetCommand, OnATerminalTheLiveLineGivesWayToTheFinalStatus) {
    if (QStandardPaths::findExecutable("script").isEmpty())
        GTEST_SKIP() << "no `script` to give the program a terminal";
    const struct {
        const char* what;
        QString address;
        int exit;
        QString last; // the final line, on the terminal
    } rows[] = {
        {"a video that downloads", "{ok}", 0, "Complete\t100 KB\t{videos}/ok.flv"},
        {"a 404 page in place of the video", "{gone}", 1,
         "ERROR\t-1 Bytes\t{gone}\tThe server answered 404 (Not Found)."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        const Outcome got = rig.Run({Expand(row.address, rig)},
                                    {.wrapper = QStandardPaths::findExecutable("script")});
        EXPECT_EQ(got.exit, row.exit);
        // The live line is drawn in place and cleared before the final line.
        EXPECT_TRUE(got.out.contains(QStringLiteral("\rputfile.com  ")));
        EXPECT_TRUE(got.out.endsWith("\r\x1b[K" + Expand(row.last, rig) + "\r\n"))
            << qPrintable(got.out);
        // It never shows more than the whole.
        static const QRegularExpression percent(QStringLiteral("(\\d+)%"));
        for (auto it = percent.globalMatch(got.out); it.hasNext();) {
            EXPECT_LE(it.next().captured(1).toInt(), 100) << qPrintable(got.out);
        }
    }
}

TEST(GetCommand, LiveLineFitsTheTerminal) {
    using cli::LiveView;
    const QString longName = QString(200, 'n') + ".flv";
    const struct {
        const char* what;
        LiveView view;
        int width;
        QString line;
    } rows[] = {
        {"a file coming in",
         {"putfile.com", "clip.flv", EntryState::Transferring, 45, "2.6 MB", 1258291,
          "1.2 MB/s, 2 s left", 2726298},
         100,
         "putfile.com  clip.flv  [#########-----------]   45%  1.2 MB of 2.6 MB  1.2 MB/s, 2 s "
         "left"},
        {"a page being read, its address standing for the name",
         {"putfile.com", "http://www.putfile.com/v/123", EntryState::Preparing, 37, "????", 0, ""},
         80,
         "putfile.com  http://www.putfile.com/v/123  Preparing (37%)"},
        {"a file without a length",
         {"blip.tv", "a.flv", EntryState::TransferringUnsized, 1536, "????", 1536, "1 KB/s"},
         80,
         "blip.tv  a.flv  1.5 KB so far  1 KB/s"},
        {"a long name gives way, its end kept",
         {"blip.tv", longName, EntryState::Transferring, 100, "1 KB", 1024, "", 1024},
         80,
         "blip.tv  " + QString(11, 'n') + "..." + QString(8, 'n') +
             ".flv  [####################]  100%  1 KB of 1 KB"},
        {"80 columns: the bar shrinks, then the site goes",
         {"putfile.com", "my clip.flv", EntryState::Transferring, 97, "2.9 MB", 2936012,
          "970.3 KB/s, 1 s left", 3040870},
         80,
         "my clip.flv  [#######-]   97%  2.8 MB of 2.9 MB  970.3 KB/s, 1 s left"},
        {"a terminal too narrow for the rest",
         {"blip.tv", "a.flv", EntryState::Transferring, 50, "1 KB", 512, "", 1024},
         30,
         "a.flv  [####----]   50%  512 "},
        {"a 404 page where no length was given: the size so far only",
         {"putfile.com", "gone.flv", EntryState::Transferring, 170, "-1 Bytes", 170, "", -1},
         80,
         "putfile.com  gone.flv  170 Bytes so far"},
        {"more than the length given: the size so far only",
         {"blip.tv", "a.flv", EntryState::Transferring, 150, "1 KB", 1536, "1 KB/s", 1024},
         80,
         "blip.tv  a.flv  1.5 KB so far  1 KB/s"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const QString line = cli::LiveLine(row.view, row.width);
        EXPECT_EQ(line, row.line);
        EXPECT_LT(line.size(), row.width);
    }
}

// Where a server can hold an entry, SIGTERM ends the program within a second with the entry's
// "Cancelled" line, and leaves no file behind.
TEST(GetCommand, ASignalAtEveryMomentAServerHoldsTheEntryEndsItAtOnce) {
    Reply silent;
    silent.silent = true;
    Reply halfPage = Reply::Ok(PutFilePage("http://127.0.0.1/none.flv") + QByteArray(4000, ' '));
    halfPage.cutAt = 20;
    halfPage.after = Reply::After::Hang;
    Reply halfFile = Reply::Ok(kVideo);
    halfFile.cutAt = 1000;
    halfFile.after = Reply::After::Hang;
    const struct {
        const char* moment;
        QByteArray method, target; // the request held
        Reply hold;
        QString size; // in the line
        bool redirect = false;
    } rows[] = {
        {"the page's headers", "GET", "/putfile.com/held", silent, "????"},
        {"the page's body", "GET", "/putfile.com/held", halfPage, "????"},
        {"the header request", "HEAD", "/held.flv", silent, "????"},
        {"the file's headers", "GET", "/held.flv", silent, "100 KB"},
        {"the file's body", "GET", "/held.flv", halfFile, "100 KB"},
        {"the redirect", "GET", "/v/AbC", silent, "????", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.moment);
        GetRig rig;
        std::unique_ptr<ScriptServer> port80 = row.redirect ? ServerOnPort80() : nullptr;
        if (row.redirect && !port80) {
            std::cout << "[ SKIPPED  ] " << row.moment << ": port 80 can't be had\n";
            continue;
        }
        ScriptServer& server = port80 ? *port80 : rig.server;
        server.onPath(row.method, row.target, row.hold);
        const QString address =
            row.redirect ? ServeYoutube(server, "AbC", Sized(kVideo.size()), Reply::Ok(kVideo))
                         : ServeVideo(server, "held", Sized(kVideo.size()), Reply::Ok(kVideo));
        QElapsedTimer held, sinceSignal;
        server.onRequest = [&](const ScriptServer::Request& request) {
            if (request.method() == row.method && request.target() == row.target)
                held.start();
        };
        const Outcome got = rig.Run({address}, {.during = [&](QProcess& p) {
                                        if (!held.isValid() || !held.hasExpired(300))
                                            return false;
                                        ::kill(pid_t(p.processId()), SIGTERM);
                                        sinceSignal.start();
                                        return true;
                                    }});
        ASSERT_TRUE(sinceSignal.isValid()) << "the request was never held";
        EXPECT_LT(sinceSignal.elapsed(), 1000);
        EXPECT_EQ(got.exit, 143);
        EXPECT_EQ(got.out, "");
        EXPECT_EQ(got.err, "Cancelled\t" + row.size + "\t" + address +
                               "\tStopped before the file was complete.\n");
        EXPECT_EQ(FilesUnder(rig.dir.path()), QStringList());
    }
}

// Several at a time, from --jobs or the settings: a file that comes in stays beside one held
// back; and a speed limit, from --limit-rate or the settings, holds them back together.
TEST(GetCommand, SeveralAtATimeWithinASpeedLimit) {
    const QByteArray large = QByteArray(8 << 20, 'L');
    const struct {
        const char* what;
        QStringList args;
        QString storedCount, storedLimit; // empty: not stored
        bool big;                         // {big1} {big2} (8 MiB each), else {slow} and {ok}
        qint64 leastMs;
    } rows[] = {
        {"--jobs 2", {"--jobs", "2"}, "", "", false, 0},
        {"two in the settings", {}, "2", "", false, 0},
        {"no limit", {"-j", "2"}, "", "", true, 0},
        {"--limit-rate 4M", {"-j", "2", "--limit-rate", "4M"}, "", "", true, 3500},
        {"4 MiB/s in the settings", {}, "2", "4194304", true, 3500},
    };
    qint64 unlimitedMs = -1;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        GetRig rig;
        const QString ini = rig.path("config/Orvello/HKEY_CURRENT_USER.ini");
        if (!row.storedCount.isEmpty())
            CRegister().REGSaveSetting({ini}, modSettings::kSection, modSettings::kSimultaneous,
                                       row.storedCount);
        if (!row.storedLimit.isEmpty())
            CRegister().REGSaveSetting({ini}, modSettings::kSection, modSettings::kSpeedLimit,
                                       row.storedLimit);
        QStringList args = row.args;
        std::function<bool(QProcess&)> during;
        if (row.big) {
            args << ServeVideo(rig.server, "big1", Sized(large.size()), Reply::Ok(large))
                 << ServeVideo(rig.server, "big2", Sized(large.size()), Reply::Ok(large));
        } else {
            // The slow file holds the first place; the second file completes beside it.
            args << rig.slow << rig.ok;
            during = [&](QProcess& p) {
                if (FilesUnder(rig.defaultFolder()) != QStringList{"ok.flv", "slow.flv.part"})
                    return false;
                ::kill(pid_t(p.processId()), SIGTERM);
                return true;
            };
        }
        QElapsedTimer clock;
        clock.start();
        const Outcome got = rig.Run(args, {.during = during});
        const qint64 took = clock.elapsed();
        if (!row.big) {
            EXPECT_EQ(got.exit, 143);
            EXPECT_EQ(got.out, Expand("Complete\t100 KB\t{videos}/ok.flv\n", rig));
            EXPECT_EQ(got.err, Expand("Cancelled\t1000 KB\t{slow}\tStopped before the file was "
                                      "complete.\n",
                                      rig));
            continue;
        }
        EXPECT_EQ(got.exit, 0) << got.err.toStdString();
        EXPECT_EQ(ReadAll(rig.path("home/Downloaded Videos/big1.flv")), large);
        EXPECT_EQ(ReadAll(rig.path("home/Downloaded Videos/big2.flv")), large);
        EXPECT_GE(took, row.leastMs);
        if (row.leastMs == 0) {
            unlimitedMs = took;
        } else {
            EXPECT_LT(unlimitedMs * 2, took) << "no limit: " << unlimitedMs << " ms";
        }
    }
}

// On a terminal, every running entry has a live line of its own, redrawn in place, and each
// final line goes above those still running.
TEST(GetCommand, EachRunningEntryHasItsOwnLiveLine) {
    using cli::LiveView;
    const LiveView a{"putfile.com", "a.flv", EntryState::Preparing, 10, "????", 0, ""};
    const LiveView b{"blip.tv", "b.flv", EntryState::TransferringUnsized, 1536, "????", 1536, ""};
    DownloadItem done;
    done.State = EntryState::Complete;
    done.Status = "Complete";
    done.FileSize = "1 KB";
    done.SavedPath = "/v/c.flv";
    const QString lineA = cli::LiveLine(a, 80), lineB = cli::LiveLine(b, 80);
    const struct {
        const char* what;
        std::function<void(cli::ConsoleReport&)> act;
        QString written; // after the steps before
    } steps[] = {
        {"two lines",
         [&](cli::ConsoleReport& r) {
             r.Live({a, b});
         },
         "\r" + lineA + "\x1b[K\n" + lineB + "\x1b[K"},
        {"redrawn in place",
         [&](cli::ConsoleReport& r) {
             r.Live({a, b});
         },
         "\r\x1b[1A" + lineA + "\x1b[K\n" + lineB + "\x1b[K"},
        {"one line fewer: the one left below is cleared",
         [&](cli::ConsoleReport& r) { r.Live({b}); }, "\r\x1b[1A" + lineB + "\x1b[K\x1b[J"},
        {"three again",
         [&](cli::ConsoleReport& r) {
             r.Live({a, b, a});
         },
         "\r" + lineA + "\x1b[K\n" + lineB + "\x1b[K\n" + lineA + "\x1b[K"},
        {"a final line takes their place", [&](cli::ConsoleReport& r) { r.Finished(done); },
         "\r\x1b[2A\x1b[JComplete\t1 KB\t/v/c.flv\n"},
        {"none running", [&](cli::ConsoleReport& r) { r.Live({}); }, ""},
    };
    qputenv("COLUMNS", "80");
    qputenv("LINES", "24");
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    cli::ConsoleReport report(out, out, true, false);
    long at = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act(report);
        std::fflush(out);
        const long end = std::ftell(out);
        QByteArray written(end - at, '\0');
        std::fseek(out, at, SEEK_SET);
        ASSERT_EQ(std::fread(written.data(), 1, std::size_t(written.size()), out),
                  std::size_t(written.size()));
        EXPECT_EQ(QString::fromUtf8(written), step.written);
        std::fseek(out, 0, SEEK_END);
        at = end;
    }
    std::fclose(out);
}
