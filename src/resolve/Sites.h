#pragma once

#include "resolve/Extractors.h"

#include <QString>

#include <array>
#include <cstdint>

namespace orvello {

// A supported video site: the text that recognises its addresses, the code that names it
// everywhere else (local file naming), and the extractor that reads its pages. Identification
// and dispatch read the same row, so they can never disagree. Code 7 is never used.
struct SiteEntry {
    const char* domain; // searched for anywhere in the address, letter case ignored
    int32_t code;
    Extractor extract;
    // The extractor gives a player's address, which the redirect resolution turns into the
    // file's (YoutubeRedirect).
    bool redirect = false;
};

inline constexpr int32_t kSiteNotSupported = -1;
// Why an address no site knows is not downloaded.
inline const QString kSiteNotSupportedReason =
    QStringLiteral("No supported site has this address.");
// The code of a page no site knows that is searched for a video all the same (the generic
// resolver); no row of kSites has it.
inline constexpr int32_t kSiteGeneric = 99;

// Whether an address can be searched as a page of no known site: an http or https address
// with a host, read by QUrl in its strict mode.
bool IsWebPageAddress(const QString& url);

// The supported sites in the order they are tested: the first match wins.
inline constexpr std::array<SiteEntry, 12> kSites{{
    {"google.com", 1, &ExtractGoogleLink},
    {"youtube.com", 2, &ExtractYoutubeLink, true},
    {"bolt.com", 3, &ExtractBoltLink},
    {"myspace.com", 4, &ExtractMyspaceLink},
    {"angryalien.com", 5, &ExtractAngryAlienLink},
    {"thatvideosite.com", 6, &ExtractThatVideoSiteLink},
    {"ifilm.com", 8, &ExtractIfilmLink},
    {"break.com", 9, &ExtractBreakLink},
    {"blip.tv", 10, &ExtractBlipLink},
    {"dailymotion.com", 11, &ExtractDailyMotionLink},
    {"putfile.com", 12, &ExtractPutFileLink},
    {"zippyvideos.com", 13, &ExtractZippyVideosLink},
}};

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

// The row of a site code, or nullptr for a code no site has.
const SiteEntry* FindSite(int32_t code);

} // namespace orvello
