#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace orvello {

QString FindProgramFile(const QString& programDir, const QString& name) {
    const QDir dir(programDir);
    const QString beside = dir.filePath(name);
    if (QFileInfo(beside).isFile())
        return beside;
    // ORVELLO_SHARE_FROM_BIN: the share folder relative to the installed program's folder.
    const QString shared =
        QDir::cleanPath(dir.filePath(QStringLiteral(ORVELLO_SHARE_FROM_BIN "/") + name));
    if (QFileInfo(shared).isFile())
        return shared;
    return beside;
}

QString FindProgramFile(const QString& name) {
    return FindProgramFile(QCoreApplication::applicationDirPath(), name);
}

} // namespace orvello
