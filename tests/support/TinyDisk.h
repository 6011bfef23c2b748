#pragma once

#include <QDir>
#include <QFile>
#include <QString>

#include <cerrno>
#include <cstring>

#include <sys/mount.h>
#include <unistd.h>

namespace orvello::test {

// A tmpfs of 64 KiB mounted on a folder while the object lives, for a disk that fills up or
// turns read-only. Mounting needs root: otherwise `mounted` stays false and `why` says so,
// for the test's skip message.
struct TinyDisk {
    QString path;
    bool mounted = false;
    QString why;

    explicit TinyDisk(const QString& where) : path(where) {
        if (::geteuid() != 0) {
            why = QStringLiteral("mounting a small file system needs root");
            return;
        }
        QDir().mkpath(path);
        if (::mount("tmpfs", QFile::encodeName(path).constData(), "tmpfs", 0, "size=64k") != 0) {
            why = QStringLiteral("tmpfs can't be mounted here: ") +
                  QString::fromLocal8Bit(std::strerror(errno));
            return;
        }
        mounted = true;
    }
    TinyDisk(const TinyDisk&) = delete;
    TinyDisk& operator=(const TinyDisk&) = delete;
    bool MakeReadOnly() {
        return ::mount(nullptr, QFile::encodeName(path).constData(), nullptr,
                       MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    bool MakeWritable() {
        return ::mount(nullptr, QFile::encodeName(path).constData(), nullptr, MS_REMOUNT,
                       "size=64k") == 0;
    }
    ~TinyDisk() {
        if (mounted)
            ::umount2(QFile::encodeName(path).constData(), MNT_DETACH);
    }
};

} // namespace orvello::test
