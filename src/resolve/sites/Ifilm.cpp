// iFilm: the player's settings blob writes quotes as "*" and "&" as "$".
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractIfilmLink(const ExtractInput& in) {
    const qsizetype at = page::Find(in.page, u"*url* : *http://");
    if (at < 0)
        return QString();
    // The address starts at the scheme inside the marker and runs to the value's end.
    const auto link = page::CutUpTo(in.page, at + 9, u"*,", at);
    return link ? QString(*link).replace(QLatin1Char('$'), QLatin1Char('&')) : QString();
}

} // namespace

const SiteEntry& SiteUnitIfilm() {
    static constexpr SiteEntry unit{
        .domain = "ifilm.com",
        .code = 8,
        .order = 70,
        .extract = &ExtractIfilmLink,
    };
    return unit;
}

} // namespace orvello
