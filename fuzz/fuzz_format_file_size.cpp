// The size text of any float the input's bits make, NaN, infinities and negatives included.
#include "FuzzText.h"
#include "list/Formatting.h"

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    float value = 0;
    std::memcpy(&value, data, std::min(size, sizeof value));
    const QString text = orvello::FormatFileSize(value);
    // Only counts of 2^40 and more have no text.
    orvello::fuzz::Require(text.isEmpty() == (value >= std::ldexp(1.0f, 40)));
    return 0;
}
