// DailyMotion: the player's "url" variable, percent-encoded.
#include "resolve/Extractors.h"
#include "resolve/extractors/PageText.h"

namespace orvello {

QString ExtractDailyMotionLink(const ExtractInput& in) {
    const qsizetype at = page::Find(in.page, u"addVariable(\"url\",");
    if (at < 0)
        return QString();
    // Two characters after the marker (a blank and the opening quote) are skipped.
    const qsizetype start = at + 20;
    const auto link = page::CutUpTo(in.page, start, u"\"", start);
    return link ? UnescapeUrl(*link) : QString();
}

} // namespace orvello
