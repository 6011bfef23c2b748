#include "common/Files.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>

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
