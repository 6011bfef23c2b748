#include "resolve/hls/HlsPlaylist.h"

#include <QHash>
#include <QSet>
#include <QVarLengthArray>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace orvello {

QString HlsProblemText(HlsProblem problem) {
    switch (problem) {
    case HlsProblem::None:
        return {};
    case HlsProblem::NotPlaylist:
        return QStringLiteral("The address gives no HLS playlist.");
    case HlsProblem::Empty:
        return QStringLiteral("The playlist holds no streams or segments that can be read.");
    case HlsProblem::TooLarge:
        return QStringLiteral("The playlist is too large.");
    case HlsProblem::TooManySegments:
        return QStringLiteral("The stream has more than 100,000 segments.");
    case HlsProblem::Drm:
        return QStringLiteral("The stream is DRM-protected.");
    case HlsProblem::Live:
        return QStringLiteral("The stream is live; only a finished recording can be downloaded.");
    case HlsProblem::BadKey:
        return QStringLiteral("The stream's encryption key can't be read from the playlist.");
    case HlsProblem::BadSegment:
        return QStringLiteral("A segment's address or byte range can't be read from the playlist.");
    case HlsProblem::SeparateAudio:
        return QStringLiteral("The stream's audio comes apart from its video, and the two can't "
                              "be joined without a muxer.");
    }
    return {};
}

namespace {

using Bytes = QByteArrayView;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A decimal-integer: digits alone, at most 2^64 - 1.
bool ReadDecimal(Bytes text, std::uint64_t& value) {
    if (text.isEmpty() || text.front() < '0' || text.front() > '9')
        return false;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, 10);
    return error == std::errc() && stop == end;
}

// A decimal-integer that must fit a qint64.
bool ReadLength(Bytes text, qint64& value) {
    std::uint64_t n = 0;
    if (!ReadDecimal(text, n) || n > std::uint64_t(std::numeric_limits<qint64>::max()))
        return false;
    value = qint64(n);
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A hexadecimal-sequence ("0x" and hex digits) as a 128-bit big-endian value: a shorter one is
// the same number with zeros in front; one whose value needs more than 128 bits is refused.
bool ReadIv(Bytes text, std::array<std::uint8_t, 16>& iv) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X'))
        return false;
    Bytes digits = text.sliced(2);
    for (char c : digits) {
        if (HexDigit(c) < 0)
            return false;
    }
    while (digits.size() > 32 && digits.front() == '0')
        digits = digits.sliced(1);
    if (digits.size() > 32)
        return false;
    iv.fill(0);
    for (qsizetype i = 0; i < digits.size(); ++i) {
        const qsizetype fromEnd = digits.size() - 1 - i; // the nibble's place from the right
        const auto nibble = std::uint8_t(HexDigit(digits[i]));
        iv[15 - fromEnd / 2] |= std::uint8_t(fromEnd % 2 ? nibble << 4 : nibble);
    }
    return true;
}

// "n[@o]": a length and an optional offset. The offset is -1 when not given.
bool ReadByteRange(Bytes text, qint64& length, qint64& offset) {
    const qsizetype at = text.indexOf('@');
    offset = -1;
    if (!ReadLength(at < 0 ? text : text.first(at), length) || length == 0)
        return false;
    return at < 0 || ReadLength(text.sliced(at + 1), offset);
}

// One attribute of an attribute list; a quoted value without its quotes.
struct Attribute {
    Bytes name;
    Bytes value;
    bool quoted = false;
};

// An attribute list as RFC 8216 writes it: NAME=value pairs between commas, a value either a
// quoted string (commas inside it are its own) or a plain value up to the next comma. Blanks
// before a name are passed over. Of a name given twice, the first counts (find() returns it).
class AttributeList {
public:
    // False when the list is malformed or longer than the bounds.
    bool read(Bytes text) {
        if (text.size() > kHlsMaxLineBytes)
            return false;
        const qsizetype n = text.size();
        qsizetype i = 0;
        for (;;) {
            while (i < n && text[i] == ' ')
                ++i;
            if (i == n)
                return true;
            const qsizetype nameStart = i;
            while (i < n && ((text[i] >= 'A' && text[i] <= 'Z') ||
                             (text[i] >= '0' && text[i] <= '9') || text[i] == '-'))
                ++i;
            if (i == nameStart || i == n || text[i] != '=')
                return false;
            Attribute a;
            a.name = text.sliced(nameStart, i - nameStart);
            ++i;
            if (i < n && text[i] == '"') {
                const qsizetype close = text.indexOf('"', i + 1);
                if (close < 0)
                    return false;
                a.value = text.sliced(i + 1, close - i - 1);
                a.quoted = true;
                i = close + 1;
                while (i < n && text[i] == ' ')
                    ++i;
                if (i < n && text[i] != ',')
                    return false;
            } else {
                qsizetype comma = text.indexOf(',', i);
                if (comma < 0)
                    comma = n;
                a.value = text.sliced(i, comma - i).trimmed();
                if (a.value.isEmpty() || a.value.contains('"'))
                    return false;
                i = comma;
            }
            if (attributes_.size() == kHlsMaxAttributes)
                return false;
            attributes_.append(a);
            if (i < n)
                ++i; // the comma
        }
    }

    const Attribute* find(Bytes name) const {
        for (const Attribute& a : attributes_) {
            if (a.name == name)
                return &a;
        }
        return nullptr;
    }

    // A quoted string's or an enumerated string's text.
    QString text(Bytes name) const {
        const Attribute* a = find(name);
        return a ? QString::fromUtf8(a->value) : QString();
    }

    // A decimal-integer, or -1 when missing or malformed.
    qint64 number(Bytes name) const {
        const Attribute* a = find(name);
        qint64 value = -1;
        if (a && !a->quoted && ReadLength(a->value, value))
            return value;
        return -1;
    }

private:
    QVarLengthArray<Attribute, 16> attributes_;
};

bool IsWebScheme(const QString& scheme) {
    return scheme == QLatin1String("http") || scheme == QLatin1String("https");
}

// The address `text` names, resolved against `base`; empty when it is not an http or https
// address (or a relative one while `base` has no scheme either).
QUrl ResolveUri(Bytes text, const QUrl& base) {
    if (text.isEmpty() || text.size() > kHlsMaxLineBytes)
        return {};
    const QUrl reference(QString::fromUtf8(text));
    if (!reference.isValid())
        return {};
    const QUrl url = base.resolved(reference);
    if (!url.isValid())
        return {};
    if (IsWebScheme(url.scheme()))
        return url.host().isEmpty() ? QUrl() : url;
    if (url.scheme().isEmpty() && base.scheme().isEmpty())
        return url;
    return {};
}

// "WIDTHxHEIGHT".
void ReadResolution(Bytes text, int& width, int& height) {
    const qsizetype x = text.indexOf('x');
    std::uint64_t w = 0, h = 0;
    if (x > 0 && ReadDecimal(text.first(x), w) && ReadDecimal(text.sliced(x + 1), h) &&
        w <= std::uint64_t(std::numeric_limits<int>::max()) &&
        h <= std::uint64_t(std::numeric_limits<int>::max())) {
        width = int(w);
        height = int(h);
    }
}

// What an attribute list tells of a key (EXT-X-KEY and EXT-X-SESSION-KEY); false when the key
// can't be read. `drm` is set for a key of a DRM system.
bool ReadKey(const AttributeList& attributes, const QUrl& base, HlsKey& key, bool& drm) {
    key = HlsKey();
    const Attribute* method = attributes.find("METHOD");
    if (!method || method->quoted)
        return false;
    if (method->value == "NONE")
        return true;
    if (method->value == "AES-128")
        key.method = HlsKeyMethod::Aes128;
    else if (method->value == "SAMPLE-AES")
        key.method = HlsKeyMethod::SampleAes;
    else if (method->value == "SAMPLE-AES-CTR")
        key.method = HlsKeyMethod::SampleAesCtr;
    else
        return false;
    key.keyFormat = attributes.text("KEYFORMAT");
    if (key.keyFormat == QLatin1String("identity"))
        key.keyFormat.clear();
    const Attribute* uri = attributes.find("URI");
    if (uri && uri->quoted) {
        const QUrl reference(QString::fromUtf8(uri->value));
        if (reference.scheme().compare(QLatin1String("skd"), Qt::CaseInsensitive) == 0)
            drm = true;
        key.uri = ResolveUri(uri->value, base);
    }
    if (key.method != HlsKeyMethod::Aes128 || !key.keyFormat.isEmpty())
        drm = true;
    if (const Attribute* iv = attributes.find("IV")) {
        if (iv->quoted || !ReadIv(iv->value, key.iv))
            return false;
        key.ivGiven = true;
    }
    return drm || !key.uri.isEmpty();
}

// The tag's name (up to ":") and its value after it.
struct Tag {
    Bytes name;
    Bytes value;
};

Tag SplitTag(Bytes line) {
    const qsizetype colon = line.indexOf(':');
    if (colon < 0)
        return {line, {}};
    return {line.first(colon), line.sliced(colon + 1)};
}

// Reads a playlist line by line, master and media tags alike; which of the two it is, is
// decided at the end by what it held.
class Reader {
public:
    explicit Reader(const QUrl& base) : base_(base) {}

    void line(Bytes line) {
        if (line.isEmpty())
            return;
        if (line.front() != '#') {
            address(line);
            return;
        }
        if (!line.startsWith("#EXT"))
            return; // a comment
        const Tag tag = SplitTag(line.sliced(1));
        if (tag.name == "EXTINF")
            extinf(tag.value);
        else if (tag.name == "EXT-X-BYTERANGE")
            byteRange(tag.value);
        else if (tag.name == "EXT-X-MAP")
            map(tag.value);
        else if (tag.name == "EXT-X-KEY")
            mediaKey(tag.value);
        else if (tag.name == "EXT-X-DISCONTINUITY")
            discontinuity_ = true;
        else if (tag.name == "EXT-X-MEDIA-SEQUENCE")
            mediaSequence(tag.value);
        else if (tag.name == "EXT-X-TARGETDURATION")
            targetDuration(tag.value);
        else if (tag.name == "EXT-X-ENDLIST")
            out_.media.endList = true;
        else if (tag.name == "EXT-X-PLAYLIST-TYPE")
            playlistType(tag.value);
        else if (tag.name == "EXT-X-STREAM-INF")
            streamInf(tag.value);
        else if (tag.name == "EXT-X-MEDIA")
            rendition(tag.value);
        else if (tag.name == "EXT-X-SESSION-KEY")
            sessionKey(tag.value);
        // Every other tag, EXT-X-I-FRAME-STREAM-INF among them, is passed by.
    }

    HlsPlaylist finish() {
        const bool master = masterTags_ > 0;
        const bool media = mediaTags_ > 0 || segmentCount_ > 0;
        if (master == media) {
            out_ = HlsPlaylist();
            out_.problem = HlsProblem::Empty;
            return std::move(out_);
        }
        if (master) {
            out_.kind = HlsKind::Master;
            out_.media = HlsMedia();
            out_.problem = HlsProblem::None;
            return std::move(out_);
        }
        out_.kind = HlsKind::Media;
        out_.master = HlsMaster();
        const HlsMedia& m = out_.media;
        if (drm_)
            out_.problem = HlsProblem::Drm;
        else if (!m.endList && m.playlistType != HlsPlaylistType::Vod)
            out_.problem = HlsProblem::Live;
        else if (badKey_)
            out_.problem = HlsProblem::BadKey;
        else if (badSegment_)
            out_.problem = HlsProblem::BadSegment;
        else if (tooMany_ || segmentCount_ > kHlsMaxSegments)
            out_.problem = HlsProblem::TooManySegments;
        else if (m.segments.isEmpty())
            out_.problem = HlsProblem::Empty;
        else
            out_.problem = HlsProblem::None;
        return std::move(out_);
    }

private:
    // A line that is no tag: a variant's address after EXT-X-STREAM-INF, else a segment's.
    void address(Bytes line) {
        if (variantPending_) {
            variantPending_ = false;
            variant_.uri = ResolveUri(line, base_);
            if (variantKept_ && !variant_.uri.isEmpty() &&
                out_.master.variants.size() < kHlsMaxVariants)
                out_.master.variants.append(variant_);
            return;
        }
        segment(line);
    }

    void segment(Bytes line) {
        ++segmentCount_;
        HlsSegment s;
        s.uri = ResolveUri(line, base_);
        s.duration = duration_;
        s.discontinuity = discontinuity_;
        s.initSection = initSection_;
        s.key = key_;
        duration_ = 0;
        discontinuity_ = false;
        const bool ranged = rangeLength_ > 0;
        const qint64 length = rangeLength_, offset = rangeOffset_;
        rangeLength_ = 0;
        if (s.uri.isEmpty()) {
            badSegment_ = true;
            return;
        }
        // The media sequence number counts on from EXT-X-MEDIA-SEQUENCE; one past 2^64 - 1
        // names no segment.
        const std::uint64_t index = std::uint64_t(segmentCount_ - 1);
        if (index > std::numeric_limits<std::uint64_t>::max() - out_.media.mediaSequence) {
            badSegment_ = true;
            return;
        }
        s.sequence = out_.media.mediaSequence + index;
        if (ranged) {
            // Without an offset the range follows the last range of the same resource, or
            // starts at its beginning when there was none.
            s.range.length = length;
            s.range.offset = offset >= 0 ? offset : rangeEnds_.value(s.uri, 0);
            if (s.range.offset > std::numeric_limits<qint64>::max() - length) {
                badSegment_ = true;
                return;
            }
            rangeEnds_.insert(s.uri, s.range.offset + length);
        }
        if (s.key.method == HlsKeyMethod::Aes128 && !s.key.ivGiven) {
            if (badSequence_)
                badKey_ = true;
            for (int i = 0; i < 8; ++i)
                s.key.iv[15 - i] = std::uint8_t(s.sequence >> (8 * i));
        }
        if (segmentCount_ <= kHlsMaxSegments)
            out_.media.segments.append(s);
    }

    void extinf(Bytes value) {
        ++mediaTags_;
        const qsizetype comma = value.indexOf(',');
        bool ok = false;
        const double seconds = (comma < 0 ? value : value.first(comma)).trimmed().toDouble(&ok);
        duration_ = ok && std::isfinite(seconds) && seconds >= 0 ? seconds : 0;
    }

    void byteRange(Bytes value) {
        ++mediaTags_;
        if (!ReadByteRange(value.trimmed(), rangeLength_, rangeOffset_)) {
            rangeLength_ = 0;
            badSegment_ = true;
        }
    }

    void map(Bytes value) {
        ++mediaTags_;
        AttributeList attributes;
        HlsInitSection init;
        const Attribute* uri = attributes.read(value) ? attributes.find("URI") : nullptr;
        if (uri && uri->quoted)
            init.uri = ResolveUri(uri->value, base_);
        if (init.uri.isEmpty()) {
            badSegment_ = true;
            return;
        }
        if (const Attribute* range = attributes.find("BYTERANGE")) {
            qint64 length = 0, offset = 0;
            if (!range->quoted || !ReadByteRange(range->value, length, offset) ||
                std::max<qint64>(offset, 0) > std::numeric_limits<qint64>::max() - length) {
                badSegment_ = true;
                return;
            }
            init.range.length = length;
            init.range.offset = std::max<qint64>(offset, 0);
        }
        if (out_.media.initSections.size() == kHlsMaxSegments) {
            tooMany_ = true;
            return;
        }
        initSection_ = out_.media.initSections.size();
        out_.media.initSections.append(init);
    }

    void mediaKey(Bytes value) {
        ++mediaTags_;
        AttributeList attributes;
        if (!attributes.read(value) || !ReadKey(attributes, base_, key_, drm_)) {
            // The segments after it can't be decrypted; none is taken as clear.
            key_ = HlsKey();
            badKey_ = true;
        }
    }

    void mediaSequence(Bytes value) {
        ++mediaTags_;
        if (segmentCount_ > 0)
            return; // it counts only before the first segment
        if (!ReadDecimal(value.trimmed(), out_.media.mediaSequence)) {
            out_.media.mediaSequence = 0;
            badSequence_ = true;
        }
    }

    void targetDuration(Bytes value) {
        ++mediaTags_;
        std::uint64_t seconds = 0;
        if (ReadDecimal(value.trimmed(), seconds) &&
            seconds <= std::uint64_t(std::numeric_limits<int>::max()))
            out_.media.targetDuration = int(seconds);
    }

    void playlistType(Bytes value) {
        ++mediaTags_;
        value = value.trimmed();
        if (value == "VOD")
            out_.media.playlistType = HlsPlaylistType::Vod;
        else if (value == "EVENT")
            out_.media.playlistType = HlsPlaylistType::Event;
    }

    void streamInf(Bytes value) {
        ++masterTags_;
        variant_ = HlsVariant();
        variantPending_ = true;
        AttributeList attributes;
        // A variant whose attributes can't be read is passed by, and its address with it.
        variantKept_ = attributes.read(value);
        if (!variantKept_)
            return;
        variant_.bandwidth = attributes.number("BANDWIDTH");
        variant_.averageBandwidth = attributes.number("AVERAGE-BANDWIDTH");
        if (const Attribute* resolution = attributes.find("RESOLUTION"))
            ReadResolution(resolution->value, variant_.width, variant_.height);
        variant_.codecs = attributes.text("CODECS");
        variant_.audio = attributes.text("AUDIO");
        variant_.video = attributes.text("VIDEO");
        variant_.subtitles = attributes.text("SUBTITLES");
    }

    void rendition(Bytes value) {
        ++masterTags_;
        AttributeList attributes;
        if (!attributes.read(value) || out_.master.renditions.size() == kHlsMaxVariants)
            return;
        HlsRendition r;
        r.type = attributes.text("TYPE");
        r.groupId = attributes.text("GROUP-ID");
        r.name = attributes.text("NAME");
        r.isDefault = attributes.text("DEFAULT") == QLatin1String("YES");
        if (const Attribute* uri = attributes.find("URI")) {
            r.hasUri = true;
            r.uri = ResolveUri(uri->value, base_);
        }
        out_.master.renditions.append(r);
    }

    void sessionKey(Bytes value) {
        ++masterTags_;
        AttributeList attributes;
        HlsKey key;
        bool drm = false;
        if (attributes.read(value) && ReadKey(attributes, base_, key, drm) &&
            out_.master.sessionKeys.size() < kHlsMaxVariants)
            out_.master.sessionKeys.append(key);
    }

    const QUrl base_;
    HlsPlaylist out_;
    qsizetype masterTags_ = 0;
    qsizetype mediaTags_ = 0;

    HlsVariant variant_; // the variant whose address comes next
    bool variantPending_ = false;
    bool variantKept_ = false;

    qsizetype segmentCount_ = 0; // the segments read, also those past the bound
    double duration_ = 0;        // what applies to the next segment
    bool discontinuity_ = false;
    qint64 rangeLength_ = 0; // 0: no EXT-X-BYTERANGE
    qint64 rangeOffset_ = -1;
    qsizetype initSection_ = -1;
    HlsKey key_;
    QHash<QUrl, qint64> rangeEnds_; // where the last range of each resource ends

    bool drm_ = false;
    bool badKey_ = false;
    bool badSegment_ = false;
    bool badSequence_ = false;
    bool tooMany_ = false;
};

Bytes SkipBomAndBlanks(Bytes text) {
    if (text.startsWith("\xEF\xBB\xBF"))
        text = text.sliced(3);
    qsizetype i = 0;
    while (i < text.size() && IsBlank(text[i]))
        ++i;
    return text.sliced(i);
}

} // namespace

bool IsPlaylist(QByteArrayView text) {
    text = SkipBomAndBlanks(text);
    return text.startsWith("#EXTM3U") && (text.size() == 7 || IsBlank(text[7]));
}

HlsPlaylist ReadPlaylist(QByteArrayView text, const QUrl& base) {
    HlsPlaylist playlist;
    if (text.size() > kHlsMaxPlaylistBytes) {
        playlist.problem = HlsProblem::TooLarge;
        return playlist;
    }
    if (!IsPlaylist(text))
        return playlist;
    text = SkipBomAndBlanks(text);
    Reader reader(base);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf('\n', start);
        if (end < 0)
            end = text.size();
        reader.line(text.sliced(start, end - start).trimmed());
        start = end + 1;
    }
    return reader.finish();
}

bool HasSeparateAudio(const HlsMaster& master, const HlsVariant& variant) {
    if (variant.audio.isEmpty())
        return false;
    bool any = false;
    for (const HlsRendition& r : master.renditions) {
        if (r.type != QLatin1String("AUDIO") || r.groupId != variant.audio)
            continue;
        if (!r.hasUri)
            return false;
        any = true;
    }
    return any;
}

HlsVariantChoice ChooseVariant(const HlsMaster& master) {
    HlsVariantChoice choice;
    for (qsizetype i = 0; i < master.variants.size(); ++i) {
        const HlsVariant& v = master.variants[i];
        if (HasSeparateAudio(master, v))
            continue;
        if (choice.index >= 0) {
            const HlsVariant& best = master.variants[choice.index];
            if (v.pixels() < best.pixels() ||
                (v.pixels() == best.pixels() && v.bandwidth <= best.bandwidth))
                continue;
        }
        choice.index = i;
    }
    if (choice.index < 0)
        choice.problem = master.variants.isEmpty() ? HlsProblem::Empty : HlsProblem::SeparateAudio;
    return choice;
}

QList<QUrl> KeyUris(const HlsMedia& media) {
    QList<QUrl> uris;
    QSet<QUrl> seen;
    for (const HlsSegment& s : media.segments) {
        if (s.key.method == HlsKeyMethod::Aes128 && !seen.contains(s.key.uri)) {
            seen.insert(s.key.uri);
            uris.append(s.key.uri);
        }
    }
    return uris;
}

bool HasInitSection(const HlsMedia& media) {
    return !media.initSections.isEmpty();
}

bool HasMp4SegmentUri(const HlsMedia& media) {
    for (const HlsSegment& s : media.segments) {
        const QString path = s.uri.path();
        if (path.endsWith(QLatin1String(".m4s"), Qt::CaseInsensitive) ||
            path.endsWith(QLatin1String(".mp4"), Qt::CaseInsensitive))
            return true;
    }
    return false;
}

bool StartsWithFtypBox(QByteArrayView initBytes) {
    return initBytes.size() >= 8 && initBytes.sliced(4, 4) == "ftyp";
}

HlsContainer ContainerOf(const HlsMedia& media, QByteArrayView initBytes) {
    if (StartsWithFtypBox(initBytes))
        return HlsContainer::FragmentedMp4;
    if (!initBytes.isEmpty() && initBytes.front() == '\x47')
        return HlsContainer::MpegTs;
    return HasInitSection(media) || HasMp4SegmentUri(media) ? HlsContainer::FragmentedMp4
                                                            : HlsContainer::MpegTs;
}

QString ContainerSuffix(HlsContainer container) {
    return container == HlsContainer::FragmentedMp4 ? QStringLiteral(".mp4")
                                                    : QStringLiteral(".ts");
}

} // namespace orvello
