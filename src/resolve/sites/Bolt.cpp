// Bolt: the page's forum code names a thumbnail of the clip; the movie sits beside it.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractBoltLink(const ExtractInput& in) {
    const QString marker = QStringLiteral("Value=\"[url=") + in.sLink + QStringLiteral("][IMG]");
    const auto image = page::CutAfter(in.page, marker, u"[/IMG]");
    if (!image)
        return QString();
    // The thumbnail's name ends in "_<number>.<picture type>": keep what precedes the last
    // underscore, or the last dot when there is no underscore.
    QString link = *image;
    if (const qsizetype underscore = link.lastIndexOf(QLatin1Char('_')); underscore >= 0)
        link.truncate(underscore);
    else if (const qsizetype dot = link.lastIndexOf(QLatin1Char('.')); dot >= 0)
        link.truncate(dot);
    link = page::ReplaceAll(link, u"/image/", u"/movie/");
    if (!page::Contains(link, u".flv"))
        link += QStringLiteral(".flv");
    return link;
}

} // namespace

const SiteEntry& SiteUnitBolt() {
    static constexpr SiteEntry unit{
        .domain = "bolt.com",
        .code = 3,
        .order = 30,
        .extract = &ExtractBoltLink,
    };
    return unit;
}

} // namespace orvello
