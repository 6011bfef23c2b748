// MySpace: the media path is built from the video id of the page address alone.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

const QString kMyspaceMediaPrefix = QStringLiteral("http://content.movies.myspace.com/");

namespace {

QString ExtractMyspaceLink(const ExtractInput& in) {
    const QString& link = in.sLink;
    const qsizetype at = page::Find(link, u"videoid=");
    if (at < 0)
        return QString();
    const QString id = link.mid(at + 8); // to the end, later parameters included
    const qsizetype n = id.size();
    if (n < 5)
        return QString();
    const QString a = QString(id[n - 1]) + id[n - 2];
    const QString b = QString(id[n - 3]) + id[n - 4];
    const QString d = id.left(n - 5).rightJustified(7, QLatin1Char('0'));
    return kMyspaceMediaPrefix + d + QLatin1Char('/') + a + QLatin1Char('/') + b +
           QLatin1Char('/') + id + QStringLiteral(".flv");
}

} // namespace

const SiteEntry& SiteUnitMyspace() {
    static constexpr SiteEntry unit{
        .domain = "myspace.com",
        .code = 4,
        .order = 40,
        .extract = &ExtractMyspaceLink,
    };
    return unit;
}

} // namespace orvello
