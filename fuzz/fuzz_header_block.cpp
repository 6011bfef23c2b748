// A raw response header block as the server sent it. The length is either none or exact,
// and the single-precision size always follows it.
#include "FuzzText.h"
#include "transfer/HeaderBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const orvello::HeaderValues v =
        orvello::ReadHeaderBlock(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    orvello::fuzz::Require(v.length >= -1);
    orvello::fuzz::Require(v.fileSize == (v.length >= 0 ? float(v.length) : -1.0f));
    orvello::fuzz::Require(!v.badContentLength || v.length == -1);
    return 0;
}
