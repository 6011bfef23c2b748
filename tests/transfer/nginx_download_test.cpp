// Download against a real web server: a private nginx on loopback. Header values are
// compared with what the curl command line reports for the same address.
#include "support/nginx/NginxServer.h"

#include "transfer/Download.h"

#include <QFile>
#include <QMap>
#include <QProcess>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

using orvello::Download;
using orvello::test::NginxServer;
namespace pattern = orvello::test::pattern;

namespace {

// What `curl -sI` shows for an address: the status line and the header values, with
// lower-case names.
struct CurlHead {
    QByteArray statusLine;
    QMap<QByteArray, QByteArray> headers;
    QByteArray value(const char* name) const { return headers.value(QByteArray(name)); }
};

// curl is told to present itself as Download does: nginx answers that agent differently
// (it pads error pages for it), so the comparison also shows that the agent was sent.
const QString kAgent = QStringLiteral("Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)");

QByteArray runCurl(const QStringList& args) {
    QProcess curl;
    curl.start(QStringLiteral("curl"), QStringList{QStringLiteral("-A"), kAgent} + args);
    if (!curl.waitForStarted(10000) || !curl.waitForFinished(60000) || curl.exitCode() != 0) {
        ADD_FAILURE() << "curl " << args.join(' ').toStdString() << " failed";
        return {};
    }
    return curl.readAllStandardOutput();
}

CurlHead curlHead(const QString& url) {
    CurlHead head;
    const QList<QByteArray> lines = runCurl({QStringLiteral("-sI"), url}).split('\n');
    for (QByteArray line : lines) {
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (head.statusLine.isEmpty()) {
            head.statusLine = line;
            continue;
        }
        const int colon = line.indexOf(':');
        if (colon > 0)
            head.headers.insert(line.left(colon).toLower(), line.mid(colon + 1).trimmed());
    }
    return head;
}

// The events a transfer raised, in order.
struct Event {
    enum Kind { Progress, Complete, Error, Cancelled } kind;
    qint64 value = 0;
    QString text;
};

struct Recorder {
    std::vector<Event> events;
    std::function<void(qint32)> onProgress;

    explicit Recorder(Download& d) {
        QObject::connect(
            &d, &Download::DownloadProgress, &d,
            [this](qint32& p) {
                events.push_back({Event::Progress, p, {}});
                if (onProgress)
                    onProgress(p);
            },
            Qt::DirectConnection);
        QObject::connect(
            &d, &Download::DownloadComplete, &d,
            [this] {
                events.push_back({Event::Complete, 0, {}});
            },
            Qt::DirectConnection);
        QObject::connect(
            &d, &Download::DownloadError, &d,
            [this](const QString& t) {
                events.push_back({Event::Error, 0, t});
            },
            Qt::DirectConnection);
        QObject::connect(
            &d, &Download::DownloadCancelled, &d,
            [this](qint32& p) {
                events.push_back({Event::Cancelled, p, {}});
            },
            Qt::DirectConnection);
    }

    std::vector<qint64> progress() const {
        std::vector<qint64> values;
        for (const Event& e : events)
            if (e.kind == Event::Progress)
                values.push_back(e.value);
        return values;
    }
};

// Checks the shape of a completed transfer of size bytes whose FileSize was known: only
// progress events, then one completion; percentages that never go back and end with two
// 100s (the last block and the empty read that follows it); at least one event per
// 2048-byte block.
void expectCompletedWithPercentages(const Recorder& rec, qint64 size) {
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events.back().kind, Event::Complete);
    const std::vector<qint64> values = rec.progress();
    EXPECT_EQ(values.size() + 1, rec.events.size()) << "only progress events before the end";
    EXPECT_GE(qint64(values.size()), (size + 2047) / 2048 + 1);
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
    ASSERT_GE(values.size(), 2u);
    EXPECT_EQ(values[values.size() - 1], 100);
    EXPECT_EQ(values[values.size() - 2], 100);
}

class NginxDownloadTest : public ::testing::Test {
protected:
    static constexpr qint64 kBigSize = 8 * 1024 * 1024 + 1234; // last block is short
    static constexpr std::uint64_t kBigSeed = 7;

    static void SetUpTestSuite() {
        server = std::make_unique<NginxServer>();
        server->addServerConfig(QStringLiteral(
            "        location /named/ {\n"
            "            add_header Content-Disposition 'attachment; filename=\"clip one.flv\"';\n"
            "        }\n"));
        ASSERT_TRUE(server->start()) << server->errorString().toStdString();
        ASSERT_FALSE(server->createFile(QStringLiteral("big.flv"), kBigSize, kBigSeed).isEmpty());
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override { ASSERT_TRUE(server && server->isRunning()) << "nginx did not start"; }

    static QString out(const QString& name) { return server->scratchDir() + '/' + name; }

    static bool fetch(Download& d, const QString& path, const QString& local) {
        d.setUrl(server->url(path));
        d.setLocalFile(local);
        d.RequestInformation();
        return d.StartDownload();
    }

    static inline std::unique_ptr<NginxServer> server;
};

TEST_F(NginxDownloadTest, TransfersFilesByteForByte) {
    Download d;
    Recorder rec(d);
    const QString local = out(QStringLiteral("big.out"));
    ASSERT_TRUE(fetch(d, QStringLiteral("/big.flv"), local));
    QString problem;
    EXPECT_TRUE(pattern::fileMatches(local, kBigSize, kBigSeed, &problem)) << problem.toStdString();
    expectCompletedWithPercentages(rec, kBigSize);

    // The same instance again, for a different file: the session closed by the first
    // transfer is opened anew, and nothing of the first file leaks into the second.
    const qint64 size2 = 3 * 1024 * 1024;
    ASSERT_FALSE(server->createFile(QStringLiteral("videos/second.mp4"), size2, 99).isEmpty());
    rec.events.clear();
    const QString local2 = out(QStringLiteral("second.out"));
    ASSERT_TRUE(fetch(d, QStringLiteral("/videos/second.mp4"), local2));
    EXPECT_EQ(d.FileSize(), float(size2));
    EXPECT_TRUE(pattern::fileMatches(local2, size2, 99, &problem)) << problem.toStdString();
    expectCompletedWithPercentages(rec, size2);
}

TEST_F(NginxDownloadTest, CancelInProgressHandlerKeepsExactlyTheBytesCounted) {
    Download d;
    Recorder rec(d);
    rec.onProgress = [&d](qint32 percent) {
        if (percent >= 30)
            d.CancelDownload();
    };
    const QString local = out(QStringLiteral("cancelled.out"));
    EXPECT_FALSE(fetch(d, QStringLiteral("/big.flv"), local));

    ASSERT_FALSE(rec.events.empty());
    const Event last = rec.events.back();
    ASSERT_EQ(last.kind, Event::Cancelled);
    EXPECT_GT(last.value, 0);
    EXPECT_LT(last.value, kBigSize);
    // The handler that asked for the cancellation was the last progress event.
    ASSERT_GE(rec.events.size(), 2u);
    EXPECT_EQ(rec.events[rec.events.size() - 2].kind, Event::Progress);
    EXPECT_EQ(rec.progress().back(), 30);
    // The partial file holds exactly the bytes counted, and they are the served ones.
    QString problem;
    EXPECT_TRUE(pattern::fileMatches(local, last.value, kBigSeed, &problem))
        << problem.toStdString();

    // The instance is usable again: a later transfer runs to its end.
    rec.onProgress = nullptr;
    rec.events.clear();
    QFile::remove(local);
    ASSERT_TRUE(fetch(d, QStringLiteral("/big.flv"), local));
    EXPECT_TRUE(pattern::fileMatches(local, kBigSize, kBigSeed, &problem)) << problem.toStdString();
    expectCompletedWithPercentages(rec, kBigSize);
}

TEST_F(NginxDownloadTest, HeaderValuesMatchCurl) {
    ASSERT_FALSE(
        server->createFile(QStringLiteral("page.html"), QByteArray("<p>hi</p>\n")).isEmpty());
    ASSERT_FALSE(server->createFile(QStringLiteral("notes.txt"), 5000, 3).isEmpty());
    ASSERT_FALSE(server->createFile(QStringLiteral("named/clip.bin"), 4096, 4).isEmpty());
    // Past 2^24 bytes a single-precision size is rounded; it must be rounded the same way.
    ASSERT_FALSE(server->createFile(QStringLiteral("odd size.webm"), (1 << 24) + 3, 5).isEmpty());

    for (const char* path :
         {"/big.flv", "/page.html", "/notes.txt", "/named/clip.bin", "/odd%20size.webm"}) {
        const QString url = server->url(QString::fromLatin1(path));
        SCOPED_TRACE(url.toStdString());
        const CurlHead head = curlHead(url);
        ASSERT_TRUE(head.statusLine.startsWith("HTTP/1.1 200")) << head.statusLine.constData();

        Download d;
        d.setUrl(url);
        d.RequestInformation();
        EXPECT_TRUE(d.FileExists());
        EXPECT_EQ(d.FileSize(), head.value("content-length").toFloat());
        EXPECT_EQ(d.ExactLength(), head.value("content-length").toLongLong()); // never rounded
        EXPECT_EQ(d.LastModified(), QString::fromLatin1(head.value("last-modified")));
        const QByteArray type = head.value("content-type");
        EXPECT_EQ(d.RemoteFileType(), QString::fromLatin1(type.mid(type.indexOf('/') + 1)));
        // The quoted name alone, as the configuration gives it for /named/.
        const QByteArray disposition = head.value("content-disposition");
        EXPECT_EQ(d.RemoteFileName(),
                  disposition.isEmpty() ? QString() : QStringLiteral("clip one.flv"));
    }
}

TEST_F(NginxDownloadTest, MissingFileIsReportedAbsentButItsErrorPageIsTransferred) {
    const QString url = server->url(QStringLiteral("/no/such/video.flv"));
    const CurlHead head = curlHead(url);
    ASSERT_EQ(head.statusLine, QByteArray("HTTP/1.1 404 Not Found"));

    Download d;
    d.setUrl(url);
    d.RequestInformation();
    EXPECT_FALSE(d.FileExists());
    EXPECT_EQ(d.FileSize(), head.value("content-length").toFloat());
    EXPECT_EQ(d.LastModified(), QStringLiteral("Not Available"));
    EXPECT_EQ(d.RemoteFileType(), QStringLiteral("html"));
    EXPECT_EQ(d.RemoteFileName(), QString());

    Recorder rec(d);
    const QString local = out(QStringLiteral("missing.out"));
    d.setLocalFile(local);
    EXPECT_TRUE(d.StartDownload());
    ASSERT_FALSE(rec.events.empty());
    EXPECT_EQ(rec.events.back().kind, Event::Complete);
    QFile file(local);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray body = file.readAll();
    EXPECT_EQ(body, runCurl({QStringLiteral("-s"), url}));
    EXPECT_TRUE(body.contains("404 Not Found"));
}

} // namespace
