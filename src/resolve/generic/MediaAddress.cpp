#include "resolve/generic/MediaAddress.h"

#include <libxml/HTMLparser.h>

#include <QStringList>

#include <array>

namespace orvello::generic {

namespace {

// An address longer than this is not taken: no page names a video so, and a long data: or
// script text is not parsed as an address.
constexpr qsizetype kMaxAddressLength = 16 * 1024;

// Extensions of files that are never the video itself.
constexpr std::array kNotVideoExtensions{"jpg", "jpeg", "png",  "gif",  "webp", "svg",  "bmp",
                                         "ico", "avif", "tif",  "tiff", "heic", "js",   "mjs",
                                         "css", "vtt",  "srt",  "ass",  "ssa",  "ttml", "dfxp",
                                         "sbv", "swf",  "html", "htm",  "xhtml"};

// Extensions of media files, playlists and manifests.
constexpr std::array kMediaExtensions{"mp4", "m4v",  "webm", "mkv",  "mov", "avi",  "flv", "f4v",
                                      "wmv", "asf",  "mpg",  "mpeg", "ts",  "m2ts", "mts", "3gp",
                                      "3g2", "ogv",  "ogg",  "oga",  "mp3", "m4a",  "aac", "opus",
                                      "wav", "flac", "weba", "m3u8", "m3u", "mpd"};

// The extension of the address's last path segment, in lower case, or the empty text.
QString ExtensionOf(const QUrl& address) {
    const QString path = address.path(QUrl::FullyDecoded);
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot <= slash + 1)
        return {};
    return path.mid(dot + 1).toLower();
}

template <std::size_t N>
bool OneOf(const QString& extension, const std::array<const char*, N>& list) {
    for (const char* e : list) {
        if (extension == QLatin1String(e))
            return true;
    }
    return false;
}

// A reference's text between '&' and ';' as the character it stands for, or nothing.
std::optional<char32_t> ReferencedCharacter(QStringView name) {
    if (name.isEmpty() || name.size() > 32)
        return std::nullopt;
    if (name.front() == QLatin1Char('#')) {
        const bool hex = name.size() > 1 && (name[1] == QLatin1Char('x') || name[1] == 'X');
        bool ok = false;
        const uint code = name.mid(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || name.mid(hex ? 2 : 1).front() == QLatin1Char('+'))
            return std::nullopt;
        // A reference to nothing a text can hold reads as the replacement character.
        if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
            return U'\uFFFD';
        return char32_t(code);
    }
    if (name == QLatin1String("apos"))
        return U'\'';
    const QByteArray ascii = name.toLatin1();
    for (char c : ascii) {
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return std::nullopt;
    }
    if (const htmlEntityDesc* entity =
            htmlEntityLookup(reinterpret_cast<const xmlChar*>(ascii.constData())))
        return char32_t(entity->value);
    return std::nullopt;
}

bool IsDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// The whole number that starts at `pos` (its digits only), moving `pos` past it.
qint64 ReadNumber(QStringView text, qsizetype& pos) {
    qint64 n = 0;
    while (pos < text.size() && IsDigit(text[pos])) {
        if (n < 1'000'000'000)
            n = n * 10 + (text[pos].unicode() - '0');
        ++pos;
    }
    return n;
}

} // namespace

TypeVerdict VerdictOfType(QStringView type) {
    QString t = type.toString();
    const qsizetype semicolon = t.indexOf(QLatin1Char(';'));
    if (semicolon >= 0)
        t.truncate(semicolon);
    t = t.trimmed().toLower();
    if (t.isEmpty())
        return TypeVerdict::Unknown;
    if (t.contains(QLatin1String("mpegurl")) || t == QLatin1String("hls") ||
        t == QLatin1String("m3u8"))
        return TypeVerdict::Hls;
    if (t == QLatin1String("application/dash+xml") || t == QLatin1String("dash") ||
        t == QLatin1String("mpd"))
        return TypeVerdict::Dash;
    // Players name their embedded players of other sites as video types.
    for (const char* embedded :
         {"video/youtube", "video/vimeo", "video/dailymotion", "video/twitch", "video/facebook"}) {
        if (t == QLatin1String(embedded))
            return TypeVerdict::NotMedia;
    }
    if (t.startsWith(QLatin1String("video/")) || t.startsWith(QLatin1String("audio/")) ||
        t == QLatin1String("application/mp4"))
        return TypeVerdict::Direct;
    for (const char* shortName : {"mp4", "m4v", "webm", "flv", "mov", "ogg", "ogv", "mp3", "aac"}) {
        if (t == QLatin1String(shortName))
            return TypeVerdict::Direct;
    }
    if (t.startsWith(QLatin1String("text/")) || t.startsWith(QLatin1String("image/")) ||
        t.contains(QLatin1String("flash")) || t.startsWith(QLatin1String("rtmp")) ||
        t == QLatin1String("youtube") || t == QLatin1String("vimeo") ||
        t == QLatin1String("iframe"))
        return TypeVerdict::NotMedia;
    return TypeVerdict::Unknown;
}

QString DecodeEntities(const QString& text) {
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString out;
    out.reserve(text.size());
    qsizetype i = 0;
    while (i < text.size()) {
        const QChar c = text[i];
        if (c == QLatin1Char('&')) {
            const qsizetype semicolon = text.indexOf(QLatin1Char(';'), i + 1);
            if (semicolon > i + 1 && semicolon - i <= 33) {
                if (const auto ch =
                        ReferencedCharacter(QStringView(text).mid(i + 1, semicolon - i - 1))) {
                    const char32_t code = *ch;
                    out += QString::fromUcs4(&code, 1);
                    i = semicolon + 1;
                    continue;
                }
            }
        }
        out += c;
        ++i;
    }
    return out;
}

std::optional<QUrl> MediaAddress(const QString& text, const QUrl& base) {
    if (text.size() > kMaxAddressLength)
        return std::nullopt;
    QString s = DecodeEntities(text);
    s.replace(QLatin1String("\\/"), QLatin1String("/"));
    s = s.trimmed();
    s.remove(QLatin1Char('\t'));
    s.remove(QLatin1Char('\n'));
    s.remove(QLatin1Char('\r'));
    if (s.isEmpty())
        return std::nullopt;
    const QUrl relative(s, QUrl::TolerantMode);
    if (!relative.isValid())
        return std::nullopt;
    QUrl url = base.resolved(relative).adjusted(QUrl::RemoveFragment);
    const QString scheme = url.scheme();
    if ((scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || !url.isValid())
        return std::nullopt;
    if (OneOf(ExtensionOf(url), kNotVideoExtensions))
        return std::nullopt;
    return url;
}

bool HasMediaExtension(const QUrl& address) {
    return OneOf(ExtensionOf(address), kMediaExtensions);
}

MediaKind KindOf(const QUrl& address, TypeVerdict type) {
    if (type == TypeVerdict::Hls)
        return MediaKind::Hls;
    if (type == TypeVerdict::Dash)
        return MediaKind::Dash;
    const QString extension = ExtensionOf(address);
    if (extension == QLatin1String("m3u8") || extension == QLatin1String("m3u"))
        return MediaKind::Hls;
    if (extension == QLatin1String("mpd"))
        return MediaKind::Dash;
    return MediaKind::Direct;
}

int HeightOfText(QStringView text) {
    const QString t = text.trimmed().toString().toLower();
    if (t.isEmpty())
        return 0;
    // "1280x720": the number after the 'x'.
    for (qsizetype i = 1; i + 1 < t.size(); ++i) {
        if ((t[i] == QLatin1Char('x') || t[i] == QChar(0x00D7)) && IsDigit(t[i - 1]) &&
            IsDigit(t[i + 1])) {
            qsizetype pos = i + 1;
            const qint64 h = ReadNumber(t, pos);
            return h > 0 && h <= 8640 ? int(h) : 0;
        }
    }
    // The first number, with what follows it.
    qsizetype pos = 0;
    while (pos < t.size() && !IsDigit(t[pos]))
        ++pos;
    if (pos < t.size()) {
        const bool wordStart = pos == 0 || !t[pos - 1].isLetter();
        const qint64 n = ReadNumber(t, pos);
        const QChar next = pos < t.size() ? t[pos] : QChar();
        const bool wordEnd = pos + 1 >= t.size() || !t[pos + 1].isLetter();
        if (wordStart && (next == QLatin1Char('p') || next == QLatin1Char('i')) && n >= 100 &&
            n <= 8640)
            return int(n);
        if (wordStart && next == QLatin1Char('k') && wordEnd)
            return n == 2 ? 1440 : n == 4 ? 2160 : n == 8 ? 4320 : 0;
        if (wordStart && n >= 100 && n <= 8640 &&
            (next.isNull() || t.mid(pos).trimmed() == QLatin1String("px")))
            return int(n);
    }
    // Words.
    QStringList words;
    QString word;
    for (QChar c : t + QLatin1Char(' ')) {
        if (c.isLetterOrNumber()) {
            word += c;
        } else if (!word.isEmpty()) {
            words += word;
            word.clear();
        }
    }
    if (words.contains(QLatin1String("uhd")))
        return 2160;
    if (words.contains(QLatin1String("fhd")) || t.contains(QLatin1String("full hd")) ||
        words.contains(QLatin1String("fullhd")))
        return 1080;
    if (words.contains(QLatin1String("hd")) || words.contains(QLatin1String("hq")))
        return 720;
    if (words.contains(QLatin1String("sd")))
        return 480;
    return 0;
}

double BitrateOfText(QStringView text) {
    const QString t = text.trimmed().toString().toLower();
    qsizetype pos = 0;
    while (pos < t.size() && !IsDigit(t[pos]))
        ++pos;
    const qsizetype start = pos;
    while (pos < t.size() && (IsDigit(t[pos]) || t[pos] == QLatin1Char('.')))
        ++pos;
    bool ok = false;
    const double n = t.mid(start, pos - start).toDouble(&ok);
    if (!ok || n <= 0)
        return 0;
    const QString unit = t.mid(pos).trimmed();
    if (unit.startsWith(QLatin1Char('k')))
        return n * 1e3;
    if (unit.startsWith(QLatin1Char('m')))
        return n * 1e6;
    return n;
}

} // namespace orvello::generic
