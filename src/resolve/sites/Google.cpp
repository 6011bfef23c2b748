// Google Video: the iPod download link when the page offers one, else the flash player's
// percent-encoded videoUrl.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractGoogleLink(const ExtractInput& in) {
    const QString& page = in.page;
    if (const qsizetype ipod = page::Find(page, u"ipoddownloadlink"); ipod >= 0) {
        // The link is the last href before the marker: href= and one quote are skipped, and
        // the closing quote is looked for from the address's second character on.
        const qsizetype href = page::FindLastBefore(page, u"href=", ipod);
        if (href < 0)
            return QString();
        const qsizetype start = href + 6;
        const auto link = page::CutUpTo(page, start, u"\"", start + 1);
        return link ? page::ReplaceAll(*link, u"&amp;", u"&") : QString();
    }
    const qsizetype videoUrl = page::Find(page, u"videoUrl");
    if (videoUrl < 0)
        return QString();
    const qsizetype http = page::Find(page, u"http", videoUrl);
    if (http < 0)
        return QString();
    const auto link = page::CutUpTo(page, http, u"\"", http);
    return link ? UnescapeUrl(*link) : QString();
}

} // namespace

const SiteEntry& SiteUnitGoogle() {
    static constexpr SiteEntry unit{
        .domain = "google.com",
        .code = 1,
        .order = 10,
        .extract = &ExtractGoogleLink,
    };
    return unit;
}

} // namespace orvello
