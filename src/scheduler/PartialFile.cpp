#include "scheduler/PartialFile.h"

#include "common/Files.h"
#include "list/Formatting.h"

#include <QDir>
#include <QFile>

#include <cerrno>
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
        const int result = RenameNoReplace(AT_FDCWD, from, AT_FDCWD, Encoded(folder, name));
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
