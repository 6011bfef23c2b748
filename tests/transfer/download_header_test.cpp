// The header request: values read from the answer's header block, the request that is
// sent, and the values left when no readable answer comes.
#include "DownloadEventLog.h"
#include "support/http/ScriptServer.h"
#include "transfer/Download.h"
#include "transfer/HeaderBlock.h"

#include <gtest/gtest.h>

using namespace orvello;
using namespace orvello::test;
using namespace std::chrono_literals;
using namespace Qt::StringLiterals;

namespace {

// A header block of exactly `size` bytes: the lines given, padded with one X-Pad header.
Reply HeadOfSize(const QList<QByteArray>& lines, qsizetype size) {
    QByteArray block;
    for (const QByteArray& line : lines)
        block += line + "\r\n";
    const QByteArray prefix = "X-Pad: ";
    const qsizetype pad = size - block.size() - prefix.size() - 2;
    block += prefix + QByteArray(pad, 'p') + "\r\n";
    EXPECT_EQ(block.size(), size);
    Reply r;
    r.head = block + "\r\n";
    return r;
}

// Gives a Download values that a later request must not leave standing.
void FillWithEarlierValues(Download& d, ScriptServer& server) {
    server.onHead(Reply::Head(
        {"HTTP/1.1 200 OK", "Content-Length: 777", "Last-Modified: Mon, 01 Jan 2007 10:00:00 GMT",
         "Content-Disposition: attachment; filename=old.flv", "Content-Type: video/x-flv"}));
    d.setUrl(server.url(QStringLiteral("/old.flv")));
    d.RequestInformation();
    ASSERT_TRUE(d.FileExists());
    ASSERT_EQ(d.FileSize(), 777.0f);
    ASSERT_EQ(d.RemoteFileName(), QStringLiteral("old.flv"));
}

void ExpectNotMade(const Download& d) {
    EXPECT_FALSE(d.FileExists());
    EXPECT_EQ(d.LastModified(), QStringLiteral("Not Available"));
    EXPECT_EQ(d.FileSize(), -1.0f);
    EXPECT_TRUE(d.RemoteFileName().isEmpty());
    EXPECT_TRUE(d.RemoteFileType().isEmpty());
}

} // namespace

TEST(HeaderBlock, KeysAreFoundInAnyCaseAndValuesKeepTheirOwn) {
    const HeaderValues v = ReadHeaderBlock("HTTP/1.1 200 OK\r\n"
                                           "LAST-MODIFIED: Tue, 15 Nov 1994 08:12:31 GMT\r\n"
                                           "content-length: 1234\r\n"
                                           "Content-Disposition: attachment; "
                                           "filename=\"My Clip.FLV\"; size=1234\r\n"
                                           "Content-Type: Video/X-FLV\r\n");
    EXPECT_TRUE(v.fileExists);
    EXPECT_EQ(v.lastModified, QStringLiteral("Tue, 15 Nov 1994 08:12:31 GMT"));
    EXPECT_EQ(v.fileSize, 1234.0f);
    EXPECT_EQ(v.remoteFileName, QStringLiteral("My Clip.FLV"));
    EXPECT_EQ(v.remoteFileType, QStringLiteral("X-FLV"));
}

TEST(HeaderBlock, MissingAndOddValues) {
    const HeaderValues none = ReadHeaderBlock("HTTP/1.1 200 OK\r\nServer: x\r\n");
    EXPECT_EQ(none.lastModified, QStringLiteral("Not Available"));
    EXPECT_EQ(none.fileSize, -1.0f);
    EXPECT_TRUE(none.remoteFileName.isEmpty());
    EXPECT_TRUE(none.remoteFileType.isEmpty());
    EXPECT_FALSE(none.badContentLength);

    // Not a number: read as missing, not as 0 and not as a failure.
    const HeaderValues bad = ReadHeaderBlock("HTTP/1.1 200 OK\r\nContent-Length: lots\r\n");
    EXPECT_EQ(bad.fileSize, -1.0f);
    EXPECT_TRUE(bad.badContentLength);

    // Bare LF line ends, and a last line without any line end.
    const HeaderValues lf =
        ReadHeaderBlock("HTTP/1.1 200 OK\nContent-Length: 42\nContent-Type: text/html");
    EXPECT_EQ(lf.fileSize, 42.0f);
    EXPECT_EQ(lf.remoteFileType, QStringLiteral("html"));

    // A type without "/" is taken whole.
    EXPECT_EQ(ReadHeaderBlock("HTTP/1.1 200 OK\r\nContent-Type: flv\r\n").remoteFileType,
              QStringLiteral("flv"));
}

// One row per Content-Disposition value: the name a server means by it.
TEST(DispositionFileName, ParametersAreReadAsServersSendThem) {
    const struct {
        QByteArray value;
        QString name;
    } rows[] = {
        // A quoted name ends at its closing quote, a plain one at ";", blanks trimmed.
        {"attachment; filename=\"a.flv\"; size=9", "a.flv"},
        {"attachment; filename= a b.flv ; size=9", "a b.flv"},
        {"inline; filename=\"a \\\"b\\\"; c\\\\d.flv\"; size=1", u"a \"b\"; c\\d.flv"_s},
        // A quote never closed runs to the end of the value.
        {"attachment; filename=\"a.flv; size=9", "a.flv; size=9"},
        // The extended name wins in either order, with or without a language.
        {"attachment; filename*=UTF-8''%C3%A9t%C3%A9.flv", u"\u00E9t\u00E9.flv"_s},
        {"attachment; filename*=UTF-8'fr'%C3%A9t%C3%A9.flv; filename=\"ete.flv\"",
         u"\u00E9t\u00E9.flv"_s},
        {"attachment; filename=\"eur.flv\"; filename*=utf-8'en-GB'%E2%82%AC%20rates.flv",
         u"\u20AC rates.flv"_s},
        {"attachment; filename*=ISO-8859-1'de'%E9t%E9.flv; filename=x.flv", u"\u00E9t\u00E9.flv"_s},
        // A declared Latin-1 is read as Latin-1; UTF-8 that is not valid is read as Latin-1.
        {"attachment; filename*=iso-8859-1''%C3%A9.flv", u"\u00C3\u00A9.flv"_s},
        {"attachment; filename*=UTF-8''%E9t%E9.flv", u"\u00E9t\u00E9.flv"_s},
        // A "%" without two hexadecimal digits after it stays.
        {"attachment; filename*=UTF-8''100%25%zz%4.flv", "100%%zz%4.flv"},
        // An extended name that can't be read leaves the plain one.
        {"attachment; filename=\"b.flv\"; filename*=KOI8-R''%C1.flv", "b.flv"},
        {"attachment; filename=\"b.flv\"; filename*=%C3%A9.flv", "b.flv"},
        // Plain names: valid UTF-8 is read as UTF-8, other bytes as Latin-1.
        {"attachment; filename=\"\xC3\xA9t\xC3\xA9.flv\"", u"\u00E9t\u00E9.flv"_s},
        {"attachment; filename=caf\xE9.flv; x=1", u"caf\u00E9.flv"_s},
        // Only the parameter itself counts, and the first of two.
        {"attachment; title=\"x; filename=evil.sh\"; filename=good.flv", "good.flv"},
        {"attachment; filename=a.flv; filename=b.flv", "a.flv"},
    };
    for (const auto& r : rows)
        EXPECT_EQ(DispositionFileName(r.value), r.name) << r.value.toStdString();
}

// One row per header block: the served name and the length it gives.
TEST(HeaderBlock, NamesAndLengthsAreReadFromTheirFields) {
    constexpr qint64 kNone = -1;
    const struct {
        QList<QByteArray> lines; // after the status line
        QString name;
        qint64 length;
        bool badLength;
    } rows[] = {
        {{"CONTENT-DISPOSITION: ATTACHMENT; FILENAME=\"A.FLV\""}, "A.FLV", kNone, false},
        {{"Content-Disposition: attachment;", "\tfilename=\"long name.flv\""},
         "long name.flv",
         kNone,
         false},
        {{"Content-Disposition: inline", "Content-Disposition: attachment; filename=b.flv; size=3"},
         "b.flv",
         kNone,
         false},
        {{"X-Note: filename=evil.sh", "Content-Disposition: attachment; filename=a.flv"},
         "a.flv",
         kNone,
         false},
        // Lengths: digits alone, blanks around them, up to 2^63 - 1, exactly.
        {{"Content-Length:\t42 "}, "", 42, false},
        {{"Content-Length: 4294967297"}, "", 4294967297, false},
        {{"Content-Length: 9223372036854775807"}, "", INT64_MAX, false},
        {{"X-Content-Length: 99", "Content-Length: 5"}, "", 5, false},
        // Anything else is no length, and said to be a bad one.
        {{"Content-Length: 1e30"}, "", kNone, true},
        {{"Content-Length: -5"}, "", kNone, true},
        {{"Content-Length: +5"}, "", kNone, true},
        {{"Content-Length: 1.5"}, "", kNone, true},
        {{"Content-Length: 9223372036854775808"}, "", kNone, true},
        {{"Content-Length: 10", "Content-Length: 20"}, "", kNone, true},
    };
    for (const auto& r : rows) {
        const QByteArray block = "HTTP/1.1 200 OK\r\n" + r.lines.join("\r\n") + "\r\n";
        SCOPED_TRACE(block.toStdString());
        const HeaderValues v = ReadHeaderBlock(block);
        EXPECT_EQ(v.remoteFileName, r.name);
        EXPECT_EQ(v.length, r.length);
        EXPECT_EQ(v.fileSize, r.length >= 0 ? float(r.length) : -1.0f);
        EXPECT_EQ(v.badContentLength, r.badLength);
    }
}

TEST(HeaderBlock, OnlyTheTwoVersionOne404LinesMeanMissing) {
    EXPECT_FALSE(ReadHeaderBlock("HTTP/1.1 404 Not Found\r\n").fileExists);
    EXPECT_FALSE(ReadHeaderBlock("http/1.1 404 file not found\r\n").fileExists);
    EXPECT_TRUE(ReadHeaderBlock("HTTP/1.0 404 Not Found\r\n").fileExists);
    EXPECT_TRUE(ReadHeaderBlock("HTTP/1.1 404 Gone Away\r\n").fileExists);
    EXPECT_TRUE(ReadHeaderBlock("HTTP/1.1 500 Internal Server Error\r\n").fileExists);
}

TEST(RequestInformation, ReadsTheValuesOfTheAnswer) {
    ScriptServer server;
    server.onHead(Reply::Head({"HTTP/1.0 200 OK", "Last-Modified: Sat, 02 Jun 2007 11:00:00 GMT",
                               "Content-Length: 5242880",
                               "Content-Disposition: inline; filename=\"talk.flv\"",
                               "Content-Type: video/x-flv"}));
    Download d;
    d.setUrl(server.url(QStringLiteral("/get/talk.flv?id=7")));
    d.RequestInformation();
    EXPECT_TRUE(d.FileExists());
    EXPECT_EQ(d.LastModified(), QStringLiteral("Sat, 02 Jun 2007 11:00:00 GMT"));
    EXPECT_EQ(d.FileSize(), 5242880.0f);
    EXPECT_EQ(d.RemoteFileName(), QStringLiteral("talk.flv"));
    EXPECT_EQ(d.RemoteFileType(), QStringLiteral("x-flv"));
}

TEST(RequestInformation, SendsAHeadRequestToTheAddressGiven) {
    ScriptServer server;
    server.onHead(Reply::Head({"HTTP/1.1 200 OK"}));
    Download d;
    d.setSitePassword(QStringLiteral("secret")); // alone: no credentials
    d.setUrl(server.url(QStringLiteral("/a/b.flv?x=1")));
    d.RequestInformation();
    // Without a scheme and without a path, the root of the server is asked.
    d.setUrl(QStringLiteral("127.0.0.1:%1").arg(server.port()));
    d.RequestInformation();
    d.setSiteUser(QStringLiteral("alice"));
    d.RequestInformation();

    const auto heads = server.requests("HEAD");
    ASSERT_EQ(heads.size(), 3u);
    EXPECT_TRUE(heads[0].raw.startsWith("HEAD /a/b.flv?x=1 HTTP/1.0\r\n"))
        << heads[0].raw.toStdString();
    EXPECT_EQ(heads[0].header("Host"), "127.0.0.1:" + QByteArray::number(server.port()));
    EXPECT_EQ(heads[0].header("User-Agent"),
              "Mozilla/4.0 (compatible; MSIE 5.0; Windows NT; DigExt)");
    EXPECT_TRUE(heads[0].header("Authorization").isNull());
    EXPECT_TRUE(heads[1].raw.startsWith("HEAD / HTTP/1.0\r\n")) << heads[1].raw.toStdString();
    EXPECT_TRUE(heads[1].header("Authorization").isNull());
    EXPECT_EQ(heads[2].header("Authorization"), "Basic " + QByteArray("alice:secret").toBase64());
}

TEST(RequestInformation, NotFoundLinesAndOtherStatuses) {
    ScriptServer server;
    server.onHead(Reply::Head({"HTTP/1.1 404 Not Found", "Content-Length: 12"}));
    server.onHead(Reply::Head({"HTTP/1.1 404 FILE NOT FOUND"}));
    server.onHead(Reply::Head({"HTTP/1.0 404 Not Found"}));
    server.onHead(Reply::Head({"HTTP/1.1 403 Forbidden"}));
    Download d;
    d.setUrl(server.url());
    const bool expected[] = {false, false, true, true};
    for (bool exists : expected) {
        d.RequestInformation();
        EXPECT_EQ(d.FileExists(), exists);
    }
}

TEST(RequestInformation, FollowsRedirectsAndReadsTheFinalAnswer) {
    ScriptServer server;
    server.onHead(Reply::Head({"HTTP/1.1 302 Found", "Location: /final.flv", "Content-Length: 0",
                               "Content-Disposition: attachment; filename=wrong.flv",
                               "Content-Type: text/html"}));
    server.onHead(Reply::Head({"HTTP/1.1 200 OK", "Content-Length: 99"}));
    Download d;
    d.setUrl(server.url(QStringLiteral("/start")));
    d.RequestInformation();
    EXPECT_TRUE(d.FileExists());
    EXPECT_EQ(d.FileSize(), 99.0f);
    EXPECT_TRUE(d.RemoteFileName().isEmpty());
    EXPECT_TRUE(d.RemoteFileType().isEmpty());
    const auto heads = server.requests("HEAD");
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_TRUE(heads[1].raw.startsWith("HEAD /final.flv ")) << heads[1].raw.toStdString();
}

TEST(RequestInformation, BlocksOver1024BytesFallBackToTheStatusCode) {
    ScriptServer server;
    const QList<QByteArray> ok = {"HTTP/1.1 200 OK", "Content-Length: 500",
                                  "Content-Type: video/mp4", "Content-Disposition: a; filename=x"};
    server.onHead(HeadOfSize(ok, 1024));
    server.onHead(HeadOfSize(ok, 1025));
    server.onHead(HeadOfSize({"HTTP/1.1 301 Moved", "Content-Length: 500"}, 1500));

    Download d;
    d.setUrl(server.url());
    d.RequestInformation(); // fits: read in full
    EXPECT_EQ(d.FileSize(), 500.0f);
    EXPECT_EQ(d.RemoteFileType(), QStringLiteral("mp4"));

    d.RequestInformation(); // one byte too many: only the status is known
    EXPECT_TRUE(d.FileExists());
    EXPECT_EQ(d.FileSize(), -1.0f);
    EXPECT_EQ(d.LastModified(), QStringLiteral("Not Available"));
    EXPECT_TRUE(d.RemoteFileName().isEmpty()); // never the earlier answer's name
    EXPECT_TRUE(d.RemoteFileType().isEmpty());

    d.RequestInformation(); // a status other than 200
    EXPECT_FALSE(d.FileExists());
}

TEST(RequestInformation, RequestsThatCannotBeMadeLeaveNoEarlierValues) {
    ScriptServer server;
    Download d;
    d.setLimits({.headers = 300ms});

    FillWithEarlierValues(d, server);
    d.setUrl(QStringLiteral("http://127.0.0.1:%1/x.flv").arg(ScriptServer::ClosedPort()));
    d.RequestInformation();
    ExpectNotMade(d);

    FillWithEarlierValues(d, server);
    ScriptServer silent;
    Reply never;
    never.silent = true;
    silent.onHead(never);
    d.setUrl(silent.url());
    d.RequestInformation(); // answers nothing: the time-out ends the request
    ExpectNotMade(d);
    EXPECT_EQ(silent.requests("HEAD").size(), 1u);

    FillWithEarlierValues(d, server);
    d.setUrl(QStringLiteral("ftp://127.0.0.1:%1/x.flv").arg(server.port()));
    d.RequestInformation(); // a scheme other than http and https
    ExpectNotMade(d);
}
