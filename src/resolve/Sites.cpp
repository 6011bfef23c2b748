#include "resolve/Sites.h"

#include <QUrl>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

namespace orvello {

namespace {

char16_t foldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// Whether the lower-case ASCII needle stands anywhere in text, ASCII letters folded.
// Only ASCII letters fold, so no other script's letter can stand in for a domain's letter.
bool containsFolded(QStringView text, const char* needle) {
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

// The collected units: all of them in their order, and those an address is recognised by.
struct Table {
    std::vector<SiteEntry> units;
    std::vector<SiteEntry> sites;
};

Table Collect() {
    Table table;
    for (const SiteUnit unit : CollectedSiteUnits())
        table.units.push_back(unit());
    std::stable_sort(table.units.begin(), table.units.end(),
                     [](const SiteEntry& a, const SiteEntry& b) { return a.order < b.order; });
    std::copy_if(table.units.begin(), table.units.end(), std::back_inserter(table.sites),
                 [](const SiteEntry& unit) { return unit.domain != nullptr; });
    return table;
}

const Table& Collected() {
    static const Table table = Collect();
    return table;
}

} // namespace

std::span<const SiteEntry> SiteUnits() {
    return Collected().units;
}

const SiteEntry* SiteTable::begin() const {
    return Collected().sites.data();
}

const SiteEntry* SiteTable::end() const {
    return begin() + size();
}

std::size_t SiteTable::size() const {
    return Collected().sites.size();
}

const SiteEntry& SiteTable::operator[](std::size_t i) const {
    return Collected().sites[i];
}

int32_t IdentifySite(const QString& url) {
    return IdentifySite(QStringView(url));
}

int32_t IdentifySite(QStringView url) {
    for (const SiteEntry& site : kSites) {
        if (containsFolded(url, site.domain))
            return site.code;
    }
    return kSiteNotSupported;
}

int32_t IdentifySiteByHost(const QString& url) {
    QUrl address(url, QUrl::StrictMode);
    if (address.scheme().isEmpty())
        address = QUrl(QStringLiteral("http://") + url, QUrl::StrictMode);
    const QString scheme = address.scheme(); // QUrl keeps schemes in small letters
    if (!address.isValid() || (scheme != u"http" && scheme != u"https"))
        return kSiteNotSupported;
    // QUrl keeps an ASCII host in small letters too; an IP address never ends in a domain.
    const QString host = address.host(QUrl::FullyEncoded);
    for (const SiteEntry& site : kSites) {
        const QLatin1StringView domain(site.domain);
        if (host == domain)
            return site.code;
        const qsizetype dot = host.size() - domain.size() - 1;
        if (dot > 0 && host.at(dot) == u'.' && QStringView(host).sliced(dot + 1) == domain)
            return site.code;
    }
    return kSiteNotSupported;
}

bool IsWebPageAddress(const QString& url) {
    const QUrl address(url.trimmed(), QUrl::StrictMode);
    const QString scheme = address.scheme();
    return address.isValid() && (scheme == u"http" || scheme == u"https") &&
           !address.host().isEmpty();
}

const SiteEntry* FindSite(int32_t code) {
    for (const SiteEntry& site : SiteUnits()) {
        if (site.code == code)
            return &site;
    }
    return nullptr;
}

} // namespace orvello
