#include "resolve/Extractors.h"

#include "resolve/Sites.h"

#include <algorithm>

namespace orvello {

namespace {

// The decoding buffer holds 1,024 characters with the terminating NUL, so a result of
// 1,024 characters or more does not fit.
constexpr qsizetype kUnescapeLimit = 1024;

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

QString PageText(const QByteArray& body) {
    return QString::fromLatin1(body);
}

QString RunExtractor(int siteCode, const QString& sLink, const QString& page) {
    const SiteEntry* site = FindSite(siteCode);
    if (!site || !site->extract || page.isEmpty())
        return QString();
    return site->extract(ExtractInput{sLink, page});
}

} // namespace orvello
