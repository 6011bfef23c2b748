// A Content-Disposition value as a server sends it: read alone, and as the one such field of
// a header block, where it must give the same name.
#include "FuzzText.h"
#include "transfer/HeaderBlock.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray value(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = orvello::DispositionFileName(value);
    // Every character of the name comes from at least one byte of the value.
    orvello::fuzz::Require(name.size() <= value.size());

    if (value.contains('\n') || value.contains('\r'))
        return 0; // more than one line: not one field
    const orvello::HeaderValues v =
        orvello::ReadHeaderBlock("HTTP/1.1 200 OK\r\nContent-Disposition: " + value + "\r\n");
    orvello::fuzz::Require(v.remoteFileName == orvello::DispositionFileName(value.trimmed()));
    return 0;
}
