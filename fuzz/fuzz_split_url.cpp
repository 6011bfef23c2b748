// The address splitter: the first half of the input is the address, the second the path the
// caller had before.
#include "FuzzText.h"
#include "resolve/modGlobal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = orvello::fuzz::Utf16Text(data, size);
    QString address = text.left(text.size() / 2);
    const QString before = text.mid(text.size() / 2);
    QString path = before;
    orvello::SplitUrl(address, path);
    orvello::fuzz::Require(!address.contains(QLatin1Char('/')));
    orvello::fuzz::Require(path == before || path.startsWith(QLatin1Char('/')));
    return 0;
}
