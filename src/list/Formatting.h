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

// Makes any text usable as a file name in the download folder: removes \ / : * ? " < > | &
// and gives kEnterFileName when nothing is left, or when only dots and blanks are left
// (such a name would stand for the download folder itself or its parent). Never empty;
// cleaning a cleaned name returns it unchanged.
QString CleanFileName(const QString& value);
QString CleanFileName(const QVariant& value);

} // namespace orvello
