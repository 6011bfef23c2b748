#include "common/Files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace orvello {

bool RemoveFile(const QString& path, QString* error) {
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink()) {
        if (error)
            *error = QStringLiteral("a folder of that name is in the way");
        return false;
    }
    QFile file(path);
    if (file.remove())
        return true;
    // A read-only file may refuse deletion on some systems: make it writable and try again.
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner);
    if (file.remove())
        return true;
    if (error)
        *error = file.errorString();
    return false;
}

int RenameNoReplace(int fromDirFd, const QByteArray& from, int toDirFd, const QByteArray& to) {
    if (::renameat2(fromDirFd, from.constData(), toDirFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the no-replace rename: a hard link fails just as atomically when
    // the name is taken.
    if (::linkat(fromDirFd, from.constData(), toDirFd, to.constData(), 0) == 0) {
        ::unlinkat(fromDirFd, from.constData(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor hard links (FAT and the like): the name is taken with an exclusive create, and the
    // rename then replaces only that empty file of our own.
    const int reserved = ::openat(toDirFd, to.constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (reserved < 0)
        return errno;
    ::close(reserved);
    if (::renameat(fromDirFd, from.constData(), toDirFd, to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(toDirFd, to.constData(), 0);
    return error;
}

QString FileErrorReason(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("The disk is full.");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("The download folder can't be written.");
    case ENOENT:
    case ENOTDIR:
        return QStringLiteral("The download folder is missing.");
    default:
        return QStringLiteral("The file could not be written (%1).")
            .arg(QString::fromLocal8Bit(std::strerror(error)));
    }
}

} // namespace orvello
