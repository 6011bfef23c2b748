#include "list/FinishedFile.h"

#include "list/Formatting.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

namespace orvello {

FinishedFile FinishedFileOf(const DownloadItem& entry, QString* path) {
    if (entry.State != EntryState::Complete)
        return FinishedFile::None;
    const QString& name = entry.FileName;
    // A name the cleaning leaves as it is is one path component: no "/", no control
    // character, not empty, not "." or "..".
    if (CleanFileName(name) != name)
        return FinishedFile::None;
    const QString& saved = entry.SavedPath;
    // The name in an absolute folder, written without "." or ".." or doubled separators.
    if (!saved.startsWith(QLatin1Char('/')) || QDir::cleanPath(saved) != saved ||
        !saved.endsWith(QLatin1Char('/') + name))
        return FinishedFile::None;
    *path = saved;
    struct stat st {};
    if (::lstat(QFile::encodeName(saved).constData(), &st) != 0)
        return FinishedFile::Gone; // or out of reach: either way nothing to open
    return S_ISREG(st.st_mode) ? FinishedFile::Present : FinishedFile::Replaced;
}

} // namespace orvello
