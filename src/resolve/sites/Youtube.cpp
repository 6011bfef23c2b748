// YouTube: the page names only the player; the player's host redirects to the video, and
// the redirect's query becomes a get_video request on that host (the page driver asks it,
// YoutubeRedirect). The extractor gives the player's address.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractYoutubeLink(const ExtractInput& in) {
    const QString& page = in.page;
    // In the embed code the player address stands between the ";" that ends "&quot;" and
    // the "&" of the first "&amp;" after it.
    const qsizetype embed = page::Find(page, u"embed src");
    if (embed < 0)
        return QString();
    const qsizetype semicolon = page::Find(page, u";", embed);
    if (semicolon < 0)
        return QString();
    const auto player = page::CutUpTo(page, semicolon + 1, u"&", semicolon + 1);
    return player ? *player : QString();
}

} // namespace

const SiteEntry& SiteUnitYoutube() {
    static constexpr SiteEntry unit{
        .domain = "youtube.com",
        .code = 2,
        .order = 20,
        .extract = &ExtractYoutubeLink,
        // The player's host redirects to the file (YoutubeRedirect).
        .redirect = true,
        // Flash video whatever the address says; names are kept short.
        .naming = {.flvSuffix = true, .nameLimit = 35},
    };
    return unit;
}

} // namespace orvello
