// YouTube: the page names only the player; the player's host redirects to the video, and
// the redirect's query becomes a get_video request on that host (the page driver asks it,
// YoutubeRedirect). The extractor gives the player's address.
#include "resolve/Extractors.h"
#include "resolve/extractors/PageText.h"

namespace orvello {

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

} // namespace orvello
