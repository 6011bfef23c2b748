#include "scheduler/PartialFile.h"

#include "common/Files.h"
#include "list/Formatting.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace orvello::PartialFile {

namespace {

const QString kPartSuffix = QStringLiteral(".part");
// How many numbered names are tried before the folder counts as full of them.
constexpr int kMaxChoices = 9999;

QByteArray Encoded(const QString& folder, const QString& name) {
    return QFile::encodeName(QDir(folder).filePath(name));
}

// Moves `from` to `to` unless something is at `to`: 0, EEXIST, or another errno.
int RenameNoReplace(const QByteArray& from, const QByteArray& to) {
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the no-replace rename: a hard link fails just as atomically when
    // the name is taken.
    if (::link(from.constData(), to.constData()) == 0) {
        ::unlink(from.constData());
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor hard links (FAT and the like): the name is taken with an exclusive create, and the
    // rename then replaces only that empty file of our own.
    const int reserved =
        ::open(to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (reserved < 0)
        return errno;
    ::close(reserved);
    if (::rename(from.constData(), to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlink(to.constData());
    return error;
}

} // namespace

QString Create(const QString& folder, const QString& finalName, QString* error) {
    for (int n = 1; n <= kMaxChoices; ++n) {
        const QString name =
            NumberedFileName(finalName, n, kMaxNameBytes - kPartSuffix.size()) + kPartSuffix;
        const QByteArray path = Encoded(folder, name);
        const int fd =
            ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            ::close(fd);
            return QDir(folder).filePath(name);
        }
        if (errno != EEXIST) {
            *error = FileErrorReason(errno);
            return QString();
        }
    }
    *error = FileErrorReason(EEXIST);
    return QString();
}

QString Finish(const QString& partialPath, const QString& folder, const QString& finalName,
               QString* error) {
    const QByteArray from = QFile::encodeName(partialPath);
    for (int n = 1; n <= kMaxChoices; ++n) {
        const QString name = NumberedFileName(finalName, n);
        const int result = RenameNoReplace(from, Encoded(folder, name));
        if (result == 0)
            return name;
        if (result != EEXIST) {
            *error = FileErrorReason(result);
            return QString();
        }
    }
    *error = FileErrorReason(EEXIST);
    return QString();
}

void Remove(const QString& path) {
    if (!path.isEmpty())
        ::unlink(QFile::encodeName(path).constData());
}

} // namespace orvello::PartialFile
