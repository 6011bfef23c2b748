#include "list/AddressSplit.h"

#include "resolve/Sites.h"

namespace orvello {

namespace {

// One pass over the text: the pieces between breaks that `wanted` accepts, the first `limit`
// of them copied out and the rest only counted, so a text of many megabytes costs one look
// at each character and no more memory than the pieces kept.
template <typename Break, typename Wanted>
SplitText Split(QStringView text, qsizetype limit, Break isBreak, Wanted wanted) {
    SplitText split;
    const qsizetype n = text.size();
    qsizetype start = 0;
    for (qsizetype i = 0; i <= n; ++i) {
        if (i < n && !isBreak(text[i]))
            continue;
        const QStringView piece = text.sliced(start, i - start);
        start = i + 1;
        if (piece.isEmpty() || !wanted(piece))
            continue;
        if (split.addresses.size() < limit)
            split.addresses << piece.toString();
        else
            ++split.more;
    }
    return split;
}

} // namespace

SplitText SplitLines(QStringView text, qsizetype limit) {
    // CR LF is two breaks with an empty line between, which is skipped like any blank one.
    return Split(
        text, limit, [](QChar c) { return c == u'\n' || c == u'\r'; },
        [](QStringView line) { return !line.trimmed().isEmpty(); });
}

SplitText SplitAddresses(QStringView text, qsizetype limit) {
    return Split(
        text, limit, [](QChar c) { return c.isSpace(); },
        [](QStringView word) { return IdentifySite(word) != kSiteNotSupported; });
}

} // namespace orvello
