#pragma once

// HLS playlists (RFC 8216) read as a video-on-demand download: the variants of a master
// playlist and the choice among them, the segments of a media playlist with their byte ranges,
// init sections and keys, and the reasons a stream can't be downloaded. Pure functions over
// text: nothing here fetches anything.

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QUrl>

#include <array>
#include <cstdint>

namespace orvello {

// The largest playlist the reader takes, in bytes; the caller fetches at most this much.
inline constexpr qsizetype kHlsMaxPlaylistBytes = qsizetype(8) << 20;
// The most segments (and init sections) a media playlist may list.
inline constexpr qsizetype kHlsMaxSegments = 100000;
// The most variants and renditions a master playlist keeps; later ones are passed by.
inline constexpr qsizetype kHlsMaxVariants = 1000;
// The longest line read: a longer one reads as malformed.
inline constexpr qsizetype kHlsMaxLineBytes = 32 * 1024;
// The most attributes one attribute list may hold.
inline constexpr qsizetype kHlsMaxAttributes = 128;

// Why a playlist, or a stream it leads to, can't be downloaded. HlsProblemText says it in
// words a user understands.
enum class HlsProblem {
    None,
    NotPlaylist,     // the text is no HLS playlist at all
    Empty,           // no variants or segments, or both at once
    TooLarge,        // more bytes than kHlsMaxPlaylistBytes
    TooManySegments, // more than kHlsMaxSegments
    Drm,             // SAMPLE-AES, SAMPLE-AES-CTR, a key format of a DRM system, skd://
    Live,            // no EXT-X-ENDLIST: the stream is still being written
    BadKey,          // an EXT-X-KEY that can't be read, or of an unknown method
    BadSegment,      // a segment's address or byte range that can't be used
    SeparateAudio,   // every variant's audio is a rendition of its own
};

QString HlsProblemText(HlsProblem problem);

// Whether the text is a playlist: "#EXTM3U" at its start, after a UTF-8 byte-order mark and
// blanks, followed by a line end or a blank.
bool IsPlaylist(QByteArrayView text);

// A variant stream of a master playlist (EXT-X-STREAM-INF and the address on its next line).
struct HlsVariant {
    QUrl uri;
    qint64 bandwidth = -1; // bits per second; -1 when not given
    qint64 averageBandwidth = -1;
    int width = 0; // RESOLUTION; 0 x 0 when not given
    int height = 0;
    QString codecs;
    QString audio; // the GROUP-IDs of its renditions
    QString video;
    QString subtitles;
    qint64 pixels() const { return qint64(width) * height; }
};

// A rendition (EXT-X-MEDIA). Without a URI its media is inside the variant streams.
struct HlsRendition {
    QString type; // AUDIO, VIDEO, SUBTITLES, CLOSED-CAPTIONS
    QString groupId;
    QString name;
    QUrl uri;            // empty when the tag has none, or names no http or https address
    bool hasUri = false; // the tag has a URI: the media is not inside the variant streams
    bool isDefault = false;
};

enum class HlsKeyMethod { None, Aes128, SampleAes, SampleAesCtr };

// The key a segment is encrypted with (EXT-X-KEY, or EXT-X-SESSION-KEY in a master).
struct HlsKey {
    HlsKeyMethod method = HlsKeyMethod::None;
    QUrl uri;
    QString keyFormat; // empty for "identity", the key itself at `uri`
    // For AES-128: the IV the tag gives, or the segment's media sequence number as a 128-bit
    // big-endian value.
    std::array<std::uint8_t, 16> iv{};
    bool ivGiven = false;
};

struct HlsMaster {
    QList<HlsVariant> variants; // in the playlist's order
    QList<HlsRendition> renditions;
    QList<HlsKey> sessionKeys; // noted; the media playlists repeat them as EXT-X-KEY
};

// A part of a resource: `length` bytes from `offset`; the whole resource when length is -1.
struct HlsByteRange {
    qint64 offset = 0;
    qint64 length = -1;
    bool whole() const { return length < 0; }
};

// An init section (EXT-X-MAP): what the segments after it need in front of them.
struct HlsInitSection {
    QUrl uri;
    HlsByteRange range;
};

struct HlsSegment {
    QUrl uri;
    HlsByteRange range;
    double duration = 0;        // EXTINF, in seconds
    std::uint64_t sequence = 0; // media sequence number
    qsizetype initSection = -1; // index into HlsMedia::initSections, -1 for none
    bool discontinuity = false; // an EXT-X-DISCONTINUITY stands before it
    HlsKey key;
};

enum class HlsPlaylistType { Unspecified, Vod, Event };

struct HlsMedia {
    QList<HlsSegment> segments;
    QList<HlsInitSection> initSections;
    std::uint64_t mediaSequence = 0;
    int targetDuration = 0;
    HlsPlaylistType playlistType = HlsPlaylistType::Unspecified;
    bool endList = false;
};

enum class HlsKind { Unreadable, Master, Media };

struct HlsPlaylist {
    HlsKind kind = HlsKind::Unreadable;
    HlsMaster master;
    HlsMedia media;
    // Why the stream can't be downloaded; None for a master, and for a media playlist whose
    // segments can all be fetched and decrypted.
    HlsProblem problem = HlsProblem::NotPlaylist;
};

// Reads a playlist fetched from `base`; every address in it is resolved against `base`, and
// only http and https addresses are kept (relative ones too while `base` has no scheme).
// Lines end in LF or CR LF. A malformed tag is passed by, except where passing it by would
// change the bytes of the download (a key, a byte range, an init section, a segment's
// address): that refuses the playlist with its reason. Reading takes time linear in the
// text's length.
HlsPlaylist ReadPlaylist(QByteArrayView text, const QUrl& base);

// The variant to download: the highest RESOLUTION (by pixel count), then the highest
// BANDWIDTH, the first listed among equals, of those whose audio is inside the variant
// stream (see HasSeparateAudio). -1 with the reason when there is none.
struct HlsVariantChoice {
    qsizetype index = -1;
    HlsProblem problem = HlsProblem::None;
};
HlsVariantChoice ChooseVariant(const HlsMaster& master);

// Whether the variant's audio can only be had from a rendition of its own: its AUDIO group
// has renditions, and every one of them has a URI. A rendition without one is audio carried
// inside the variant stream, so a variant with no AUDIO group, or a group with such a
// rendition, downloads whole.
bool HasSeparateAudio(const HlsMaster& master, const HlsVariant& variant);

// The distinct key addresses of AES-128 segments, in the order of first use: each is fetched
// once.
QList<QUrl> KeyUris(const HlsMedia& media);

// The file the joined segments make.
enum class HlsContainer { MpegTs, FragmentedMp4 };

// Each signal of fragmented MP4 segments on its own:
bool HasInitSection(const HlsMedia& media);       // an EXT-X-MAP
bool HasMp4SegmentUri(const HlsMedia& media);     // a segment's path ends ".m4s" or ".mp4"
bool StartsWithFtypBox(QByteArrayView initBytes); // the init section's first box is "ftyp"

// The container of the joined segments. The init section's bytes decide when they tell (an
// "ftyp" box is MP4, a TS sync byte MPEG-TS); otherwise an init section or an MP4 segment
// address makes it MP4, and anything else is MPEG-TS.
HlsContainer ContainerOf(const HlsMedia& media, QByteArrayView initBytes = {});

// ".ts" or ".mp4".
QString ContainerSuffix(HlsContainer container);

} // namespace orvello
