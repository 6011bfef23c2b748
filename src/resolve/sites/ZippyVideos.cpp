// ZippyVideos: the player's parameters name the server, the storage, the user and the video.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractZippyVideosLink(const ExtractInput& in) {
    const QString& page = in.page;
    const auto storage = page::CutAfter(page, u"storageId=", u"&");
    const auto user = page::CutAfter(page, u"userName=", u"&");
    const auto video = page::CutAfter(page, u"videoId=", u"&");
    const auto server = page::CutAfter(page, u"srvURL=", u"'");
    if (!storage || !user || !video || !server)
        return QString();
    // The server value is a complete address already.
    return *server + QLatin1Char('/') + *storage + QLatin1Char('/') + *user + QLatin1Char('/') +
           *video;
}

} // namespace

const SiteEntry& SiteUnitZippyVideos() {
    static constexpr SiteEntry unit{
        .domain = "zippyvideos.com",
        .code = 13,
        .order = 120,
        .extract = &ExtractZippyVideosLink,
        // Flash video whatever the address says.
        .naming = {.flvSuffix = true},
    };
    return unit;
}

} // namespace orvello
