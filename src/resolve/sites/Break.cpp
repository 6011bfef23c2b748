// Break: the player script names the file and its content folder on the media host.
#include "resolve/PageText.h"
#include "resolve/Sites.h"

namespace orvello {

const QString kBreakMediaPrefix = QStringLiteral("http://media1.break.com/dnet/media/");

namespace {

QString ExtractBreakLink(const ExtractInput& in) {
    const QString& page = in.page;
    const qsizetype nameAt = page::Find(page, u"sGlobalFileName='");
    if (nameAt < 0)
        return QString();
    const qsizetype nameStart = nameAt + 17;
    // The closing apostrophe is looked for from the name's second character on.
    const qsizetype nameEnd = page::Find(page, u"'", nameStart + 1);
    if (nameEnd < 0)
        return QString();
    const QString name = page.mid(nameStart, nameEnd - nameStart);
    const qsizetype pathAt = page::Find(page, u"sGlobalContentFilePath='", nameEnd);
    if (pathAt < 0)
        return QString();
    const auto path = page::CutUpTo(page, pathAt + 24, u"'", pathAt + 24);
    if (!path)
        return QString();
    return kBreakMediaPrefix + *path + QLatin1Char('/') + name + QStringLiteral(".flv");
}

} // namespace

const SiteEntry& SiteUnitBreak() {
    static constexpr SiteEntry unit{
        .domain = "break.com",
        .code = 9,
        .order = 80,
        .extract = &ExtractBreakLink,
    };
    return unit;
}

} // namespace orvello
