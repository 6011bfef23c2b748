// ThatVideoSite: the player's source address in a single-quoted embed tag.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractThatVideoSiteLink(const ExtractInput& in) {
    const auto link = page::CutAfter(in.page, u"<embed src='", u"'");
    return link && page::Contains(*link, u"http") ? *link : QString();
}

} // namespace

const SiteEntry& SiteUnitThatVideoSite() {
    static constexpr SiteEntry unit{
        .domain = "thatvideosite.com",
        .code = 6,
        .order = 60,
        .extract = &ExtractThatVideoSiteLink,
    };
    return unit;
}

} // namespace orvello
