// iFilm: the player's settings blob writes quotes as "*" and "&" as "$".
#include "resolve/Extractors.h"
#include "resolve/extractors/PageText.h"

namespace orvello {

QString ExtractIfilmLink(const ExtractInput& in) {
    const qsizetype at = page::Find(in.page, u"*url* : *http://");
    if (at < 0)
        return QString();
    // The address starts at the scheme inside the marker and runs to the value's end.
    const auto link = page::CutUpTo(in.page, at + 9, u"*,", at);
    return link ? QString(*link).replace(QLatin1Char('$'), QLatin1Char('&')) : QString();
}

} // namespace orvello
