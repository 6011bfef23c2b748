// AngryAlien: the player's source address in a double-quoted embed tag.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractAngryAlienLink(const ExtractInput& in) {
    const auto link = page::CutAfter(in.page, u"<embed src=\"", u"\"");
    // A relative player path is no address to fetch.
    return link && page::Contains(*link, u"http") ? *link : QString();
}

} // namespace

const SiteEntry& SiteUnitAngryAlien() {
    static constexpr SiteEntry unit{
        .domain = "angryalien.com",
        .code = 5,
        .order = 50,
        .extract = &ExtractAngryAlienLink,
    };
    return unit;
}

} // namespace orvello
