#pragma once

#include <QByteArray>
#include <QString>

namespace orvello {

// Deletes the file (or link) at `path`, also when it is read-only. A folder is never
// deleted. True when nothing is at `path` afterwards; otherwise false with the reason in
// `error` (when given).
bool RemoveFile(const QString& path, QString* error = nullptr);

// Moves `from` (relative to the folder open as `fromDirFd`) to `to` (relative to `toDirFd`)
// unless something is at `to`, a link that leads nowhere included: 0, EEXIST, or another
// errno. AT_FDCWD takes plain paths. On file systems without the no-replace rename, a hard
// link, or else an exclusive reservation of `to`, keeps it just as safe.
int RenameNoReplace(int fromDirFd, const QByteArray& from, int toDirFd, const QByteArray& to);

// What a failed making or writing of a download's file means for the user, from the
// system's error number: "The disk is full.", "The download folder can't be written.", ...
QString FileErrorReason(int error);

} // namespace orvello
