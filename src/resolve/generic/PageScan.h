#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <utility>
#include <vector>

namespace orvello::generic {

// The deepest nesting of elements read. A page nested deeper is read up to there: the parser's
// end-tag handling looks through the open elements, so an unbounded nesting would make a
// hostile page cost time in the square of its length.
inline constexpr int kMaxElementDepth = 256;

// The most CPU time the parser spends on one page (both readings, when its <meta> names
// another encoding). An ordinary 8 MiB page takes a tenth of it; what a page holds past the
// point where the time ran out is not read.
inline constexpr double kMaxReadCpuSeconds = 2.0;

// The most of each kind of thing kept from a page (videos, sources, data attributes, meta
// tags, player options, JSON-LD blocks, inline scripts); what comes after is not looked at.
// No page names its video past the first few thousand of any, and so a hostile page can't
// make the search after the reading cost more than that.
inline constexpr qsizetype kMaxKeptPerKind = 4096;

// An element's attributes as the page gives them (names in lower case, values with their
// character references decoded by the parser): for <video> and <source>, those read.
struct Tag {
    std::vector<std::pair<QByteArray, QString>> attributes;
    int video = -1; // for a <source>: the index of the <video> it stands in

    // The value of the attribute `name`, or the empty text.
    QString value(const char* name) const;
    bool has(const char* name) const;
};

// What one pass of the HTML parser over a page finds that can tell where its video is.
struct PageScan {
    QString base;    // the first <base href>
    QString title;   // the text of the first <title>
    QString refresh; // the content of the first <meta http-equiv="refresh">
    // <meta> elements whose property or name begins with "og:" or "twitter:", in page order:
    // the property (in lower case) and the content.
    std::vector<std::pair<QString, QString>> metas;
    std::vector<Tag> videos;  // <video> and <video-js> elements
    std::vector<Tag> sources; // <source> elements inside one of them
    // Other elements with a data attribute that names a video ("data-video-src", "data-mp4",
    // ...): that attribute alone, as the element's only one.
    std::vector<Tag> dataMedia;
    std::vector<QString> dataSetups; // "data-setup" values (a Video.js player's options)
    std::vector<QString> jsonLd;     // the texts of the application/ld+json scripts
    std::vector<QString> scripts;    // the texts of the inline scripts
    bool playerMarkup = false;       // a known player's container, element or script library
    bool challengeMarkup = false;    // the form or element of a browser check
};

// Reads a page with libxml2's HTML parser, which recovers from broken markup and never
// touches the network. The page's encoding is the one its byte-order mark says, else the
// charset of the answer's Content-Type value (`contentType`), else the one a <meta> in its
// head declares, else UTF-8 (bytes that are not UTF-8 switch the parser to Latin-1 from there
// on). Latin-1 and ASCII labels are read as windows-1252, as browsers do.
PageScan ScanPage(QByteArrayView body, const QByteArray& contentType);

} // namespace orvello::generic
