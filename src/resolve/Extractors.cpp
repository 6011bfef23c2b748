#include "resolve/Extractors.h"

#include "resolve/Sites.h"

#include <QFile>

#include <algorithm>

namespace orvello {

namespace {

// The decoding buffer holds 1,024 characters with the terminating NUL, so a result of
// 1,024 characters or more does not fit.
constexpr qsizetype kUnescapeLimit = 1024;

// The most characters a page read gives: what the page fetch lets through, with room.
constexpr qint64 kMaxReadChars = qint64(64) << 20;

int HexValue(char16_t c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

} // namespace

QString UnescapeUrl(const QString& text) {
    if (text.isEmpty())
        return QString();
    QString out;
    out.reserve(std::min(text.size(), kUnescapeLimit));
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        char16_t c = text[i].unicode();
        if (c == u'%' && i + 2 < n) {
            const int hi = HexValue(text[i + 1].unicode());
            const int lo = HexValue(text[i + 2].unicode());
            if (hi >= 0 && lo >= 0) {
                c = char16_t(hi * 16 + lo);
                i += 2;
            }
        }
        if (out.size() + 1 >= kUnescapeLimit)
            return QString();
        out.append(QChar(c));
    }
    return out;
}

std::optional<QString> ReadParseFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Read into the text piece by piece, so the page is held once, not as bytes and text.
    QString page;
    page.reserve(qsizetype(std::min<qint64>(file.size(), kMaxReadChars)));
    char piece[64 * 1024];
    for (;;) {
        const qint64 n = file.read(piece, sizeof piece);
        if (n <= 0)
            break;
        if (page.size() + n > kMaxReadChars)
            return std::nullopt; // no text can hold it
        page.append(QLatin1String(piece, qsizetype(n)));
    }
    if (page.isEmpty())
        return std::nullopt;
    return page;
}

QString RunExtractor(int siteCode, const QString& sLink, const QString& parseFile,
                     YoutubeRedirect* redirect) {
    const SiteEntry* site = FindSite(siteCode);
    if (!site || !site->extract)
        return QString();
    const std::optional<QString> page = ReadParseFile(parseFile);
    if (!page)
        return QString();
    return site->extract(ExtractInput{sLink, *page, redirect});
}

} // namespace orvello
