// The percent-decoder over any text.
#include "FuzzText.h"
#include "resolve/Extractors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString decoded = orvello::UnescapeUrl(orvello::fuzz::Utf16Text(data, size));
    orvello::fuzz::Require(decoded.size() < 1024);
    return 0;
}
