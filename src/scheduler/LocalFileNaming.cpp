#include "scheduler/LocalFileNaming.h"

#include "list/Formatting.h"
#include "resolve/Sites.h"

namespace orvello {

namespace {

// Every name's limit; a site's unit may set a shorter one of its own.
constexpr qsizetype kNameLimit = 100;

// The first `limit` - 4 characters and the last four, which keep a short extension. A
// character outside the basic plane (two code units) is never cut in half.
QString KeepHeadAndTail(const QString& name, qsizetype limit) {
    qsizetype head = limit - 4;
    if (head > 0 && name[head - 1].isHighSurrogate())
        --head;
    qsizetype tail = 4;
    if (name[name.size() - tail].isLowSurrogate())
        --tail;
    return name.left(head) + name.right(tail);
}

} // namespace

LocalFileInfo LocalFileNaming::MakeLocalFileName(const QString& url, int32_t siteCode,
                                                 const HeaderValues& header,
                                                 const QString& foundName) {
    QString name = foundName.isEmpty() ? header.remoteFileName : foundName;
    QString sizeText = FormatFileSize(header.fileSize);
    // No length given, but the server has the file: the progress shows the amount so far.
    if (header.fileSize == -1 && header.fileExists)
        sizeText = QStringLiteral("0");

    // Only the very end of the address counts: a query after the file name hides the type.
    const QString ext = url.right(4).toLower();
    const bool media = ext == QLatin1String(".flv") || ext == QLatin1String(".wmv");
    if (name.isEmpty() || (media && foundName.isEmpty())) {
        const qsizetype slash = url.lastIndexOf(QLatin1Char('/'));
        const QString tail = slash >= 0 ? url.mid(slash + 1) : url;
        name = media && slash >= 0 ? tail : CleanFileName(tail);
    }
    // The site's own rules, from the unit of the code the entry was given when it was added.
    const SiteEntry* site = FindSite(siteCode);
    const SiteNaming naming = site ? site->naming : SiteNaming{};
    if (naming.flvSuffix)
        name += QStringLiteral(".flv");
    if (name.size() > kNameLimit)
        name = KeepHeadAndTail(name, kNameLimit);
    if (naming.nameLimit > 0 && name.size() > naming.nameLimit)
        name = KeepHeadAndTail(name, naming.nameLimit);
    return LocalFileInfo{CleanFileName(name), sizeText, header.length, header.fileExists};
}

} // namespace orvello
