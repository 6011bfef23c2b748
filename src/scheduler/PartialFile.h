#pragma once

#include <QString>

namespace orvello {

// Where one download is written: a partial file beside its final name while the data comes
// in, then the final name once it is complete. A download never replaces or writes into a
// file it did not make: both names are taken only when free, and never through a link. Every
// name is one component of the download folder, which is reached through a descriptor opened
// once, so a folder moved away meanwhile is still where the partial file goes and is removed
// from, and nothing is ever made outside it.
namespace PartialFile {

// The download folder, open. Movable, not copyable; closes its descriptor when it goes.
class Folder {
public:
    Folder() = default;
    ~Folder();
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;

    // Opens the folder at `path` (which must be one). An invalid folder, with the reason in
    // `error`, when it can't be.
    static Folder Open(const QString& path, QString* error);
    bool valid() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const QString& path() const { return path_; }

private:
    int fd_ = -1;
    QString path_;
};

// Whether a name is one path component: not empty, no "/" and no NUL, not "." or "..".
bool IsOneComponent(const QString& name);

// Creates a new, empty partial file for `finalName` in `folder`: "<name>.part", or the first
// free of "<name (2)>.part", "<name (3)>.part", ... (the number goes before the name's
// extension), created exclusively, so an existing file or link of that name, another
// entry's partial file included, is never touched. Its name, with its open descriptor (the
// caller's to close) in `fd`; or the empty text with the reason in `error`, in words a user
// understands, when it can't be made or `finalName` is not one component.
QString Create(const Folder& folder, const QString& finalName, int* fd, QString* error);

// Renames the partial file `partName` to the first free of `finalName`, "name (2).ext",
// "name (3).ext", ... in `folder`, atomically and without replacing anything (a file that
// appeared at the name meanwhile stays). The name written, or the empty text with the reason
// in `error`; the partial file stays then.
QString Finish(const Folder& folder, const QString& partName, const QString& finalName,
               QString* error);

// Removes the partial file `partName`; a link put in its place is removed, never what it
// points to. Nothing for a name that is not one component.
void Remove(const Folder& folder, const QString& partName);

} // namespace PartialFile

} // namespace orvello
