#include "resolve/generic/PageScan.h"

#include <libxml/HTMLparser.h>
#include <libxml/parser.h>

#include <QList>
#include <QStringConverter>
#include <QStringDecoder>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>

namespace orvello::generic {

namespace {

// The longest title kept; a longer one is cut (a file name holds far less anyway).
constexpr qsizetype kMaxTitleBytes = 64 * 1024;

// Data attributes that players and lazy loaders keep a video's address in.
constexpr const char* kDataMediaAttributes[] = {"data-video-src", "data-video-url", "data-mp4",
                                                "data-hls",       "data-src",       "data-video",
                                                "data-file",      "data-stream"};

// Parts of class names and script file names that belong to players that load their video
// from a script.
constexpr const char* kPlayerClasses[] = {
    "video-js", "jwplayer", "jw-player", "plyr", "flowplayer", "mejs__", "shaka-video-container"};
constexpr const char* kPlayerLibraries[] = {"jwplayer",   "video.js", "video.min.js", "hls.js",
                                            "hls.min.js", "dash.all", "shaka-player", "plyr",
                                            "flowplayer", "clappr",   "mediaelement"};

// The ids a browser check's page gives its form and its status elements.
constexpr const char* kChallengeIds[] = {"challenge-form", "challenge-running", "challenge-stage",
                                         "cf-challenge-running", "challenge-error-text"};

bool Is(const xmlChar* text, const char* word) {
    return std::strcmp(reinterpret_cast<const char*>(text), word) == 0;
}

QString Text(const xmlChar* text) {
    return text ? QString::fromUtf8(reinterpret_cast<const char*>(text)) : QString();
}

// The value of an attribute in the parser's list (name, value, name, value, ..., null).
const xmlChar* Attribute(const xmlChar** atts, const char* name) {
    for (; atts && atts[0]; atts += 2) {
        if (Is(atts[0], name))
            return atts[1] ? atts[1] : reinterpret_cast<const xmlChar*>("");
    }
    return nullptr;
}

// The attributes of <video> and <source> elements that are read; the others are not kept.
constexpr const char* kTagAttributes[] = {
    "src",      "type",         "res",        "data-res",       "size",           "data-quality",
    "label",    "data-label",   "height",     "data-height",    "width",          "data-width",
    "bitrate",  "data-bitrate", "data-src",   "data-video-src", "data-video-url", "data-mp4",
    "data-hls", "data-file",    "data-stream"};

Tag MakeTag(const xmlChar** atts) {
    Tag tag;
    for (; atts && atts[0]; atts += 2) {
        for (const char* name : kTagAttributes) {
            if (Is(atts[0], name)) {
                tag.attributes.emplace_back(QByteArray(name), Text(atts[1]));
                break;
            }
        }
    }
    return tag;
}

// Appends to a list of what the page holds while it has room.
template <typename List, typename Item> bool Keep(List& list, Item&& item) {
    if (qsizetype(list.size()) >= kMaxKeptPerKind)
        return false;
    list.push_back(std::forward<Item>(item));
    return true;
}

QByteArray Lower(const xmlChar* text) {
    return QByteArray(reinterpret_cast<const char*>(text)).toLower();
}

// The WHATWG encoding standard reads these labels as windows-1252, as browsers do: pages that
// say Latin-1 use its printable characters in 0x80-0x9F.
QByteArray WhatwgEncoding(const QByteArray& charset) {
    const QByteArray c = charset.trimmed().toLower();
    for (const char* label : {"iso-8859-1", "iso8859-1", "latin1", "l1", "us-ascii", "ascii",
                              "iso_8859-1", "cp819", "ibm819"}) {
        if (c == label)
            return QByteArrayLiteral("windows-1252");
    }
    return c;
}

// The encoding's name when Qt's converters (ICU) can read it, else the empty text.
QByteArray KnownEncoding(const QByteArray& name) {
    if (name.isEmpty() || !QStringDecoder(name.constData()).isValid())
        return {};
    return name;
}

bool IsUtf8(const QByteArray& name) {
    // A declaration of UTF-16 read in an ASCII-compatible page is wrong about it: UTF-8.
    return name == "utf-8" || name == "utf8" || name.startsWith("utf-16") ||
           name == "unicode-1-1-utf-8";
}

bool SameEncoding(const QByteArray& a, const QByteArray& b) {
    return IsUtf8(a) ? IsUtf8(b) : a == b;
}

// The charset parameter of a Content-Type value.
QByteArray CharsetParameter(const QByteArray& contentType) {
    for (const QByteArray& part : contentType.split(';')) {
        const QByteArray p = part.trimmed();
        if (p.toLower().startsWith("charset=")) {
            QByteArray value = p.mid(8).trimmed();
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\''))
                value = value.mid(1, value.size() - 2);
            return value;
        }
    }
    return {};
}

// Whether the page is UTF-8 throughout; a character cut off by the end of what was read
// does not count against it.
bool IsValidUtf8(QByteArrayView body) {
    qsizetype n = body.size();
    for (int k = 0; k < 3 && n > 0 && (static_cast<unsigned char>(body[n - 1]) & 0xC0) == 0x80; ++k)
        --n;
    if (n > 0 && static_cast<unsigned char>(body[n - 1]) >= 0xC0)
        --n;
    return QUtf8StringView(body.first(n)).isValidUtf8();
}

// The page's text in UTF-8, read from bytes in `encoding`. Bytes that are no character in it
// become U+FFFD, as a browser shows them, and the reading goes on. Valid UTF-8 is taken as it
// is.
QByteArray AsUtf8(QByteArrayView body, const QByteArray& encoding) {
    if (IsUtf8(encoding) && IsValidUtf8(body))
        return body.toByteArray();
    QStringDecoder decoder(IsUtf8(encoding) ? "utf-8" : encoding.constData());
    return QString(decoder(body)).toUtf8();
}

enum class ScriptKind { None, Inline, JsonLd };

// The parser's events, gathered into a PageScan.
struct Scanner {
    PageScan out;
    htmlParserCtxtPtr ctxt = nullptr;
    // While the page is read in an encoding assumed for want of a declared one: the encoding
    // the first <meta> in its head declares (the empty text for one libxml2 can't read).
    bool watchCharset = false;
    QByteArray readingAs;
    QByteArray declaredCharset;
    bool inBody = false;
    int depth = 0;
    bool stopped = false;
    std::vector<int> openVideos;
    bool inTitle = false;
    bool titleDone = false;
    QByteArray titleText;
    ScriptKind script = ScriptKind::None;
    QByteArray scriptText;

    void start(const xmlChar* name, const xmlChar** atts) {
        if (stopped)
            return;
        if (++depth > kMaxElementDepth) {
            stopped = true;
            xmlStopParser(ctxt);
            return;
        }
        if (Is(name, "body"))
            inBody = true;
        if (Is(name, "base")) {
            if (const xmlChar* href = Attribute(atts, "href"); href && out.base.isEmpty())
                out.base = Text(href);
        } else if (Is(name, "meta")) {
            meta(atts);
        } else if (Is(name, "title")) {
            inTitle = !titleDone;
        } else if (Is(name, "video") || Is(name, "video-js")) {
            // A <video> past the list's room is not kept, nor are its sources.
            openVideos.push_back(Keep(out.videos, MakeTag(atts)) ? int(out.videos.size()) - 1 : -1);
            if (Is(name, "video-js"))
                out.playerMarkup = true;
        } else if (Is(name, "source")) {
            if (!openVideos.empty() && openVideos.back() >= 0) {
                Tag source = MakeTag(atts);
                source.video = openVideos.back();
                Keep(out.sources, std::move(source));
            }
        } else if (Is(name, "script")) {
            scriptStart(atts);
        }
        attributes(atts, Is(name, "video") || Is(name, "video-js") || Is(name, "source"));
    }

    // What any element's attributes tell, in one pass over them.
    void attributes(const xmlChar** atts, bool mediaElement) {
        for (; atts && atts[0]; atts += 2) {
            const char* key = reinterpret_cast<const char*>(atts[0]);
            const char* value = atts[1] ? reinterpret_cast<const char*>(atts[1]) : "";
            if (std::strncmp(key, "data-", 5) == 0) {
                if (std::strcmp(key + 5, "setup") == 0) {
                    Keep(out.dataSetups, QString::fromUtf8(value));
                } else if (!mediaElement) {
                    for (const char* data : kDataMediaAttributes) {
                        if (std::strcmp(key, data) == 0) {
                            Tag tag;
                            tag.attributes.emplace_back(QByteArray(data), QString::fromUtf8(value));
                            Keep(out.dataMedia, std::move(tag));
                        }
                    }
                }
            } else if (std::strcmp(key, "class") == 0) {
                for (const char* player : kPlayerClasses) {
                    if (strcasestr(value, player))
                        out.playerMarkup = true;
                }
            } else if (std::strcmp(key, "id") == 0) {
                for (const char* challenge : kChallengeIds) {
                    if (std::strcmp(value, challenge) == 0)
                        out.challengeMarkup = true;
                }
            }
        }
    }

    void end(const xmlChar* name) {
        if (stopped)
            return;
        --depth;
        if ((Is(name, "video") || Is(name, "video-js")) && !openVideos.empty()) {
            openVideos.pop_back();
        } else if (Is(name, "title") && inTitle) {
            inTitle = false;
            titleDone = true;
            out.title = QString::fromUtf8(titleText);
        } else if (Is(name, "script") && script != ScriptKind::None) {
            endScript();
        }
    }

    // Keeps the text of the script just read.
    void endScript() {
        Keep(script == ScriptKind::JsonLd ? out.jsonLd : out.scripts,
             QString::fromUtf8(scriptText));
        script = ScriptKind::None;
        scriptText.clear();
    }

    void text(const xmlChar* chars, int length) {
        if (stopped)
            return;
        if (inTitle && titleText.size() < kMaxTitleBytes)
            titleText.append(reinterpret_cast<const char*>(chars),
                             std::min<qsizetype>(length, kMaxTitleBytes - titleText.size()));
        else if (script != ScriptKind::None)
            scriptText.append(reinterpret_cast<const char*>(chars), length);
    }

    void meta(const xmlChar** atts) {
        if (watchCharset && !inBody) {
            QByteArray declared;
            if (const xmlChar* charset = Attribute(atts, "charset"))
                declared = Lower(charset).trimmed();
            else if (const xmlChar* equiv = Attribute(atts, "http-equiv");
                     equiv && Lower(equiv).trimmed() == "content-type")
                if (const xmlChar* content = Attribute(atts, "content"))
                    declared = CharsetParameter(Lower(content)).trimmed();
            if (!declared.isEmpty()) {
                watchCharset = false;
                declaredCharset =
                    IsUtf8(declared) ? declared : KnownEncoding(WhatwgEncoding(declared));
                if (!declaredCharset.isEmpty() && !SameEncoding(declaredCharset, readingAs)) {
                    stopped = true; // read again in the declared one
                    xmlStopParser(ctxt);
                    return;
                }
            }
        }
        if (const xmlChar* equiv = Attribute(atts, "http-equiv");
            equiv && Lower(equiv) == "refresh" && out.refresh.isEmpty()) {
            out.refresh = Text(Attribute(atts, "content"));
            return;
        }
        const xmlChar* property = Attribute(atts, "property");
        if (!property)
            property = Attribute(atts, "name");
        if (!property)
            return;
        const QByteArray key = Lower(property).trimmed();
        if (key.startsWith("og:") || key.startsWith("twitter:"))
            Keep(out.metas, std::pair(QString::fromLatin1(key), Text(Attribute(atts, "content"))));
    }

    void scriptStart(const xmlChar** atts) {
        if (const xmlChar* src = Attribute(atts, "src")) {
            QByteArray file = Lower(src);
            file = file.left(file.indexOf('?') < 0 ? file.size() : file.indexOf('?'));
            file = file.mid(file.lastIndexOf('/') + 1);
            for (const char* library : kPlayerLibraries) {
                if (file.contains(library))
                    out.playerMarkup = true;
            }
            return;
        }
        const xmlChar* typeValue = Attribute(atts, "type");
        QByteArray type = typeValue ? Lower(typeValue).trimmed() : QByteArray();
        type = type.left(type.indexOf(';') < 0 ? type.size() : type.indexOf(';')).trimmed();
        if (type == "application/ld+json")
            script = ScriptKind::JsonLd;
        else if (type.isEmpty() || type == "module" || type.contains("javascript") ||
                 type.contains("ecmascript"))
            script = ScriptKind::Inline;
        else
            script = ScriptKind::None; // a template or data of some other kind
    }
};

Scanner* Of(void* context) {
    return static_cast<Scanner*>(context);
}

void IgnoreError(void*, const char*, ...) {}

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Hands the parser the page's text in pieces, and nothing more once the reading's time is up.
struct Feed {
    static constexpr qsizetype kPiece = 4096;

    const QByteArray& text;
    qsizetype pos;
    double cpuStart;

    static int read(void* context, char* buffer, int length) {
        Feed& f = *static_cast<Feed*>(context);
        if (ThreadCpuSeconds() - f.cpuStart > kMaxReadCpuSeconds)
            return 0; // the end of the page, as far as the parser knows
        const qsizetype n = std::min({qsizetype(length), f.text.size() - f.pos, kPiece});
        std::memcpy(buffer, f.text.constData() + f.pos, std::size_t(n));
        f.pos += n;
        return int(n);
    }
};

// One reading of a page's UTF-8 text. libxml2 is told the encoding, so it never converts,
// guesses or switches one itself.
//
// libxml2 pulls the text through `Feed`, a few KiB at a time, and the feed ends it early once
// the reading has spent kMaxReadCpuSeconds (counted from `cpuStart`): some markup costs the
// parser time in the square of its length (a start tag with many different attributes is
// checked for repeated names pairwise, an end tag that closes nothing is looked for among
// all open elements), and the feed is the one place the parser comes back to while it works.
void Read(Scanner& scanner, const QByteArray& text, double cpuStart) {
    htmlSAXHandler sax;
    std::memset(&sax, 0, sizeof sax);
    sax.startElement = [](void* c, const xmlChar* name, const xmlChar** atts) {
        Of(c)->start(name, atts);
    };
    sax.endElement = [](void* c, const xmlChar* name) { Of(c)->end(name); };
    sax.characters = [](void* c, const xmlChar* chars, int length) { Of(c)->text(chars, length); };
    sax.ignorableWhitespace = sax.characters;
    sax.cdataBlock = sax.characters;

    // Errors outside a parser's context go to libxml2's generic handler, which prints them on
    // standard error: the reading is silent, and the handler is given back after it.
    const xmlGenericErrorFunc handler = xmlGenericError;
    void* const handlerContext = xmlGenericErrorContext;
    xmlSetGenericErrorFunc(nullptr, &IgnoreError);

    htmlParserCtxtPtr ctxt = htmlNewParserCtxt();
    if (!ctxt) {
        xmlSetGenericErrorFunc(handlerContext, handler);
        return;
    }
    std::memcpy(ctxt->sax, &sax, sizeof sax);
    ctxt->userData = &scanner;
    scanner.ctxt = ctxt;
    Feed feed{text, 0, cpuStart};
    htmlDocPtr doc = htmlCtxtReadIO(ctxt, &Feed::read, nullptr, &feed, nullptr, "UTF-8",
                                    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                                        HTML_PARSE_NONET);
    if (doc)
        xmlFreeDoc(doc);
    htmlFreeParserCtxt(ctxt);
    scanner.ctxt = nullptr;
    xmlSetGenericErrorFunc(handlerContext, handler);
    // A title or script the page never closed holds what came before the end.
    if (scanner.inTitle)
        scanner.out.title = QString::fromUtf8(scanner.titleText);
    if (scanner.script != ScriptKind::None)
        scanner.endScript();
}

} // namespace

QString Tag::value(const char* name) const {
    for (const auto& [key, text] : attributes) {
        if (key == name)
            return text;
    }
    return {};
}

bool Tag::has(const char* name) const {
    for (const auto& attribute : attributes) {
        if (attribute.first == name)
            return true;
    }
    return false;
}

PageScan ScanPage(QByteArrayView body, const QByteArray& contentType) {
    const double cpuStart = ThreadCpuSeconds();
    Scanner first;
    if (body.isEmpty())
        return std::move(first.out);
    // A byte-order mark decides, then the answer's charset.
    if (const std::optional<QStringConverter::Encoding> marked =
            QStringConverter::encodingForData(body)) {
        QStringDecoder decoder(*marked); // drops the mark
        Read(first, QString(decoder(body)).toUtf8(), cpuStart);
        return std::move(first.out);
    }
    if (const QByteArray given = KnownEncoding(WhatwgEncoding(CharsetParameter(contentType)));
        !given.isEmpty()) {
        Read(first, AsUtf8(body, given), cpuStart);
        return std::move(first.out);
    }
    // Else UTF-8 (windows-1252 when the bytes are not UTF-8), unless the page's head declares
    // another encoding: then once more in that.
    const QByteArray assumed =
        IsValidUtf8(body) ? QByteArrayLiteral("utf-8") : QByteArrayLiteral("windows-1252");
    first.watchCharset = true;
    first.readingAs = assumed;
    Read(first, AsUtf8(body, assumed), cpuStart);
    const QByteArray declared = first.declaredCharset;
    if (declared.isEmpty() || SameEncoding(declared, assumed))
        return std::move(first.out);
    Scanner second;
    Read(second, AsUtf8(body, declared), cpuStart);
    return std::move(second.out);
}

} // namespace orvello::generic
