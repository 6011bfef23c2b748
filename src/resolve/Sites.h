#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace orvello {

// A supported video site: the text that recognises its addresses and the code that names
// it everywhere else (extractor dispatch, local file naming). Code 7 is never used.
struct SiteEntry {
    const char* domain; // searched for anywhere in the address, letter case ignored
    int32_t code;
};

inline constexpr int32_t kSiteNotSupported = -1;

// The supported sites in the order they are tested: the first match wins.
inline constexpr std::array<SiteEntry, 12> kSites{{
    {"google.com", 1},
    {"youtube.com", 2},
    {"bolt.com", 3},
    {"myspace.com", 4},
    {"angryalien.com", 5},
    {"thatvideosite.com", 6},
    {"ifilm.com", 8},
    {"break.com", 9},
    {"blip.tv", 10},
    {"dailymotion.com", 11},
    {"putfile.com", 12},
    {"zippyvideos.com", 13},
}};

// The site code of a page address, or kSiteNotSupported. A plain substring search over the
// whole text, ASCII letters compared without case, no decoding or trimming beforehand.
int32_t IdentifySite(const QString& url);

} // namespace orvello
