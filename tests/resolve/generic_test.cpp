// The generic resolver: where the video is on pages no site knows
// (tests/resolve/pages/generic/cases.tsv), what an answer is, the script literals it reads,
// and the names it gives.
#include "resolve/generic/GenericName.h"
#include "resolve/generic/GenericPage.h"
#include "resolve/generic/ScriptValues.h"
#include "support/QtPrint.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <string_view>

using namespace orvello;
using namespace std::string_view_literals;

namespace {

struct PageCase {
    int line;
    QString file, address, answer, result, expected, title, name;
};

std::vector<PageCase> LoadCases(const QDir& folder) {
    std::vector<PageCase> cases;
    QFile tsv(folder.filePath(QStringLiteral("cases.tsv")));
    if (!tsv.open(QIODevice::ReadOnly))
        return cases;
    int line = 0;
    for (const QString& text : QString::fromUtf8(tsv.readAll()).split(QLatin1Char('\n'))) {
        ++line;
        if (text.trimmed().isEmpty() || text.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = text.split(QLatin1Char('\t'));
        if (f.size() == 7)
            cases.push_back({line, f[0], f[1], f[2], f[3], f[4], f[5], f[6]});
        else
            ADD_FAILURE() << "malformed line " << line << ": " << text.toStdString();
    }
    return cases;
}

// The result column: the finding's outcome and kind, or the miss's reason.
QString ResultOf(const PageFinding& f) {
    switch (f.outcome) {
    case PageFinding::Outcome::Media:
        return f.kind == MediaKind::Hls    ? "hls"
               : f.kind == MediaKind::Dash ? "dash-media"
                                           : "direct";
    case PageFinding::Outcome::Refresh:
        return "refresh";
    case PageFinding::Outcome::Miss:
        break;
    }
    const std::pair<const QString*, const char*> reasons[] = {
        {&kReasonScriptFed, "script"}, {&kReasonChallenge, "challenge"}, {&kReasonDrm, "drm"},
        {&kReasonLive, "live"},        {&kReasonDashOnly, "dash"},       {&kReasonNoVideo, "none"}};
    for (const auto& [text, key] : reasons) {
        if (f.reason == *text)
            return QLatin1String(key);
    }
    return "reason: " + f.reason;
}

} // namespace

TEST(GenericPages, EachPageGivesItsVideoOrSaysWhyNot) {
    const QDir folder(QStringLiteral(ORVELLO_PAGES "/generic"));
    const std::vector<PageCase> cases = LoadCases(folder);
    ASSERT_GE(cases.size(), 30u);
    for (const PageCase& c : cases) {
        SCOPED_TRACE("cases.tsv line " + std::to_string(c.line) + ": " + c.file.toStdString());
        QFile page(folder.filePath(c.file));
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        PageInput in;
        in.body = page.readAll();
        const QStringList answer = c.answer.split(QStringLiteral(" | "));
        in.contentType = answer.front().toUtf8();
        in.challenge = answer.contains(QStringLiteral("cf-mitigated: challenge"));
        in.address = QUrl(c.address);
        ASSERT_EQ(ClassifyAnswer(in.contentType, in.body), AnswerKind::Html);

        const PageFinding f = FindVideoOnPage(in);
        EXPECT_EQ(ResultOf(f), c.result);
        EXPECT_EQ(f.address, c.expected);
        EXPECT_EQ(f.title, c.title);
        if (!c.name.isEmpty()) {
            EXPECT_EQ(GenericFileName(f.title, f.address, ExtensionFor(f.address, {})), c.name);
        }
    }
}

// Pages made to cost time or memory: each is read in bounded time (markup that costs the
// parser time in the square of its length is read only as far as its time allows), and the
// nesting bounds hold (a video nested deeper than the parser reads is not found; one within
// it is).
TEST(GenericPages, HostilePagesAreReadInBoundedTime) {
    auto repeat = [](const QByteArray& unit, qsizetype bytes) {
        return unit.repeated(bytes / unit.size());
    };
    const QByteArray video = "<video src=\"/v.mp4\"></video>";
    const struct {
        const char* what;
        QByteArray body;
        const char* result;
    } rows[] = {
        {"200 nested elements around a video", QByteArray("<div>").repeated(200) + video, "direct"},
        {"300 nested elements around a video (deeper than read)",
         QByteArray("<div>").repeated(300) + video, "none"},
        {"8 MiB of nested elements", repeat("<div>", kMaxPageBytes), "none"},
        {"250 open elements, then 8 MiB of end tags that close none",
         QByteArray("<div>").repeated(250) + repeat("</a>", kMaxPageBytes - 1250), "none"},
        {"8 MiB of attributes on one element", "<video " + repeat("a=1 ", kMaxPageBytes - 16) + ">",
         "script"},
        {"a start tag with 800,000 different attributes",
         [] {
             QByteArray tag = "<video";
             for (int i = 0; tag.size() < kMaxPageBytes - 16; ++i)
                 tag += " a" + QByteArray::number(i) + "=1";
             return tag + ">";
         }(),
         "script"},
        {"8 MiB of nested arrays in a script",
         "<script>x.setup(" + repeat("[", kMaxPageBytes - 32) + "</script>", "script"},
        {"8 MiB of nested objects in JSON-LD",
         "<script type=\"application/ld+json\">" + repeat("{\"a\":", kMaxPageBytes - 64) +
             "</script>",
         "none"},
        {"an 8 MiB string in a script", "<script>x.src('" + repeat("a", kMaxPageBytes - 32),
         "script"},
        {"a page longer than read: the video after 8 MiB is not seen",
         repeat("<p>", kMaxPageBytes) + video, "none"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        PageInput in;
        in.body = row.body;
        in.address = QUrl(QStringLiteral("https://www.example.com/x"));
        QElapsedTimer clock;
        clock.start();
        const PageFinding f = FindVideoOnPage(in);
        EXPECT_EQ(ResultOf(f), QLatin1String(row.result));
        EXPECT_LT(clock.elapsed(), 30000); // kMaxReadCpuSeconds, on a machine shared with others
    }
}

TEST(ClassifyAnswer, TheTypeAndTheFirstBytesTellWhatAnAnswerIs) {
    const struct {
        QByteArray type;
        std::string_view bytes;
        AnswerKind kind;
    } rows[] = {
        // Types that decide, parameters and letter case ignored.
        {"video/mp4",
         "\0\0\0\x18"
         "ftypisom"sv,
         AnswerKind::Media},
        {"VIDEO/WEBM; codecs=vp9", "", AnswerKind::Media},
        {"audio/mpeg", "ID3", AnswerKind::Media},
        {"video/mp4", "<html>", AnswerKind::Media},
        {"application/vnd.apple.mpegurl", "", AnswerKind::HlsPlaylist},
        {"Application/X-MpegURL; charset=utf-8", "#EXTM3U", AnswerKind::HlsPlaylist},
        {"audio/mpegurl", "", AnswerKind::HlsPlaylist},
        {"audio/x-mpegurl", "", AnswerKind::HlsPlaylist},
        {"application/dash+xml", "", AnswerKind::DashManifest},
        // Bodies that decide, after a byte-order mark and blanks.
        {"application/octet-stream", "#EXTM3U\n#EXT-X-VERSION:3\n", AnswerKind::HlsPlaylist},
        {"text/plain", "\xEF\xBB\xBF \r\n\t#EXTM3U", AnswerKind::HlsPlaylist},
        {"",
         "\xFF\xFE#\0E\0X\0T\0M\0"
         "3\0U\0"sv,
         AnswerKind::HlsPlaylist},
        {"application/xml",
         "<?xml version=\"1.0\"?>\n<!-- made by a packager -->\n<MPD xmlns=\"urn:mpeg:dash\">",
         AnswerKind::DashManifest},
        {"", "<MPD>", AnswerKind::DashManifest},
        {"text/xml", "<MPDX>", AnswerKind::Html},
        {"text/html", "<!DOCTYPE html><html>", AnswerKind::Html},
        {"", "  \n<html>", AnswerKind::Html},
        {"application/octet-stream", "<html>", AnswerKind::Html},
        {"", "\xEF\xBB\xBF<html>", AnswerKind::Html},
        {"", "\xFE\xFF\0<\0h\0t"sv, AnswerKind::Html},
        {"application/xhtml+xml", "<?xml version=\"1.0\"?><html>", AnswerKind::Html},
        // A page's type with text that is not markup yet: still a page.
        {"text/html; charset=utf-8", "Warning: include(): failed\n<!DOCTYPE html>",
         AnswerKind::Html},
        {"text/html", "", AnswerKind::Html},
        // A page's type on a file's bytes, and every other body: a direct file.
        {"text/html",
         "\0\0\0\x18"
         "ftypisom"sv,
         AnswerKind::Media},
        {"application/octet-stream", "\x1A\x45\xDF\xA3", AnswerKind::Media},
        {"text/plain", "hello", AnswerKind::Media},
        {"", "", AnswerKind::Media},
        {"", "FLV\x01\x05", AnswerKind::Media},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ClassifyAnswer(row.type, QByteArrayView(row.bytes.data(), row.bytes.size())),
                  row.kind)
            << row.type.toStdString() << " / " << row.bytes;
    }
}

TEST(GenericFileName, TheTitleOrTheAddressTailWithTheContainersExtension) {
    const struct {
        QString title, address, extension, name;
    } rows[] = {
        {"Harbour at dusk", "https://x.example/a.mp4", ".mp4", "Harbour at dusk.mp4"},
        {"  Harbour \n at\tdusk  ", "https://x.example/a.mp4", ".mp4", "Harbour at dusk.mp4"},
        {"clip.MP4", "https://x.example/a.mp4", ".mp4", "clip.MP4"}, // not doubled
        {"The end. ", "https://x.example/a.mp4", ".mp4", "The end.mp4"},
        {"Live show", "https://x.example/master.m3u8", ".ts", "Live show.ts"},
        // No title: the address's last segment, without query, decoded after it was cut.
        {"", "https://x.example/v/Summer%20Trip.mp4?dl=1#t=5", ".mp4", "Summer Trip.mp4"},
        {"", "https://x.example/v/a%2Fb.webm", ".webm", "a/b.webm"},
        {"", "https://x.example/hls/master.m3u8?t=1", ".ts", "master.ts"},
        {"", "https://x.example/watch.php?v=1", ".mp4", "watch.mp4"},
        {"", "https://x.example/v/clip.flv", ".flv", "clip.flv"},
        {" ... ", "https://x.example/clip.webm", ".webm", "clip.webm"},
        {"", "https://x.example/", ".mp4", "x.example.mp4"},
        {"", "", ".mp4", "video.mp4"},
        {"Title", "", "", "Title"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(GenericFileName(row.title, row.address, row.extension), row.name)
            << row.title.toStdString() << " / " << row.address.toStdString();
    }
}

TEST(ExtensionFor, TheAddressesMediaExtensionElseTheTypesElseMp4) {
    const struct {
        QString address;
        QByteArray type;
        QString extension;
    } rows[] = {
        {"https://x.example/a.webm?x=1", "", ".webm"},
        {"https://x.example/A.MKV", "video/mp4", ".mkv"},
        {"https://x.example/clip.ts", "", ".ts"},
        {"https://x.example/get.php?id=1", "video/webm; codecs=vp9", ".webm"},
        {"https://x.example/get", "VIDEO/QUICKTIME", ".mov"},
        {"https://x.example/a.jpg", "video/mp2t", ".ts"},
        {"https://x.example/song", "audio/mpeg", ".mp3"},
        {"https://x.example/get", "application/octet-stream", ".mp4"},
        {"https://x.example/get", "", ".mp4"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ExtensionFor(row.address, row.type), row.extension)
            << row.address.toStdString() << " / " << row.type.toStdString();
    }
}

TEST(ScriptValues, LiteralsReadAsJsonAndTheRestAsUndefined) {
    auto json = [](const QJsonValue& v) {
        if (v.isUndefined())
            return QStringLiteral("undefined");
        if (v.isObject())
            return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
        if (v.isArray())
            return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
        return QString::fromUtf8(
            QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact).chopped(1).mid(1));
    };
    const QString deep = QString("[").repeated(40) + QString("]").repeated(40);
    const struct {
        QString script, json;
    } rows[] = {
        {"{a: 1, 'b': \"x\", c: [1, 'two', true, null,], d: f(), e: 'a' + b, f: -2, }",
         R"({"a":1,"b":"x","c":[1,"two",true,null],"f":-2})"},
        {R"("\u0041\x42\/\n\u{1F600}\q")", "\"AB/\\n\U0001F600q\""},
        {"/* note */ // line\n {file: `plain`, src: `with ${x}`}", R"({"file":"plain"})"},
        {"{a: {b: function (x) { return {c: 1}; }, d: 2}, get e() { return 1 }, ...rest}",
         R"({"a":{"d":2}})"},
        {"{a: 'unterminated", R"({"a":"unterminated"})"},
        {"{[key]: 1, 2: 'two', 'k': [, 3]}", R"({"2":"two","k":[3]})"},
        {"variable", "undefined"},
        {"{a: 1 ) b: 2}", R"({"a":1})"},
        // Deeper than read: the inner arrays are undefined, kept as null in their array.
        {deep, "[" + QString("[").repeated(31) + "null" + QString("]").repeated(32)},
    };
    for (const auto& row : rows)
        EXPECT_EQ(json(generic::ReadScriptValue(row.script)), row.json) << row.script.toStdString();

    // A division and a regular expression (with a '/' in its class) each on the line of a call.
    const QString script = "var half = total / 2; jwplayer('a').setup({file: 'a.mp4'});\n"
                           "var re = /[/']/g; p.src('b.mp4');\n"
                           "videojs(el, {sources: []}); setup({file: 'c'}); x.src = 'd';"
                           "p.src(list); 'q.setup({})'; y.setup";
    const std::vector<QJsonValue> calls = generic::FindPlayerCalls(script);
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(json(calls[0]), R"({"file":"a.mp4"})");
    EXPECT_EQ(json(calls[1]), "\"b.mp4\"");
    EXPECT_EQ(json(calls[2]), R"({"sources":[]})");
    EXPECT_EQ(json(calls[3]), "undefined");
}
