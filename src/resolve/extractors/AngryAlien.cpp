// AngryAlien: the player's source address in a double-quoted embed tag.
#include "resolve/Extractors.h"
#include "resolve/extractors/PageText.h"

namespace orvello {

QString ExtractAngryAlienLink(const ExtractInput& in) {
    const auto link = page::CutAfter(in.page, u"<embed src=\"", u"\"");
    // A relative player path is no address to fetch.
    return link && page::Contains(*link, u"http") ? *link : QString();
}

} // namespace orvello
