#pragma once

#include "common/DownloadItem.h"

#include <QString>

namespace orvello {

// What stands where a finished entry's file was written.
enum class FinishedFile {
    None,     // the entry has no file the program finished: not "Complete", or its record
              // names no file written into a folder (a name that is no single clean path
              // component, a saved path that is not that name in an absolute folder)
    Present,  // the file is there: a regular file, not a link
    Gone,     // nothing is there any more
    Replaced, // something else is there: a link, a folder, a device
};

// Where a "Complete" entry's file is and whether it is still the file the program wrote. Its
// path is given (in `path`) for every answer but None. Only a Present file may be opened: the
// list read back from disk is outside text, and its saved path is trusted only as the
// entry's own name in an absolute folder, with a regular file there.
FinishedFile FinishedFileOf(const DownloadItem& entry, QString* path);

} // namespace orvello
