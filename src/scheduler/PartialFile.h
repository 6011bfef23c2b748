#pragma once

#include <QString>

namespace orvello {

// Where one download is written: a partial file beside its final name while the data comes
// in, then the final name once it is complete. A download never replaces or writes into a
// file it did not make: both names are taken only when free, and never through a link.
namespace PartialFile {

// Creates a new, empty partial file for `finalName` in `folder`: "<name>.part", or the first
// free of "<name (2)>.part", "<name (3)>.part", ... (the number goes before the name's
// extension), created exclusively, so an existing file or link of that name, another
// entry's partial file included, is never touched. The path, or the empty text with the
// reason in `error`, in words a user understands.
QString Create(const QString& folder, const QString& finalName, QString* error);

// Renames the partial file at `partialPath` to the first free of `finalName`,
// "name (2).ext", "name (3).ext", ... in `folder`, atomically and without replacing anything
// (a file that appeared at the name meanwhile stays). The name written, or the empty text
// with the reason in `error`; the partial file stays then.
QString Finish(const QString& partialPath, const QString& folder, const QString& finalName,
               QString* error);

// Removes the partial file at `path`; a link put in its place is removed, never what it
// points to. Nothing for the empty path.
void Remove(const QString& path);

} // namespace PartialFile

} // namespace orvello
