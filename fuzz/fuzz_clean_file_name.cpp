// The file-name cleaner: never empty, and a cleaned name stays as it is.
#include "FuzzText.h"
#include "list/Formatting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString cleaned = orvello::CleanFileName(orvello::fuzz::Utf16Text(data, size));
    orvello::fuzz::Require(!cleaned.isEmpty());
    orvello::fuzz::Require(orvello::CleanFileName(cleaned) == cleaned);
    return 0;
}
