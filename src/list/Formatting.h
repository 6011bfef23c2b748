#pragma once

#include <QString>
#include <QVariant>

namespace orvello {

// The short size text the list shows: "512 Bytes", "1.5 KB", "1024 KB", "3.2 MB", "1 GB".
// One decimal at most, halves rounded to the even digit, '.' as the decimal separator on
// every locale. Counts of 2^40 and more give the empty text.
QString FormatFileSize(float size);

// The placeholder a file name becomes when nothing usable is left of it.
inline const QString kEnterFileName = QStringLiteral("Enter File Name");

// The longest file name, in bytes of UTF-8, that the usual Linux file systems take.
constexpr qsizetype kMaxNameBytes = 255;

// Makes any text usable as a file name in the download folder: removes \ / : * ? " < > | &
// and the control characters (U+0000 to U+001F, U+007F to U+009F), then the dots it begins
// with (so a name never hides the file or stands for a folder), and gives kEnterFileName
// when nothing is left, or when only dots and blanks are left. A longer name is cut to
// kMaxNameBytes as FitFileName does. Never empty; cleaning a cleaned name returns it
// unchanged.
QString CleanFileName(const QString& value);
QString CleanFileName(const QVariant& value);

// Cuts a name to at most maxBytes bytes of UTF-8, whole characters only, before its
// extension, which it keeps. The extension is the part from the last dot, when that dot is
// not the first character and the part is at most 32 bytes long; a name without one is cut
// at its end. A name that fits is returned as it is.
QString FitFileName(const QString& name, qsizetype maxBytes = kMaxNameBytes);

// The n-th choice of a name whose first choice is taken: "clip.flv" for 1, then
// "clip (2).flv", "clip (3).flv", ...; the part before the extension is cut so the whole
// fits maxBytes bytes of UTF-8.
QString NumberedFileName(const QString& name, int n, qsizetype maxBytes = kMaxNameBytes);

} // namespace orvello
