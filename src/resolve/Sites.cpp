#include "resolve/Sites.h"

#include <cstring>

namespace orvello {

namespace {

char16_t foldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// Whether the lower-case ASCII needle stands anywhere in text, ASCII letters folded.
// Only ASCII letters fold, so no other script's letter can stand in for a domain's letter.
bool containsFolded(const QString& text, const char* needle) {
    const qsizetype m = qsizetype(std::strlen(needle));
    const qsizetype n = text.size();
    const char16_t* t = reinterpret_cast<const char16_t*>(text.utf16());
    for (qsizetype i = 0; i + m <= n; ++i) {
        qsizetype k = 0;
        while (k < m && foldAscii(t[i + k]) == char16_t(needle[k]))
            ++k;
        if (k == m)
            return true;
    }
    return false;
}

} // namespace

int32_t IdentifySite(const QString& url) {
    for (const SiteEntry& site : kSites) {
        if (containsFolded(url, site.domain))
            return site.code;
    }
    return kSiteNotSupported;
}

const SiteEntry* FindSite(int32_t code) {
    for (const SiteEntry& site : kSites) {
        if (site.code == code)
            return &site;
    }
    return nullptr;
}

} // namespace orvello
