// ThatVideoSite: the player's source address in a single-quoted embed tag.
#include "resolve/Extractors.h"
#include "resolve/extractors/PageText.h"

namespace orvello {

QString ExtractThatVideoSiteLink(const ExtractInput& in) {
    const auto link = page::CutAfter(in.page, u"<embed src='", u"'");
    return link && page::Contains(*link, u"http") ? *link : QString();
}

} // namespace orvello
