// Any bytes as an HLS playlist fetched from a fixed address, master and media alike, and as a
// segment whose MPEG-TS packets are looked for, and decrypted with a fixed key. What the reader
// gives stays within its bounds: addresses only http or https, the variant chosen one whose
// audio is inside it, byte ranges that fit, init sections that exist.
#include "FuzzText.h"
#include "resolve/hls/HlsPlaylist.h"
#include "transfer/Aes128.h"
#include "transfer/TsSync.h"

#include <limits>

namespace {

bool IsWebUrl(const QUrl& url) {
    return url.isValid() &&
           (url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
           !url.host().isEmpty();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace orvello;
    using fuzz::Require;
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    static const QUrl base(QStringLiteral("https://media.example/path/index.m3u8?token=1"));

    const HlsPlaylist p = ReadPlaylist(bytes, base);
    Require(IsPlaylist(bytes) || p.problem == HlsProblem::NotPlaylist);
    if (p.kind == HlsKind::Master) {
        Require(p.problem == HlsProblem::None && p.media.segments.isEmpty());
        Require(p.master.variants.size() <= kHlsMaxVariants &&
                p.master.renditions.size() <= kHlsMaxVariants);
        for (const HlsVariant& v : p.master.variants)
            Require(IsWebUrl(v.uri) && v.width >= 0 && v.height >= 0);
        const HlsVariantChoice choice = ChooseVariant(p.master);
        Require((choice.index >= 0) == (choice.problem == HlsProblem::None));
        if (choice.index >= 0) {
            Require(choice.index < p.master.variants.size());
            Require(!HasSeparateAudio(p.master, p.master.variants[choice.index]));
        }
    } else {
        Require(p.master.variants.isEmpty());
        Require(p.kind == HlsKind::Media || p.media.segments.isEmpty());
        Require(p.problem != HlsProblem::None || p.kind == HlsKind::Media);
    }
    const HlsMedia& m = p.media;
    Require(m.segments.size() <= kHlsMaxSegments && m.initSections.size() <= kHlsMaxSegments);
    for (const HlsSegment& s : m.segments) {
        Require(IsWebUrl(s.uri) && s.duration >= 0);
        Require(s.range.whole() ||
                (s.range.length > 0 && s.range.offset >= 0 &&
                 s.range.offset <= std::numeric_limits<qint64>::max() - s.range.length));
        Require(s.initSection >= -1 && s.initSection < m.initSections.size());
        if (p.problem == HlsProblem::None)
            Require(s.key.method == HlsKeyMethod::None ||
                    (s.key.method == HlsKeyMethod::Aes128 && IsWebUrl(s.key.uri) &&
                     s.key.keyFormat.isEmpty()));
    }
    for (const QUrl& key : KeyUris(m))
        Require(p.problem != HlsProblem::None || IsWebUrl(key));
    ContainerSuffix(ContainerOf(m, bytes));

    const qsizetype start = TsStart(bytes);
    Require(start == -1 || (start < kTsSyncSearchBytes && bytes[start] == '\x47'));

    QByteArray clear;
    QString error;
    const bool decrypted = DecryptAes128(bytes, QByteArrayView("0123456789abcdef"),
                                         QByteArrayView("fedcba9876543210"), clear, &error);
    Require(decrypted ? clear.size() < bytes.size() && bytes.size() - clear.size() <= 16
                      : clear.isEmpty() && !error.isEmpty());
    return 0;
}
