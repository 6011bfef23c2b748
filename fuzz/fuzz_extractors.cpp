// Every site's extractor over one page: the first line is the page address, the rest the page,
// both one character per byte. The extractors never touch the network.
#include "FuzzText.h"
#include "resolve/Sites.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint8_t* newline = std::find(data, data + size, uint8_t('\n'));
    const QString link = orvello::fuzz::Latin1Text(data, size_t(newline - data));
    const uint8_t* pageStart = newline == data + size ? newline : newline + 1;
    const QString page = orvello::fuzz::Latin1Text(pageStart, size_t(data + size - pageStart));
    for (const orvello::SiteEntry& site : orvello::kSites)
        site.extract(orvello::ExtractInput{link, page});
    return 0;
}
