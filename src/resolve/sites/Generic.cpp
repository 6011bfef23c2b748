// Pages no site knows: the generic resolver (generic/) searches them for a video. No address
// is recognised as one of these; an entry is given kSiteGeneric when the user asks for a search
// of any page, and the page driver hands such a page to the generic resolver. It comes after
// every site.
#include "resolve/Sites.h"

#include <limits>

namespace orvello {

const SiteEntry& SiteUnitGeneric() {
    static constexpr SiteEntry unit{
        .domain = nullptr,
        .code = kSiteGeneric,
        .order = std::numeric_limits<int>::max(),
    };
    return unit;
}

} // namespace orvello
