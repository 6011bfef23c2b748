#include "resolve/generic/GenericPage.h"

#include "resolve/generic/PageScan.h"
#include "resolve/generic/ScriptValues.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <vector>

namespace orvello {

using namespace generic;

namespace {

// ---- The answer itself ----

QByteArray MimeType(const QByteArray& contentType) {
    const qsizetype semicolon = contentType.indexOf(';');
    return (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
}

// The first bytes as single-byte text after a byte-order mark: UTF-16 reads one byte per
// character while the characters are ASCII, and ends at the first that is not.
QByteArray LeadText(QByteArrayView bytes) {
    bytes = bytes.first(std::min(bytes.size(), kClassifyBytes));
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return bytes.sliced(3).toByteArray();
    const bool little = bytes.startsWith("\xFF\xFE");
    if (!little && !bytes.startsWith("\xFE\xFF"))
        return bytes.toByteArray();
    QByteArray text;
    for (qsizetype i = 2; i + 1 < bytes.size(); i += 2) {
        const char low = little ? bytes[i] : bytes[i + 1];
        const char high = little ? bytes[i + 1] : bytes[i];
        if (high != 0 || (low & 0x80))
            break;
        text += low;
    }
    return text;
}

bool IsBlankByte(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f';
}

QByteArrayView SkipBlanks(QByteArrayView text) {
    while (!text.isEmpty() && IsBlankByte(text.front()))
        text = text.sliced(1);
    return text;
}

// Whether markup's root element is <MPD>, after an XML declaration, comments and a doctype.
bool IsManifestRoot(QByteArrayView text) {
    for (int guard = 0; guard < 64; ++guard) {
        text = SkipBlanks(text);
        const char* close = nullptr;
        if (text.startsWith("<?"))
            close = "?>";
        else if (text.startsWith("<!--"))
            close = "-->";
        else if (text.startsWith("<!"))
            close = ">";
        if (!close)
            break;
        const qsizetype end = text.indexOf(close);
        if (end < 0)
            return false;
        text = text.sliced(end + qsizetype(std::strlen(close)));
    }
    if (!text.startsWith("<MPD"))
        return false;
    return text.size() == 4 || IsBlankByte(text[4]) || text[4] == '>' || text[4] == '/';
}

// No byte that text never holds (controls other than blanks, NUL included): a media file
// shows them within its first bytes, a page does not.
bool LooksLikeText(QByteArrayView text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return (u < 0x20 && !IsBlankByte(c)) || u == 0x7F;
    });
}

// ---- Candidates ----

// One address a page offers for its video, with what ranks it among the others.
struct Candidate {
    QUrl address;
    MediaKind kind = MediaKind::Direct;
    int height = 0;
    double bitrate = 0;
    bool drm = false;
    bool live = false;
    QString name; // a JSON-LD video's name
};

// Why a candidate is taken only when nothing else is found, most telling first.
enum class Blocker { None, Dash, Live, Drm };

Blocker BlockerOf(const Candidate& c) {
    if (c.drm)
        return Blocker::Drm;
    if (c.live)
        return Blocker::Live;
    return c.kind == MediaKind::Dash ? Blocker::Dash : Blocker::None;
}

// Whether `a` is a better source than `b`, which comes before it on the page.
bool Better(const Candidate& a, const Candidate& b) {
    if (a.height != b.height)
        return a.height > b.height;
    return a.bitrate > b.bitrate;
}

// The places looked in, in order of preference.
enum Place { kVideoElements, kJsonLd, kMetaTags, kPlayerSetups, kPlaces };

// Attributes that hold a quality, in the order they are read.
constexpr const char* kHeightAttributes[] = {"res",   "data-res",   "size",        "data-quality",
                                             "label", "data-label", "data-height", "height"};

int HeightOfTag(const Tag& tag) {
    for (const char* name : kHeightAttributes) {
        if (const int h = HeightOfText(tag.value(name)))
            return h;
    }
    for (const char* name : {"data-width", "width"}) {
        bool ok = false;
        const int w = tag.value(name).trimmed().toInt(&ok);
        if (ok && w > 0 && w <= 15360)
            return w * 9 / 16;
    }
    return 0;
}

double BitrateOfTag(const Tag& tag) {
    for (const char* name : {"data-bitrate", "bitrate"}) {
        if (const double b = BitrateOfText(tag.value(name)))
            return b;
    }
    const QString label = tag.value("label");
    return label.contains(QLatin1String("bps"), Qt::CaseInsensitive) ? BitrateOfText(label) : 0;
}

// A JSON value's text: a string, or a number written out.
QString TextOf(const QJsonValue& v) {
    if (v.isString())
        return v.toString();
    if (v.isDouble())
        return QString::number(v.toDouble());
    return {};
}

// A JSON-LD or player quantity: 720, "720", "720p", {"value": 720}.
int HeightOfJson(QJsonValue v) {
    if (v.isObject())
        v = v.toObject().value(QLatin1String("value"));
    if (v.isDouble())
        return v.toDouble() >= 1 && v.toDouble() <= 8640 ? int(v.toDouble()) : 0;
    return HeightOfText(v.toString());
}

class Collector {
public:
    Collector(const PageScan& scan, const QUrl& base) : scan_(scan), base_(base) {}

    std::array<std::vector<Candidate>, kPlaces> places;
    bool playerSetup = false; // a player is set up by a script, or by data-setup
    bool drmHint = false;     // a script names a DRM key system
    bool liveHint = false;    // a JSON-LD video is a live broadcast
    bool challengeHint = false;
    QString jsonLdName; // the first JSON-LD video's name

    void collect() {
        videoElements();
        for (const QString& text : scan_.jsonLd)
            jsonLd(text);
        metaTags();
        for (const QString& script : scan_.scripts) {
            for (const QJsonValue& call : FindPlayerCalls(script)) {
                playerSetup = true;
                setup(call);
            }
            for (const char* system :
                 {"com.widevine.alpha", "com.microsoft.playready", "com.apple.fps"}) {
                if (script.contains(QLatin1String(system)))
                    drmHint = true;
            }
            if (script.contains(QLatin1String("_cf_chl_opt")))
                challengeHint = true;
        }
        for (const QString& options : scan_.dataSetups) {
            playerSetup = true;
            setup(ReadScriptValue(options));
        }
    }

private:
    // Adds the address `text` names to a place; false when it names no video.
    bool add(Place place, const QString& text, TypeVerdict type, int height, double bitrate,
             bool mediaExtensionOnly = false) {
        if (type == TypeVerdict::NotMedia)
            return false;
        const std::optional<QUrl> url = MediaAddress(text, base_);
        if (!url || (mediaExtensionOnly && !HasMediaExtension(*url)))
            return false;
        Candidate c;
        c.address = *url;
        c.kind = KindOf(*url, type);
        c.height = height;
        c.bitrate = bitrate;
        places[place].push_back(std::move(c));
        return true;
    }

    bool addTag(const Tag& tag, const QString& text) {
        return add(kVideoElements, text, VerdictOfType(tag.value("type")), HeightOfTag(tag),
                   BitrateOfTag(tag));
    }

    void videoElements() {
        std::vector<std::vector<const Tag*>> sourcesOf(scan_.videos.size());
        for (const Tag& source : scan_.sources)
            sourcesOf[std::size_t(source.video)].push_back(&source);
        for (std::size_t i = 0; i < scan_.videos.size(); ++i) {
            const Tag& video = scan_.videos[i];
            for (const char* name : {"src", "data-src", "data-video-src", "data-video-url",
                                     "data-mp4", "data-hls", "data-file", "data-stream"}) {
                if (video.has(name) && addTag(video, video.value(name)))
                    break;
            }
            for (const Tag* source : sourcesOf[i]) {
                for (const char* name : {"src", "data-src", "data-video-src", "data-mp4"}) {
                    if (source->has(name) && addTag(*source, source->value(name)))
                        break;
                }
            }
        }
        for (const Tag& data : scan_.dataMedia) {
            add(kVideoElements, data.attributes.front().second, TypeVerdict::Unknown, 0, 0, true);
        }
    }

    void jsonLd(const QString& text) {
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
        QJsonValue root;
        if (error.error == QJsonParseError::NoError)
            root = doc.isArray() ? QJsonValue(doc.array()) : QJsonValue(doc.object());
        else // pages write JSON-LD by hand: trailing commas, single quotes, comments
            root = ReadScriptValue(text);
        // Depth first (arrays in page order), with the nesting bounded.
        std::vector<std::pair<QJsonValue, int>> stack{{root, 0}};
        while (!stack.empty()) {
            auto [value, depth] = std::move(stack.back());
            stack.pop_back();
            if (depth > kMaxScriptNesting)
                continue;
            std::vector<QJsonValue> children;
            if (value.isArray()) {
                for (const QJsonValue& item : value.toArray())
                    children.push_back(item);
            } else if (value.isObject()) {
                const QJsonObject o = value.toObject();
                if (IsVideoObject(o))
                    videoObject(o);
                for (auto it = o.begin(); it != o.end(); ++it) {
                    if (it.value().isObject() || it.value().isArray())
                        children.push_back(it.value());
                }
            }
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.emplace_back(*it, depth + 1);
        }
    }

    static bool IsVideoObject(const QJsonObject& o) {
        const QJsonValue type = o.value(QLatin1String("@type"));
        auto names = [](const QJsonValue& t) {
            return t.toString().endsWith(QLatin1String("VideoObject"));
        };
        if (type.isArray()) {
            const QJsonArray types = type.toArray();
            return std::any_of(types.begin(), types.end(), names);
        }
        return names(type);
    }

    static bool IsLiveBroadcast(const QJsonObject& video) {
        const QJsonValue publication = video.value(QLatin1String("publication"));
        const QJsonArray events =
            publication.isArray() ? publication.toArray() : QJsonArray{publication};
        for (const QJsonValue& event : events) {
            const QJsonObject e = event.toObject();
            const QJsonValue live = e.value(QLatin1String("isLiveBroadcast"));
            if ((live.toBool() || live.toString() == QLatin1String("true")) &&
                !e.contains(QLatin1String("endDate")))
                return true;
        }
        return false;
    }

    void videoObject(const QJsonObject& video) {
        const QString name = DecodeEntities(video.value(QLatin1String("name")).toString());
        if (jsonLdName.isEmpty())
            jsonLdName = name.simplified();
        const bool live = IsLiveBroadcast(video);
        liveHint = liveHint || live;
        int height = HeightOfJson(video.value(QLatin1String("height")));
        if (height == 0)
            height = HeightOfText(video.value(QLatin1String("videoQuality")).toString());
        if (height == 0) {
            const QJsonValue width = video.value(QLatin1String("width"));
            const int w = width.isObject() ? width.toObject().value(QLatin1String("value")).toInt()
                                           : TextOf(width).toInt();
            height = w > 0 && w <= 15360 ? w * 9 / 16 : 0;
        }
        const double bitrate = BitrateOfText(TextOf(video.value(QLatin1String("bitrate"))));
        const TypeVerdict type =
            VerdictOfType(video.value(QLatin1String("encodingFormat")).toString());
        const QJsonValue content = video.value(QLatin1String("contentUrl"));
        const QJsonArray addresses = content.isArray() ? content.toArray() : QJsonArray{content};
        for (const QJsonValue& address : addresses) {
            if (add(kJsonLd, address.toString(), type, height, bitrate)) {
                places[kJsonLd].back().live = live;
                places[kJsonLd].back().name = name.simplified();
            }
        }
    }

    void metaTags() {
        // og:video properties come in groups: a property met again begins the next video.
        struct Group {
            QString secure, url, type;
            int height = 0, width = 0;
        };
        std::vector<Group> groups(1);
        QString stream, streamType;
        for (const auto& [key, content] : scan_.metas) {
            Group& g = groups.back();
            if (key == QLatin1String("og:video") || key == QLatin1String("og:video:url")) {
                if (!g.url.isEmpty())
                    groups.emplace_back();
                groups.back().url = content;
            } else if (key == QLatin1String("og:video:secure_url")) {
                if (!g.secure.isEmpty())
                    groups.emplace_back();
                groups.back().secure = content;
            } else if (key == QLatin1String("og:video:type") && g.type.isEmpty()) {
                g.type = content;
            } else if (key == QLatin1String("og:video:height") && g.height == 0) {
                g.height = content.trimmed().toInt();
            } else if (key == QLatin1String("og:video:width") && g.width == 0) {
                g.width = content.trimmed().toInt();
            } else if (key == QLatin1String("twitter:player:stream") && stream.isEmpty()) {
                stream = content;
            } else if (key == QLatin1String("twitter:player:stream:content_type")) {
                streamType = content;
            }
        }
        for (const Group& g : groups) {
            const TypeVerdict type = VerdictOfType(g.type);
            const int height = g.height > 0 && g.height <= 8640  ? g.height
                               : g.width > 0 && g.width <= 15360 ? g.width * 9 / 16
                                                                 : 0;
            if (!add(kMetaTags, g.secure, type, height, 0))
                add(kMetaTags, g.url, type, height, 0);
        }
        add(kMetaTags, stream, VerdictOfType(streamType), 0, 0);
    }

    // The sources of a player's setup: every object with a "file", "src" or "source" text,
    // searched through the whole setup (its "sources", "playlist", ...), but not through
    // what is not the video (captions, pictures, advertising).
    void setup(const QJsonValue& root) {
        if (root.isString()) { // player.src("...")
            add(kPlayerSetups, root.toString(), TypeVerdict::Unknown, 0, 0);
            return;
        }
        struct Item {
            QJsonValue value;
            int depth;
            bool drm;
        };
        std::vector<Item> stack{{root, 0, false}};
        while (!stack.empty()) {
            const Item item = std::move(stack.back());
            stack.pop_back();
            if (item.depth > kMaxScriptNesting)
                continue;
            std::vector<QJsonValue> children;
            bool drm = item.drm;
            if (item.value.isArray()) {
                for (const QJsonValue& v : item.value.toArray())
                    children.push_back(v);
            } else if (item.value.isObject()) {
                const QJsonObject o = item.value.toObject();
                for (const char* key :
                     {"drm", "keySystems", "keySystem", "contentProtection", "protData"}) {
                    if (o.contains(QLatin1String(key)))
                        drm = true;
                }
                for (const char* key : {"file", "src", "source"}) {
                    const QJsonValue v = o.value(QLatin1String(key));
                    if (v.isString() && sourceOf(o, v.toString(), drm))
                        break;
                }
                for (auto it = o.begin(); it != o.end(); ++it) {
                    if ((it.value().isObject() || it.value().isArray()) && !NotTheVideo(it.key()))
                        children.push_back(it.value());
                }
            }
            for (auto it = children.rbegin(); it != children.rend(); ++it)
                stack.push_back({*it, item.depth + 1, drm});
        }
    }

    bool sourceOf(const QJsonObject& o, const QString& address, bool drm) {
        int height = HeightOfJson(o.value(QLatin1String("height")));
        for (const char* key : {"res", "label", "quality", "size"}) {
            if (height == 0)
                height = HeightOfText(TextOf(o.value(QLatin1String(key))));
        }
        if (height == 0) {
            const int w = TextOf(o.value(QLatin1String("width"))).toInt();
            height = w > 0 && w <= 15360 ? w * 9 / 16 : 0;
        }
        const double bitrate = BitrateOfText(TextOf(o.value(QLatin1String("bitrate"))));
        if (!add(kPlayerSetups, address, VerdictOfType(o.value(QLatin1String("type")).toString()),
                 height, bitrate))
            return false;
        places[kPlayerSetups].back().drm = drm;
        return true;
    }

    static bool NotTheVideo(const QString& key) {
        for (const char* k :
             {"tracks", "captions", "subtitles", "textTracks", "image", "poster", "logo", "skin",
              "advertising", "related", "sharing", "plugins", "thumbnails"}) {
            if (key == QLatin1String(k))
                return true;
        }
        return false;
    }

    const PageScan& scan_;
    QUrl base_;
};

// The address a refresh's content ("5; url=/next", "0;URL='next'") sends the reader to.
QString RefreshTarget(const QString& content) {
    QStringView c = QStringView(content).trimmed();
    qsizetype i = 0;
    while (i < c.size() && (c[i].isDigit() || c[i] == QLatin1Char('.')))
        ++i;
    if (i == 0)
        return {};
    c = c.sliced(i).trimmed();
    if (c.startsWith(QLatin1Char(';')) || c.startsWith(QLatin1Char(',')))
        c = c.sliced(1).trimmed();
    if (c.startsWith(QLatin1String("url"), Qt::CaseInsensitive)) {
        QStringView rest = c.sliced(3).trimmed();
        if (rest.startsWith(QLatin1Char('=')))
            c = rest.sliced(1).trimmed();
    }
    if (!c.isEmpty() && (c.front() == QLatin1Char('"') || c.front() == QLatin1Char('\''))) {
        const qsizetype close = c.indexOf(c.front(), 1);
        c = close < 0 ? c.sliced(1) : c.sliced(1, close - 1);
    }
    return c.toString();
}

PageFinding Miss(const QString& reason, const QString& title) {
    PageFinding f;
    f.outcome = PageFinding::Outcome::Miss;
    f.reason = reason;
    f.title = title;
    return f;
}

} // namespace

AnswerKind ClassifyAnswer(const QByteArray& contentType, QByteArrayView firstBytes) {
    const QByteArray type = MimeType(contentType);
    for (const char* playlist : {"application/vnd.apple.mpegurl", "application/x-mpegurl",
                                 "application/mpegurl", "audio/mpegurl", "audio/x-mpegurl"}) {
        if (type == playlist)
            return AnswerKind::HlsPlaylist;
    }
    if (type == "application/dash+xml")
        return AnswerKind::DashManifest;
    if (type.startsWith("video/") || type.startsWith("audio/"))
        return AnswerKind::Media;
    const QByteArray lead = LeadText(firstBytes);
    const QByteArrayView text = SkipBlanks(lead);
    if (text.startsWith("#EXTM3U"))
        return AnswerKind::HlsPlaylist;
    if (text.startsWith("<"))
        return IsManifestRoot(text) ? AnswerKind::DashManifest : AnswerKind::Html;
    if ((type == "text/html" || type == "application/xhtml+xml") && LooksLikeText(lead))
        return AnswerKind::Html;
    return AnswerKind::Media;
}

PageFinding FindVideoOnPage(const PageInput& in) {
    if (in.challenge)
        return Miss(kReasonChallenge, {});
    const QByteArrayView body =
        QByteArrayView(in.body).first(std::min(in.body.size(), kMaxPageBytes));
    const PageScan scan = ScanPage(body, in.contentType);

    QUrl base = in.address.adjusted(QUrl::RemoveFragment);
    if (!scan.base.trimmed().isEmpty()) {
        const QUrl declared = base.resolved(QUrl(DecodeEntities(scan.base).trimmed()));
        if (declared.scheme() == QLatin1String("http") ||
            declared.scheme() == QLatin1String("https"))
            base = declared;
    }
    Collector found(scan, base);
    found.collect();

    QString title;
    for (const auto& [key, content] : scan.metas) {
        if (key == QLatin1String("og:title") && title.isEmpty())
            title = DecodeEntities(content).simplified();
    }
    const QString pageTitle = DecodeEntities(scan.title).simplified();

    // The best source that can be had, place by place.
    const Candidate* best = nullptr;
    for (const std::vector<Candidate>& place : found.places) {
        for (const Candidate& c : place) {
            if (BlockerOf(c) == Blocker::None && (!best || Better(c, *best)))
                best = &c;
        }
        if (best)
            break;
    }
    // Else the best of those that can't be had yet, the most telling reason first.
    const Candidate* blocked = nullptr;
    if (!best) {
        for (const std::vector<Candidate>& place : found.places) {
            for (const Candidate& c : place) {
                if (!blocked || BlockerOf(c) > BlockerOf(*blocked))
                    blocked = &c;
            }
        }
    }
    const Candidate* chosen = best ? best : blocked;
    if (title.isEmpty() && chosen && !chosen->name.isEmpty())
        title = chosen->name;
    if (title.isEmpty())
        title = found.jsonLdName;
    if (title.isEmpty())
        title = pageTitle;

    if (chosen) {
        PageFinding f;
        f.address = chosen->address.toString(QUrl::FullyEncoded);
        f.kind = chosen->kind;
        f.title = title;
        switch (BlockerOf(*chosen)) {
        case Blocker::None:
            f.outcome = PageFinding::Outcome::Media;
            break;
        case Blocker::Drm:
            f.reason = kReasonDrm;
            break;
        case Blocker::Live:
            f.reason = kReasonLive;
            break;
        case Blocker::Dash:
            f.reason = kReasonDashOnly;
            break;
        }
        return f;
    }

    if (const QString target = RefreshTarget(scan.refresh); !target.isEmpty()) {
        const std::optional<QUrl> next = [&]() -> std::optional<QUrl> {
            const QUrl url = base.resolved(QUrl(DecodeEntities(target).trimmed()))
                                 .adjusted(QUrl::RemoveFragment);
            if ((url.scheme() == QLatin1String("http") || url.scheme() == QLatin1String("https")) &&
                !url.host().isEmpty() && url != in.address.adjusted(QUrl::RemoveFragment))
                return url;
            return std::nullopt;
        }();
        if (next) {
            PageFinding f;
            f.outcome = PageFinding::Outcome::Refresh;
            f.address = next->toString(QUrl::FullyEncoded);
            f.title = title;
            return f;
        }
    }
    if (scan.challengeMarkup || found.challengeHint)
        return Miss(kReasonChallenge, title);
    if (found.drmHint)
        return Miss(kReasonDrm, title);
    if (found.liveHint)
        return Miss(kReasonLive, title);
    if (!scan.videos.empty() || found.playerSetup || scan.playerMarkup)
        return Miss(kReasonScriptFed, title);
    return Miss(kReasonNoVideo, title);
}

} // namespace orvello
