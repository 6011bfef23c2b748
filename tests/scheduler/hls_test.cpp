// HLS streams downloaded whole by the run: streams ffmpeg makes once for the test binary,
// served by a private nginx, each row run as the start command runs it. A downloaded file must
// decode without an error and last as long as the source; a failing row ends "ERROR" with its
// reason and leaves no file behind.
#include "Machine.h"
#include "resolve/hls/HlsPlaylist.h"
#include "scheduler/PartialRecord.h"
#include "support/QtPrint.h"
#include "support/RunProgram.h"
#include "support/nginx/NginxServer.h"

#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace orvello;
using namespace orvello::test;

namespace {

constexpr double kSeconds = 6;

QString Tool(const char* name) {
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The streams, made once under the document root of one nginx: ts/, fmp4/, aes/, single/,
// and the three sizes of the master (v160/, v480/, v320/).
class Streams {
public:
    static Streams& Get() {
        static Streams streams;
        return streams;
    }
    NginxServer nginx;
    QString error; // why the streams could not be made or served

    QString Root(const QString& path = {}) const { return nginx.documentRoot() + "/" + path; }
    QByteArray Text(const QString& path) const { return ReadAll(Root(path)); }
    // A copy of `from`'s files in `to`, its playlist edited by `edit`.
    void Variant(const QString& from, const QString& to,
                 const std::function<QByteArray(QByteArray)>& edit) {
        const QByteArray text = edit(Text(from + "/index.m3u8"));
        QDir().mkpath(Root(to));
        for (const QString& name : QDir(Root(from)).entryList(QDir::Files))
            QFile::copy(Root(from + "/" + name), Root(to + "/" + name));
        QFile::remove(Root(to + "/index.m3u8"));
        WriteFile(Root(to + "/index.m3u8"), text);
    }

private:
    Streams() {
        if (Tool("ffmpeg").isEmpty() || Tool("ffprobe").isEmpty()) {
            error = "ffmpeg is not installed";
            return;
        }
        // Under /whole/ a range is answered with the whole resource.
        nginx.addServerConfig(QStringLiteral("location /whole/ { max_ranges 0; }"));
        if (!nginx.start()) {
            error = nginx.errorString();
            return;
        }
        const QByteArray key = QByteArray::fromHex("00112233445566778899aabbccddeeff");
        WriteFile(Root("key.bin"), key);
        WriteFile(Root("keyinfo"),
                  "/key.bin\n" + Root("key.bin").toUtf8() + "\n0f0e0d0c0b0a09080706050403020100\n");
        WriteFile(Root("keyinfo-noiv"), "/key.bin\n" + Root("key.bin").toUtf8() + "\n");
        const auto make = [&](const QString& folder, const QString& size, QStringList args) {
            QDir().mkpath(Root(folder));
            const QStringList common =
                QStringLiteral("-v error -f lavfi -i testsrc=duration=6:size=%1:rate=25 -f lavfi "
                               "-i sine=duration=6 -c:v libx264 -preset ultrafast -g 25 -c:a aac "
                               "-f hls -hls_time 1 -hls_playlist_type vod")
                    .arg(size)
                    .split(QLatin1Char(' '));
            const Ran ran = RunProgram(Tool("ffmpeg"), common + args + QStringList{"index.m3u8"},
                                       120000, Root(folder));
            if (!ran.ok())
                error += ran.output;
        };
        make("ts", "320x240", {});
        make("fmp4", "320x240", {"-hls_segment_type", "fmp4"});
        make("aes", "320x240", {"-hls_key_info_file", Root("keyinfo")});
        make("aes-noiv", "320x240", {"-hls_key_info_file", Root("keyinfo-noiv")});
        make("single", "320x240", {"-hls_flags", "single_file"});
        for (const char* size : {"160x120", "480x360", "320x240"})
            make(QStringLiteral("v%1").arg(QString::fromLatin1(size).section('x', 0, 0)),
                 QString::fromLatin1(size), {});
        WriteFile(
            Root("master.m3u8"),
            "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=300000,RESOLUTION=160x120\nv160/index.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=900000,RESOLUTION=480x360\nv480/index.m3u8\n"
            "#EXT-X-STREAM-INF:BANDWIDTH=600000,RESOLUTION=320x240\nv320/index.m3u8\n");
        // Without an IV the media sequence number is the IV, which ffmpeg also used.
        Variant("aes-noiv", "aes-noiv", [](QByteArray t) {
            return QString::fromLatin1(t)
                .remove(QRegularExpression(QStringLiteral(",IV=0x[0-9a-fA-F]+")))
                .toLatin1();
        });
        Variant("ts", "live", [](QByteArray t) {
            return t.replace("#EXT-X-ENDLIST\n", "").replace("#EXT-X-PLAYLIST-TYPE:VOD\n", "");
        });
        Variant("aes", "sample-aes",
                [](QByteArray t) { return t.replace("METHOD=AES-128", "METHOD=SAMPLE-AES"); });
        Variant("ts", "gap", [](QByteArray t) { return t; });
        Variant("single", "whole", [](QByteArray t) { return t; });
        QFile::remove(Root("gap/index2.ts"));
    }
};

// The file's duration in seconds (ffprobe), -1 when it can't be read.
double Duration(const QString& path) {
    const Ran ran = RunProgram(Tool("ffprobe"), {"-v", "error", "-show_entries", "format=duration",
                                                 "-of", "csv=p=0", path});
    bool ok = false;
    const double seconds = ran.output.trimmed().toDouble(&ok);
    return ran.ok() && ok ? seconds : -1;
}

// What ffmpeg says of the file's decoding: nothing for a sound file.
QString DecodeErrors(const QString& path) {
    const Ran ran = RunProgram(Tool("ffmpeg"), {"-v", "error", "-i", path, "-f", "null", "-"});
    return ran.ok() ? ran.output : "ffmpeg failed: " + ran.output;
}

QStringList Files(const Machine& m) {
    return QDir(m.settings.sDownloadDir).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(HlsDownloads, StreamsAreJoinedIntoOneFileOrEndWithTheirReason) {
    Streams& streams = Streams::Get();
    if (!streams.error.isEmpty())
        GTEST_SKIP() << streams.error.toStdString();
    // Byte ranges of the single file, and their separate keys, are checked by ffmpeg's reading.
    ASSERT_TRUE(streams.Text("single/index.m3u8").contains("#EXT-X-BYTERANGE"));
    ASSERT_FALSE(streams.Text("aes-noiv/index.m3u8").contains("IV="));
    const struct {
        const char* what;
        const char* path;
        const char* file; // empty: the row fails
        QString reason;
        int width = 320;
    } rows[] = {
        {"MPEG-TS", "ts/index.m3u8", "index.ts", ""},
        {"fragmented MP4", "fmp4/index.m3u8", "index.mp4", ""},
        {"AES-128 with an IV", "aes/index.m3u8", "index.ts", ""},
        {"AES-128 without an IV", "aes-noiv/index.m3u8", "index.ts", ""},
        {"one file in byte ranges", "single/index.m3u8", "index.ts", ""},
        {"byte ranges answered with the whole file", "whole/index.m3u8", "index.ts", ""},
        {"a master of three variants: the highest", "master.m3u8", "master.ts", "", 480},
        {"a live playlist", "live/index.m3u8", "", HlsProblemText(HlsProblem::Live)},
        {"SAMPLE-AES", "sample-aes/index.m3u8", "", HlsProblemText(HlsProblem::Drm)},
        {"a fragment that stays 404", "gap/index.m3u8", "",
         "Fragment 3 of 6: The server answered 404 (Not Found)."},
    };
    // One row at a time, so a row that stops at an assertion leaves the others checked.
    const auto check = [&](const auto& row) {
        QTemporaryDir dir;
        Machine m{dir.path()};
        m.list.SetAnySite(true);
        m.Add(streams.nginx.url("/" + QString::fromLatin1(row.path)));
        m.Click();
        m.s.records.Settle();
        const DownloadItem& entry = m.Entry(0);
        if (!*row.file) {
            EXPECT_EQ(entry.Status, "ERROR");
            EXPECT_EQ(entry.Reason, row.reason);
            EXPECT_EQ(Files(m), QStringList());
            return;
        }
        ASSERT_EQ(entry.Status, "Complete") << entry.Reason.toStdString();
        EXPECT_EQ(Files(m), QStringList{row.file});
        const QString out = m.Saved(row.file);
        EXPECT_EQ(entry.SavedPath, out);
        EXPECT_EQ(DecodeErrors(out), QString());
        EXPECT_NEAR(Duration(out), kSeconds, 0.5);
        const Ran probe =
            RunProgram(Tool("ffprobe"), {"-v", "error", "-select_streams", "v:0", "-show_entries",
                                         "stream=width", "-of", "csv=p=0", out});
        EXPECT_EQ(probe.output.section(QLatin1Char('\n'), 0, 0).toInt(), row.width);
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        check(row);
    }
}

// A stream stopped after some of its fragments goes on from the next one in the next program.
TEST(HlsDownloads, AStoppedStreamContinuesFromItsLastFragment) {
    Streams& streams = Streams::Get();
    if (!streams.error.isEmpty())
        GTEST_SKIP() << streams.error.toStdString();
    QTemporaryDir dir;
    const QString address = streams.nginx.url("/ts/index.m3u8");
    qint64 kept = 0;
    {
        Machine m{dir.path()};
        m.list.SetAnySite(true);
        m.Add(address);
        // The first fragment written shows the share of the whole; the stop comes then.
        m.OnFirst([](const DownloadItem& e) { return e.State == EntryState::Transferring; },
                  [&] {
                      QTimer::singleShot(0, [&] {
                          m.prompter.answers = {MsgAnswer::Yes};
                          m.Click();
                      });
                  });
        m.Click();
        ASSERT_EQ(m.Entry(0).Status, "Cancelled");
        m.s.records.Settle();
        ASSERT_EQ(Files(m), QStringList({"index.ts.part", "index.ts.part.json"}));
        kept = QFileInfo(m.Saved("index.ts.part")).size();
        EXPECT_GT(kept, 0);
    }
    Machine m{dir.path()};
    m.list.SetAnySite(true);
    m.Add(address);
    qint64 from = -1;
    QObject::connect(&m.s.runner, &QueueRunner::EntryContinued,
                     [&](quint64, qint64 at, qint64) { from = at; });
    m.Click();
    m.s.records.Settle();
    ASSERT_EQ(m.Entry(0).Status, "Complete") << m.Entry(0).Reason.toStdString();
    EXPECT_EQ(from, kept);
    EXPECT_EQ(Files(m), QStringList{"index.ts"});
    EXPECT_EQ(DecodeErrors(m.Saved("index.ts")), QString());
    EXPECT_NEAR(Duration(m.Saved("index.ts")), kSeconds, 0.5);
}

// A fragment whose server says "try later" is asked for again after the run's waits; one that
// keeps saying so ends the entry naming it, its partial file kept for a later run and no file
// given the final name.
TEST(HlsDownloads, AFragmentThatFailsIsTriedAgainByTheRunsRules) {
    Streams& streams = Streams::Get();
    if (!streams.error.isEmpty())
        GTEST_SKIP() << streams.error.toStdString();
    const struct {
        const char* what;
        int failures; // 503 answers before the fragment comes
        int asked;    // requests of the fragment
        const char* status;
        const char* reason;
        QStringList files;
    } rows[] = {
        {"503 once", 1, 2, "Complete", "", {"index.ts"}},
        {"503 for good",
         99,
         3,
         "ERROR",
         "Fragment 3 of 6: The server answered 503 (Service Unavailable).",
         {"index.ts.part", "index.ts.part.json"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        ScriptServer server;
        int asked = 0;
        server.respond = [&](const ScriptServer::Request& r) -> std::optional<Reply> {
            const QByteArray name = r.target().mid(r.target().lastIndexOf('/') + 1);
            if (name == "index2.ts" && ++asked <= row.failures)
                return Reply::Head({"HTTP/1.1 503 Service Unavailable", "Content-Length: 0"});
            const QByteArray type =
                name.endsWith(".m3u8") ? "application/vnd.apple.mpegurl" : "video/mp2t";
            return Reply::Ok(streams.Text("ts/" + QString::fromLatin1(name)),
                             "Content-Type: " + type + "\r\n");
        };
        Machine m{dir.path()};
        m.s.needs.retry = {.tries = 2, .firstWait = std::chrono::milliseconds(20)};
        m.list.SetAnySite(true);
        m.Add(server.url("/s/index.m3u8"));
        m.Click();
        m.s.records.Settle();
        EXPECT_EQ(m.Entry(0).Status, row.status);
        EXPECT_EQ(m.Entry(0).Reason, row.reason);
        EXPECT_EQ(asked, row.asked);
        EXPECT_EQ(Files(m), row.files);
        if (row.files == QStringList{"index.ts"}) {
            EXPECT_EQ(DecodeErrors(m.Saved("index.ts")), QString());
        }
    }
}

// A stream's record keeps its playlist and fragments; a record written before they were kept
// still reads, and one whose fragment is past the stream's count does not.
TEST(HlsDownloads, RecordsKeepTheFragmentsAndOlderRecordsStillRead) {
    const QByteArray older =
        R"({"version":1,"page":"http://a/p","media":"http://a/v.flv","part":"v.flv.part",)"
        R"("name":"v.flv","etag":"\"e\"","lastModified":"","total":100,"bytes":40,)"
        R"("inode":"7","device":"9"})";
    const struct {
        const char* what;
        QByteArray text;
        bool reads;
        const char* playlist;
        qint64 fragment, fragments;
    } rows[] = {
        {"older", older, true, "", 0, 0},
        {"a stream's",
         QByteArray(older).replace("}", R"(,"playlist":"http://a/i.m3u8","fragment":3,)"
                                        R"("fragments":6})"),
         true, "http://a/i.m3u8", 3, 6},
        {"a fragment past the count",
         QByteArray(older).replace("}", R"(,"playlist":"http://a/i.m3u8","fragment":7,)"
                                        R"("fragments":6})"),
         false, "", 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const std::optional<PartialRecord> r = PartialRecord::Decode(row.text);
        ASSERT_EQ(r.has_value(), row.reads);
        if (!r)
            continue;
        EXPECT_EQ(r->playlist, QString::fromLatin1(row.playlist));
        EXPECT_EQ(r->fragment, row.fragment);
        EXPECT_EQ(r->fragments, row.fragments);
        const std::optional<PartialRecord> again = PartialRecord::Decode(r->Encode());
        ASSERT_TRUE(again);
        EXPECT_EQ(again->Encode(), r->Encode());
    }
}

// A stream a page names is named after the page's title, and every request of it sends the
// page as Referer.
TEST(HlsDownloads, AStreamOnAPageTakesThePagesTitleAndReferer) {
    Streams& streams = Streams::Get();
    if (!streams.error.isEmpty())
        GTEST_SKIP() << streams.error.toStdString();
    QTemporaryDir dir;
    ScriptServer server;
    server.onPath("GET", "/watch",
                  Reply::Ok("<html><head><title>Harbour at dawn</title></head><body><video>"
                            "<source src=\"/hls/index.m3u8\" type=\"application/x-mpegURL\">"
                            "</video></body></html>",
                            "Content-Type: text/html\r\n"));
    server.respond = [&](const ScriptServer::Request& r) -> std::optional<Reply> {
        if (!r.target().startsWith("/hls/"))
            return std::nullopt;
        return Reply::Ok(streams.Text("ts/" + QString::fromLatin1(r.target().mid(5))));
    };
    Machine m{dir.path()};
    m.list.SetAnySite(true);
    m.Add(server.url("/watch"));
    m.Click();
    m.s.records.Settle();
    ASSERT_EQ(m.Entry(0).Status, "Complete") << m.Entry(0).Reason.toStdString();
    EXPECT_EQ(Files(m), QStringList{"Harbour at dawn.ts"});
    EXPECT_EQ(DecodeErrors(m.Saved("Harbour at dawn.ts")), QString());
    int asked = 0;
    for (const ScriptServer::Request& r : server.requests("GET")) {
        if (!r.target().startsWith("/hls/"))
            continue;
        ++asked;
        EXPECT_EQ(r.header("Referer"), server.url("/watch").toLatin1()) << r.target().constData();
    }
    EXPECT_EQ(asked, 7); // the playlist and its six fragments
}
