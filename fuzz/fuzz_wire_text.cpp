// The wire form of addresses: after the authority only printable ASCII may leave.
#include "FuzzText.h"
#include "common/WireText.h"

#include <QByteArrayView>

namespace {

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Where the authority of the bytes sent ends: the first '/', '?' or '#' after "scheme://",
// or from the start when no scheme comes first.
qsizetype AuthorityEnd(QByteArrayView wire) {
    qsizetype from = 0;
    const qsizetype separator = wire.indexOf(QByteArrayView("://"));
    if (separator > 0 && IsAsciiLetter(wire[0])) {
        bool scheme = true;
        for (char c : wire.first(separator))
            scheme = scheme && (IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' ||
                                c == '-' || c == '.');
        if (scheme)
            from = separator + 3;
    }
    for (qsizetype i = from; i < wire.size(); ++i) {
        if (wire[i] == '/' || wire[i] == '?' || wire[i] == '#')
            return i;
    }
    return wire.size();
}

void RequirePrintableAscii(QByteArrayView bytes) {
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        orvello::fuzz::Require(b >= 0x21 && b < 0x7F);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = orvello::fuzz::Utf16Text(data, size);
    const QByteArray url = orvello::WireUrl(text);
    RequirePrintableAscii(QByteArrayView(url).sliced(AuthorityEnd(url)));
    RequirePrintableAscii(orvello::WireTarget(text));
    return 0;
}
