// PutFile: the first flash (or else Windows Media) file address on the page.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

QString ExtractPutFileLink(const ExtractInput& in) {
    const QString& page = in.page;
    qsizetype ext = page::Find(page, u".flv");
    if (ext < 0)
        ext = page::Find(page, u".wmv");
    if (ext < 0)
        return QString();
    const qsizetype http = page::FindLastBefore(page, u"http", ext);
    if (http < 0)
        return QString();
    return page.mid(http, ext + 4 - http);
}

} // namespace

const SiteEntry& SiteUnitPutFile() {
    static constexpr SiteEntry unit{
        .domain = "putfile.com",
        .code = 12,
        .order = 110,
        .extract = &ExtractPutFileLink,
    };
    return unit;
}

} // namespace orvello
