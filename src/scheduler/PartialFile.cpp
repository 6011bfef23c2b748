#include "scheduler/PartialFile.h"

#include "common/Files.h"
#include "list/Formatting.h"

#include <QFile>

#include <cerrno>
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
        const int result = RenameNoReplace(folder.fd(), from, folder.fd(), QFile::encodeName(name));
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
