// DailyMotion: the player's "url" variable, percent-encoded.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractDailyMotionLink(const ExtractInput& in) {
    const qsizetype at = page::Find(in.page, u"addVariable(\"url\",");
    if (at < 0)
        return QString();
    // Two characters after the marker (a blank and the opening quote) are skipped.
    const qsizetype start = at + 20;
    const auto link = page::CutUpTo(in.page, start, u"\"", start);
    return link ? UnescapeUrl(*link) : QString();
}

} // namespace

const SiteEntry& SiteUnitDailyMotion() {
    static constexpr SiteEntry unit{
        .domain = "dailymotion.com",
        .code = 11,
        .order = 100,
        .extract = &ExtractDailyMotionLink,
        // Flash video whatever the address says.
        .naming = {.flvSuffix = true},
    };
    return unit;
}

} // namespace orvello
