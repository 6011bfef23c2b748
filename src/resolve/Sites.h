#pragma once

#include "resolve/Extractors.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <span>

namespace orvello {

// How the local copy of a site's file is named, beyond the rules every name follows
// (LocalFileNaming).
struct SiteNaming {
    // ".flv" is added to every name: the site's files are flash video whatever the address
    // says.
    bool flvSuffix = false;
    // A name longer than this (after the common limit) keeps its first characters and its last
    // four; 0 for none. At least 5 when set.
    qsizetype nameLimit = 0;
};

// A site unit: everything Orvello knows of one site, given by one source file in sites/
// (sites/<Name>.cpp defines `const SiteEntry& SiteUnit<Name>()`; the build collects every file
// there, see SiteUnits). The text that recognises its addresses, the code that names it
// everywhere else, its place in the order of testing, the extractor that reads its pages,
// whether the extractor's address goes through the redirect, and its naming rule.
// Identification, dispatch and naming read the same entry, so they can never disagree.
struct SiteEntry {
    // Searched for anywhere in the address, letter case ignored; nullptr for a unit that no
    // address is recognised by (the generic resolver's).
    const char* domain;
    int32_t code; // unique; 7 is never used
    // The units are tested in ascending order and the first match wins; each has its own
    // place, spaced by ten so a new site can go between two others.
    int order;
    Extractor extract = nullptr;
    // The extractor gives a player's address, which the redirect resolution turns into the
    // file's (YoutubeRedirect).
    bool redirect = false;
    SiteNaming naming{};
};

inline constexpr int32_t kSiteNotSupported = -1;
// Why an address no site knows is not downloaded.
inline const QString kSiteNotSupportedReason =
    QStringLiteral("No supported site has this address.");
// The code of a page no site knows that is searched for a video all the same (the generic
// resolver); its unit is the last, and no row of kSites has it.
inline constexpr int32_t kSiteGeneric = 99;

// Whether an address can be searched as a page of no known site: an http or https address
// with a host, read by QUrl in its strict mode.
bool IsWebPageAddress(const QString& url);

// A unit's descriptor function, SiteUnit<Name>() of sites/<Name>.cpp.
using SiteUnit = const SiteEntry& (*)();

// The descriptor function of every file in sites/, in the order of their file names: a source
// the build makes from the folder's listing (SiteUnits.cpp.in), so adding a site edits no
// list, and every unit is linked in since this list names it.
std::span<const SiteUnit> CollectedSiteUnits();

// Every unit, sorted by its order: the sites, then the generic resolver's (kSiteGeneric),
// which recognises no address. Collected once, on first use.
std::span<const SiteEntry> SiteUnits();

// The supported sites, the units an address is recognised by, in the order they are tested:
// the first match wins. Read like a constant array.
struct SiteTable {
    const SiteEntry* begin() const;
    const SiteEntry* end() const;
    std::size_t size() const;
    const SiteEntry& operator[](std::size_t i) const;
};
inline constexpr SiteTable kSites{};

// The site code of a page address, or kSiteNotSupported. A plain substring search over the
// whole text, ASCII letters compared without case, no decoding or trimming beforehand.
int32_t IdentifySite(const QString& url);
int32_t IdentifySite(QStringView url);

// The site code of the site whose domain is the address's host or a parent of it
// ("youtube.com", "www.youtube.com"; not "youtube.com.example.net" nor "myyoutube.com"), or
// kSiteNotSupported. The address is read by QUrl in its strict mode, as http when it names no
// scheme; only http and https addresses with a host count. For text from outside that is
// fetched unasked, where a site's name in a query or path must not make an address one of its.
int32_t IdentifySiteByHost(const QString& url);

// The unit of a site code (kSiteGeneric's too), or nullptr for a code no unit has.
const SiteEntry* FindSite(int32_t code);

} // namespace orvello
