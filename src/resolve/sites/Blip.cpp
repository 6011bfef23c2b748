// Blip: the permalink box of the episode page holds the file's address.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractBlipLink(const ExtractInput& in) {
    static const QString kOpening =
        QStringLiteral("readonly=\"readonly\" type=\"text\" class=\"permalink_input\" value=\"");
    const qsizetype at = page::Find(in.page, kOpening);
    if (at < 0)
        return QString();
    const qsizetype start = at + kOpening.size();
    // The closing quote is looked for from the address's tenth character on.
    return page::CutUpTo(in.page, start, u"\"", start + 9).value_or(QString());
}

} // namespace

const SiteEntry& SiteUnitBlip() {
    static constexpr SiteEntry unit{
        .domain = "blip.tv",
        .code = 10,
        .order = 90,
        .extract = &ExtractBlipLink,
    };
    return unit;
}

} // namespace orvello
