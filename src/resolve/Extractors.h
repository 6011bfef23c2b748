#pragma once

#include <QString>

namespace orvello {

// What an extractor works from: the page address as the list holds it, and the fetched page
// (one character per byte).
struct ExtractInput {
    const QString& sLink;
    const QString& page;
};

// Cuts the address of the video file out of a fetched page by the site's own markers, or
// gives the empty text. Each extractor is on its own, in its site's unit (sites/), and keeps
// no state between calls. For a site whose files are reached through a redirect
// (SiteEntry::redirect), the extractor gives the address the redirect resolution starts from.
using Extractor = QString (*)(const ExtractInput& in);

// The media hosts that two sites' extractors put in front of what they cut (each defined in
// its site's unit).
extern const QString kMyspaceMediaPrefix;
extern const QString kBreakMediaPrefix;

// Percent-decoding: each "%" followed by two hexadecimal digits becomes the byte it names
// (as the character of that code), everything else stays. A result of 1,024 characters or
// more does not fit the decoding buffer and gives the empty text.
QString UnescapeUrl(const QString& text);

// A fetched page as the extractors read it: one character per byte (Latin-1), so no byte is
// lost or altered.
QString PageText(const QByteArray& body);

// Runs the extractor of a site code over a fetched page. The empty text for a code without an
// extractor and for an empty page.
QString RunExtractor(int siteCode, const QString& sLink, const QString& page);

} // namespace orvello
