// A raw response header block as the server sent it.
#include "transfer/HeaderBlock.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    orvello::ReadHeaderBlock(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
