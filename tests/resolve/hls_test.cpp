// HLS playlists: masters and the variant chosen, media playlists and their segments as text,
// and real playlists made by ffmpeg read, fetched from disk, decrypted and joined.
#include "resolve/hls/HlsPlaylist.h"
#include "support/QtPrint.h"
#include "support/RunProgram.h"
#include "transfer/Aes128.h"
#include "transfer/TsSync.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace orvello;

namespace {

const QUrl kBase(QStringLiteral("https://media.example/v/index.m3u8"));

QString Short(const QUrl& url) {
    const QString text = url.toString();
    return text.startsWith(QLatin1String("https://media.example/v/")) ? text.mid(24) : text;
}

// A segment in one line: its address, range, init section, discontinuity and key.
QString Describe(const HlsSegment& s) {
    QString line = Short(s.uri);
    if (!s.range.whole())
        line += QStringLiteral(" %1+%2").arg(s.range.offset).arg(s.range.length);
    if (s.initSection >= 0)
        line += QStringLiteral(" init%1").arg(s.initSection);
    if (s.discontinuity)
        line += QStringLiteral(" disc");
    if (s.key.method == HlsKeyMethod::Aes128)
        line += QStringLiteral(" aes %1 %2")
                    .arg(Short(s.key.uri),
                         QByteArray(reinterpret_cast<const char*>(s.key.iv.data()), 16).toHex());
    return line;
}

} // namespace

TEST(HlsPlaylistTest, MasterPlaylistsGiveTheVariantWithItsAudioInsideOrTheReason) {
    const struct {
        const char *name, *text, *chosen;
        HlsProblem problem;
    } rows[] = {
        {"highest resolution",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=9000000,RESOLUTION=640x360\n"
         "low.m3u8\n#EXT-X-STREAM-INF:BANDWIDTH=2000000,RESOLUTION=1920x1080\nhigh.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=3000000,RESOLUTION=1280x720\nmid.m3u8\n",
         "high.m3u8", HlsProblem::None},
        {"equal resolution, higher bandwidth",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1000,RESOLUTION=1280x720\na.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=3000,RESOLUTION=1280x720\nb.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=2000,RESOLUTION=1280x720\nc.m3u8\n",
         "b.m3u8", HlsProblem::None},
        {"best has separate audio",
         "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aac\",NAME=\"en\",DEFAULT=YES,URI=\"en."
         "m3u8\"\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=5000000,RESOLUTION=1920x1080,AUDIO=\"aac\"\nhd.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1000000,RESOLUTION=854x480\nsd.m3u8\n",
         "sd.m3u8", HlsProblem::None},
        {"all have separate audio",
         "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"en\",URI=\"en.m3u8\"\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=5000000,AUDIO=\"a\"\nhd.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1000000,AUDIO=\"a\"\nsd.m3u8\n",
         "", HlsProblem::SeparateAudio},
        {"a group with audio inside the stream",
         "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"main\",DEFAULT=YES\n"
         "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",NAME=\"fr\",URI=\"fr.m3u8\"\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=5000000,RESOLUTION=1920x1080,AUDIO=\"a\"\nhd.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1000000,RESOLUTION=854x480\nsd.m3u8\n",
         "hd.m3u8", HlsProblem::None},
        {"quoted commas, hexadecimal values, I-frames and session keys",
         "#EXTM3U\n#EXT-X-SESSION-KEY:METHOD=AES-128,URI=\"k\",IV=0xA1\n"
         "#EXT-X-I-FRAME-STREAM-INF:BANDWIDTH=99999999,RESOLUTION=3840x2160,URI=\"if.m3u8\"\n"
         "#EXT-X-STREAM-INF:CODECS=\"avc1.64001f,mp4a.40.2\",RESOLUTION=1280x720,BANDWIDTH=10\n"
         "/abs/hd.m3u8\n#EXT-X-STREAM-INF:RESOLUTION=640x360,BANDWIDTH=20\nhttp://o.example/sd\n",
         "https://media.example/abs/hd.m3u8", HlsProblem::None},
        {"malformed attribute lists and addresses",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=3840x2160,CODECS=\"avc1\nbad1.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=3840x2160,=1\nbad2.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=3840x2160\nftp://x.example/a\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=3840x2160\nskd://key\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=9,RESOLUTION=-5x99999999999\nbad3.m3u8\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=1, RESOLUTION=2x2\nok.m3u8\n",
         "ok.m3u8", HlsProblem::None},
        {"CRLF line ends and a byte-order mark",
         "\xEF\xBB\xBF#EXTM3U\r\n#EXT-X-STREAM-INF:BANDWIDTH=1\r\n lo.m3u8 \r\n"
         "#EXT-X-STREAM-INF:BANDWIDTH=2\r\nhi.m3u8\r\n",
         "hi.m3u8", HlsProblem::None},
        {"no variants", "#EXTM3U\n#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"a\",URI=\"en.m3u8\"\n", "",
         HlsProblem::Empty},
    };
    for (const auto& row : rows) {
        const HlsPlaylist p = ReadPlaylist(row.text, kBase);
        ASSERT_EQ(p.kind, HlsKind::Master) << row.name;
        const HlsVariantChoice choice = ChooseVariant(p.master);
        EXPECT_EQ(choice.problem, row.problem) << row.name;
        EXPECT_EQ(choice.index < 0 ? QString() : Short(p.master.variants[choice.index].uri),
                  QString::fromUtf8(row.chosen))
            << row.name;
    }
    const HlsPlaylist p = ReadPlaylist(rows[5].text, kBase);
    ASSERT_EQ(p.master.sessionKeys.size(), 1);
    EXPECT_EQ(p.master.sessionKeys[0].iv.back(), 0xA1);
    EXPECT_EQ(p.master.variants[0].codecs, QStringLiteral("avc1.64001f,mp4a.40.2"));
}

TEST(HlsPlaylistTest, MediaPlaylistsGiveEverySegmentWithItsRangeInitSectionAndKey) {
    const struct {
        const char *name, *text;
        HlsProblem problem;
        const char *segments, *suffix;
    } rows[] = {
        {"ranges, init sections and discontinuities",
         "#EXTM3U\n#EXT-X-TARGETDURATION:4\n#EXT-X-MAP:URI=\"all.mp4\",BYTERANGE=\"720\"\n"
         "#EXTINF:4.0,\n#EXT-X-BYTERANGE:1000@720\nall.mp4\n#EXTINF:4,\n#EXT-X-BYTERANGE:500\n"
         "other.mp4\n#EXT-X-BYTERANGE:300\nall.mp4\n#EXT-X-DISCONTINUITY\n"
         "#EXT-X-MAP:URI=\"i2.mp4\"\n#EXTINF:bad,\nhttps://cdn.example/s.mp4\n#EXT-X-ENDLIST\n",
         HlsProblem::None,
         "all.mp4 720+1000 init0|other.mp4 0+500 init0|all.mp4 1720+300 init0|"
         "https://cdn.example/s.mp4 init1 disc",
         ".mp4"},
        {"keys with and without IV, rotated and ended",
         "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:258\n#EXT-X-KEY:METHOD=AES-128,URI=\"k1\"\n#EXTINF:2,\n"
         "a.ts\n#EXTINF:2,\nb.ts\n#EXT-X-KEY:METHOD=AES-128,URI=\"/k2\",IV=0X00000000000000000000"
         "000000000102030405060708090A0B0C0D0E0F10\nc.ts\n"
         "#EXT-X-KEY:METHOD=AES-128,URI=\"k1\",KEYFORMAT=\"identity\"\nd.ts\n"
         "#EXT-X-KEY:METHOD=NONE\ne.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::None,
         "a.ts aes k1 00000000000000000000000000000102|b.ts aes k1 0000000000000000000000000000"
         "0103|c.ts aes https://media.example/k2 0102030405060708090a0b0c0d0e0f10|d.ts aes k1 "
         "00000000000000000000000000000105|e.ts",
         ".ts"},
        {"CRLF, a byte-order mark and a video-on-demand type without an end",
         "\xEF\xBB\xBF \r\n#EXTM3U\r\n#EXT-X-PLAYLIST-TYPE:VOD\r\n#EXTINF:1,\r\nx.m4s\r\n",
         HlsProblem::None, "x.m4s", ".mp4"},
        {"SAMPLE-AES", "#EXTM3U\n#EXT-X-KEY:METHOD=SAMPLE-AES,URI=\"k\"\na.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::Drm, "a.ts", ".ts"},
        {"skd:// key",
         "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"skd://id\"\na.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::Drm, "a.ts aes  00000000000000000000000000000000", ".ts"},
        {"key format of a DRM system",
         "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\",KEYFORMAT=\"com.example.drm\"\na.ts\n"
         "#EXT-X-ENDLIST\n",
         HlsProblem::Drm, "a.ts aes k 00000000000000000000000000000000", ".ts"},
        {"live", "#EXTM3U\n#EXT-X-PLAYLIST-TYPE:EVENT\n#EXTINF:1,\na.ts\n", HlsProblem::Live,
         "a.ts", ".ts"},
        {"key without address", "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128\na.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::BadKey, "a.ts", ".ts"},
        {"IV of 129 bits",
         "#EXTM3U\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\",IV=0x100000000000000000000000000000000\n"
         "a.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::BadKey, "a.ts", ".ts"},
        {"IV from an unreadable sequence",
         "#EXTM3U\n#EXT-X-MEDIA-SEQUENCE:-1\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\na.ts\n"
         "#EXT-X-ENDLIST\n",
         HlsProblem::BadKey, "a.ts aes k 00000000000000000000000000000000", ".ts"},
        {"unreadable byte range", "#EXTM3U\n#EXT-X-BYTERANGE:10@x\na.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::BadSegment, "a.ts", ".ts"},
        {"segment address of another scheme",
         "#EXTM3U\n#EXTINF:1,\nfile:///etc/passwd\nb.ts\n#EXT-X-ENDLIST\n", HlsProblem::BadSegment,
         "b.ts", ".ts"},
        {"no segments", "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-ENDLIST\n", HlsProblem::Empty, "",
         ".ts"},
        {"master and media at once",
         "#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=1\nv.m3u8\n#EXTINF:1,\na.ts\n#EXT-X-ENDLIST\n",
         HlsProblem::Empty, "", ".ts"},
        {"no playlist", "<html>#EXTM3U\na.ts\n", HlsProblem::NotPlaylist, "", ".ts"},
    };
    for (const auto& row : rows) {
        const HlsPlaylist p = ReadPlaylist(row.text, kBase);
        EXPECT_EQ(p.problem, row.problem) << row.name;
        QStringList segments;
        for (const HlsSegment& s : p.media.segments)
            segments << Describe(s);
        EXPECT_EQ(segments.join(QLatin1Char('|')), QString::fromUtf8(row.segments)) << row.name;
        EXPECT_EQ(ContainerSuffix(ContainerOf(p.media)), QString::fromUtf8(row.suffix)) << row.name;
    }
    // The init section's bytes decide over the playlist's signals.
    const HlsMedia fmp4 = ReadPlaylist(rows[0].text, kBase).media;
    EXPECT_EQ(ContainerOf(fmp4, QByteArray(1, '\x47')), HlsContainer::MpegTs);
    EXPECT_EQ(ContainerOf(HlsMedia(), QByteArray("\0\0\0\x18"
                                                 "ftypiso5",
                                                 12)),
              HlsContainer::FragmentedMp4);
    EXPECT_EQ(fmp4.segments[1].duration, 4.0);
    // Each key is fetched once: k1 comes back after k2 and is listed once.
    const QList<QUrl> keys = KeyUris(ReadPlaylist(rows[1].text, kBase).media);
    ASSERT_EQ(keys.size(), 2);
    EXPECT_EQ(Short(keys[0]) + QLatin1Char(' ') + Short(keys[1]),
              QStringLiteral("k1 https://media.example/k2"));
}

// Playlists made by ffmpeg, read with the segments and keys on disk beside them: every file
// ffmpeg wrote is used, each MPEG-TS segment (decrypted where it is encrypted) starts
// with its packets, and the joined segments are a file ffmpeg reads back without an error.
TEST(HlsPlaylistTest, PlaylistsMadeByFfmpegJoinIntoAFileFfmpegReadsBack) {
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty())
        GTEST_SKIP() << "ffmpeg is not installed (apt-get install ffmpeg): its playlists are "
                        "not read";
    const QByteArray key = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");
    const struct {
        const char* name;
        QStringList args;
        const char* suffix;
    } rows[] = {
        {"MPEG-TS", {}, ".ts"},
        {"fragmented MP4", {"-hls_segment_type", "fmp4"}, ".mp4"},
        {"AES-128", {"-hls_key_info_file", "keyinfo", "-start_number", "5"}, ".ts"},
        {"byte ranges", {"-hls_flags", "single_file"}, ".ts"},
        {"fragmented MP4 in byte ranges",
         {"-hls_segment_type", "fmp4", "-hls_flags", "single_file"},
         ".mp4"},
    };
    const QStringList make =
        QStringLiteral("-v error -f lavfi -i testsrc=duration=4:size=320x240:rate=25 -f "
                       "lavfi -i sine=duration=4 -c:v libx264 -preset ultrafast -g 25 "
                       "-c:a aac -f hls -hls_time 1 -hls_playlist_type vod")
            .split(QLatin1Char(' '));
    // One row at a time, so a row that stops at an assertion leaves the others checked.
    const auto check = [&](const auto& row) {
        QTemporaryDir dir;
        QFile keyFile(dir.filePath(QStringLiteral("key.bin")));
        QFile keyInfo(dir.filePath(QStringLiteral("keyinfo")));
        ASSERT_TRUE(keyFile.open(QIODevice::WriteOnly) && keyFile.write(key) == 16 &&
                    keyInfo.open(QIODevice::WriteOnly));
        keyInfo.write("keys/key.bin\n" + keyFile.fileName().toUtf8() +
                      "\n0f0e0d0c0b0a09080706050403020100\n");
        keyFile.close();
        keyInfo.close();
        const test::Ran made = test::RunProgram(ffmpeg, make + row.args + QStringList{"index.m3u8"},
                                                120000, dir.path());
        ASSERT_TRUE(made.ok()) << made.output.toStdString();
        const QStringList files = QDir(dir.path()).entryList(QDir::Files);
        QSet<QString> unused(files.begin(), files.end());
        const auto bytesOf = [&](const QUrl& url, HlsByteRange range = {}) {
            unused.remove(url.fileName());
            QFile file(dir.filePath(url.fileName()));
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << url.toString().toStdString();
            const QByteArray bytes = file.readAll();
            return range.whole() ? bytes : bytes.mid(range.offset, range.length);
        };
        QFile index(dir.filePath(QStringLiteral("index.m3u8")));
        ASSERT_TRUE(index.open(QIODevice::ReadOnly));
        const HlsPlaylist p =
            ReadPlaylist(index.readAll(), QUrl(QStringLiteral("http://127.0.0.1/hls/index.m3u8")));
        ASSERT_EQ(p.problem, HlsProblem::None);
        ASSERT_GE(p.media.segments.size(), 4);

        QByteArray joined, initBytes;
        qsizetype init = -1;
        for (const HlsSegment& s : p.media.segments) {
            if (s.initSection != init) {
                init = s.initSection;
                const HlsInitSection& section = p.media.initSections[init];
                joined += initBytes = bytesOf(section.uri, section.range);
            }
            QByteArray bytes = bytesOf(s.uri, s.range);
            if (s.key.method == HlsKeyMethod::Aes128) {
                EXPECT_EQ(s.key.uri.toString(),
                          QStringLiteral("http://127.0.0.1/hls/keys/key.bin"));
                QByteArray clear;
                QString error;
                ASSERT_TRUE(DecryptAes128(bytes, bytesOf(s.key.uri),
                                          QByteArrayView(s.key.iv.data(), 16), clear, &error))
                    << error.toStdString();
                bytes = clear;
            }
            if (QLatin1String(row.suffix) == QLatin1String(".ts")) {
                EXPECT_EQ(TsStart(bytes), 0) << s.uri.toString().toStdString();
            }
            joined += bytes;
        }
        QStringList left = unused.values();
        left.sort();
        EXPECT_EQ(left.join(QLatin1Char(' ')), row.args.contains(QLatin1String("keyinfo"))
                                                   ? QStringLiteral("index.m3u8 keyinfo")
                                                   : QStringLiteral("index.m3u8 key.bin keyinfo"));
        const QString suffix = ContainerSuffix(ContainerOf(p.media, initBytes));
        EXPECT_EQ(suffix, QLatin1String(row.suffix));
        QFile out(dir.filePath(QStringLiteral("joined") + suffix));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly) && out.write(joined) == joined.size());
        out.close();
        const test::Ran read = test::RunProgram(
            ffmpeg, {"-v", "error", "-i", out.fileName(), "-f", "null", "-"}, 120000);
        EXPECT_TRUE(read.ok() && read.output.isEmpty()) << read.output.toStdString();
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        check(row);
    }
}
