#include "scheduler/PartialFile.h"

#include "common/Files.h"
#include "list/Formatting.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include <utility>

namespace orvello::PartialFile {

namespace {

const QString kPartSuffix = QStringLiteral(".part");
// How many numbered names are tried before the folder counts as full of them.
constexpr int kMaxChoices = 9999;

QString NameRefused() {
    return QStringLiteral("The file name can't be used.");
}

// Moves `from` to `to` in one folder unless something is at `to`: 0, EEXIST, or another errno.
int RenameNoReplace(int dir, const QByteArray& from, const QByteArray& to) {
    if (::renameat2(dir, from.constData(), dir, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return errno;
    // A file system without the no-replace rename: a hard link fails just as atomically when
    // the name is taken.
    if (::linkat(dir, from.constData(), dir, to.constData(), 0) == 0) {
        ::unlinkat(dir, from.constData(), 0);
        return 0;
    }
    if (errno == EEXIST)
        return EEXIST;
    // Nor hard links (FAT and the like): the name is taken with an exclusive create, and the
    // rename then replaces only that empty file of our own.
    const int reserved =
        ::openat(dir, to.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (reserved < 0)
        return errno;
    ::close(reserved);
    if (::renameat(dir, from.constData(), dir, to.constData()) == 0)
        return 0;
    const int error = errno;
    ::unlinkat(dir, to.constData(), 0);
    return error;
}

} // namespace

Folder::~Folder() {
    if (fd_ >= 0)
        ::close(fd_);
}

Folder::Folder(Folder&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

Folder& Folder::operator=(Folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

Folder Folder::Open(const QString& path, QString* error) {
    Folder folder;
    const QByteArray encoded = QFile::encodeName(path);
    if (path.isEmpty() || encoded.contains('\0')) {
        *error = FileErrorReason(ENOENT);
        return folder;
    }
    folder.fd_ = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder.fd_ < 0)
        *error = FileErrorReason(errno);
    folder.path_ = path;
    return folder;
}

bool IsOneComponent(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

QString Create(const Folder& folder, const QString& finalName, int* fd, QString* error) {
    *fd = -1;
    if (!IsOneComponent(finalName)) {
        *error = NameRefused();
        return QString();
    }
    for (int n = 1; n <= kMaxChoices; ++n) {
        const QString name =
            NumberedFileName(finalName, n, kMaxNameBytes - kPartSuffix.size()) + kPartSuffix;
        const int made = ::openat(folder.fd(), QFile::encodeName(name).constData(),
                                  O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (made >= 0) {
            *fd = made;
            return name;
        }
        if (errno != EEXIST) {
            *error = FileErrorReason(errno);
            return QString();
        }
    }
    *error = FileErrorReason(EEXIST);
    return QString();
}

QString Finish(const Folder& folder, const QString& partName, const QString& finalName,
               QString* error) {
    if (!IsOneComponent(partName) || !IsOneComponent(finalName)) {
        *error = NameRefused();
        return QString();
    }
    const QByteArray from = QFile::encodeName(partName);
    for (int n = 1; n <= kMaxChoices; ++n) {
        const QString name = NumberedFileName(finalName, n);
        const int result = RenameNoReplace(folder.fd(), from, QFile::encodeName(name));
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

void Remove(const Folder& folder, const QString& partName) {
    if (folder.valid() && IsOneComponent(partName))
        ::unlinkat(folder.fd(), QFile::encodeName(partName).constData(), 0);
}

} // namespace orvello::PartialFile
