#include "common/Files.h"

#include <QFile>
#include <QFileInfo>

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

} // namespace orvello
