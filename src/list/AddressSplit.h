#pragma once

#include <QStringList>
#include <QStringView>

namespace orvello {

// What a text brings for the list: the first pieces found, in their order, and how many more
// it held past the bound it was read with (counted, not kept).
struct SplitText {
    QStringList addresses;
    qsizetype more = 0;
};

// The lines of a text typed or pasted into the address field: the text between line ends
// (CR LF, CR or LF), each as it stands, blanks and all; a line of blanks only is skipped.
// At most `limit` lines are kept.
SplitText SplitLines(QStringView text, qsizetype limit);

// The addresses of supported sites (IdentifySite) in dropped text: its words, split at
// blanks and line ends; words no supported site knows are left out. At most `limit` are kept.
SplitText SplitAddresses(QStringView text, qsizetype limit);

} // namespace orvello
