#pragma once

#include <QString>

namespace orvello {

// Deletes the file (or link) at `path`, also when it is read-only. A folder is never
// deleted. True when nothing is at `path` afterwards; otherwise false with the reason in
// `error` (when given).
bool RemoveFile(const QString& path, QString* error = nullptr);

// What a failed making or writing of a download's file means for the user, from the
// system's error number: "The disk is full.", "The download folder can't be written.", ...
QString FileErrorReason(int error);

} // namespace orvello
