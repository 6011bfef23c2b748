#include "scheduler/PartialRecord.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace orvello {

namespace {

// The most record files a folder's scan reads.
constexpr int kMaxScanned = 1000;
// Bounds of the texts a record holds.
constexpr qsizetype kMaxAddress = 8192;
constexpr qsizetype kMaxName = 1024;
// Lengths beyond this (2^53) are no byte counts a JSON number keeps exactly.
constexpr std::int64_t kMaxLength = std::int64_t(1) << 53;

namespace key {
const QString Version = QStringLiteral("version");
const QString Page = QStringLiteral("page");
const QString Media = QStringLiteral("media");
const QString Part = QStringLiteral("part");
const QString Name = QStringLiteral("name");
const QString ETag = QStringLiteral("etag");
const QString LastModified = QStringLiteral("lastModified");
const QString Total = QStringLiteral("total");
const QString Bytes = QStringLiteral("bytes");
const QString Inode = QStringLiteral("inode");
const QString Device = QStringLiteral("device");
const QString Playlist = QStringLiteral("playlist");
const QString Fragment = QStringLiteral("fragment");
const QString Fragments = QStringLiteral("fragments");
} // namespace key

// A file of the folder read whole, only when it is a regular file (never through a link) of
// at most `limit` bytes.
std::optional<QByteArray> ReadSmallFile(int dir, const QString& name, qint64 limit) {
    const int fd = ::openat(dir, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limit) {
        QByteArray data(qsizetype(st.st_size), Qt::Uninitialized);
        qsizetype got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, std::size_t(data.size() - got));
            if (n <= 0)
                break;
            got += n;
        }
        if (got == data.size())
            bytes = data;
    }
    ::close(fd);
    return bytes;
}

bool IsOurs(int dir, const QString& recordName, const QString& partName) {
    const std::optional<QByteArray> bytes =
        ReadSmallFile(dir, recordName, PartialRecord::kMaxBytes);
    const std::optional<PartialRecord> record =
        bytes ? PartialRecord::Decode(*bytes) : std::nullopt;
    return record && record->part == partName;
}

// Writes `bytes` as the file `name` of the folder: a new file beside it, made whole and on disk,
// renamed into place. A file of that name that is no record of ours is left as it is.
void WriteRecordFile(int dir, const QString& name, const QString& partName,
                     const QByteArray& bytes) {
    static std::atomic<int> made{0};
    const QByteArray target = QFile::encodeName(name);
    const QByteArray temp =
        QFile::encodeName(QStringLiteral(".%1.%2-%3.tmp").arg(name).arg(::getpid()).arg(++made));
    const int fd =
        ::openat(dir, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const bool written =
        ::write(fd, bytes.constData(), std::size_t(bytes.size())) == ssize_t(bytes.size()) &&
        ::fsync(fd) == 0;
    ::close(fd);
    bool placed = false;
    if (written) {
        placed = ::renameat2(dir, temp.constData(), dir, target.constData(), RENAME_NOREPLACE) == 0;
        if (!placed && errno == EEXIST && IsOurs(dir, name, partName))
            placed = ::renameat(dir, temp.constData(), dir, target.constData()) == 0;
    }
    if (!placed)
        ::unlinkat(dir, temp.constData(), 0);
}

int Duplicate(const PartialFile::Folder& folder) {
    return folder.valid() ? ::fcntl(folder.fd(), F_DUPFD_CLOEXEC, 0) : -1;
}

} // namespace

QByteArray PartialRecord::Encode() const {
    QJsonObject o;
    o[key::Version] = kVersion;
    o[key::Page] = page;
    o[key::Media] = media;
    o[key::Part] = part;
    o[key::Name] = name;
    o[key::ETag] = QString::fromLatin1(etag);
    o[key::LastModified] = QString::fromLatin1(lastModified);
    o[key::Total] = double(total);
    o[key::Bytes] = double(bytes);
    o[key::Inode] = QString::number(inode);
    o[key::Device] = QString::number(device);
    if (!playlist.isEmpty()) {
        o[key::Playlist] = playlist;
        o[key::Fragment] = double(fragment);
        o[key::Fragments] = double(fragments);
    }
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<PartialRecord> PartialRecord::Decode(const QByteArray& bytes) {
    if (bytes.size() > kMaxBytes)
        return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return std::nullopt;
    const QJsonObject o = doc.object();
    if (o.value(key::Version).toInt(-1) != kVersion)
        return std::nullopt;
    const auto text = [&o](const QString& name, qsizetype limit) -> std::optional<QString> {
        const QJsonValue v = o.value(name);
        if (!v.isString() || v.toString().size() > limit)
            return std::nullopt;
        return v.toString();
    };
    const auto count = [&o](const QString& name) -> std::optional<std::int64_t> {
        const QJsonValue v = o.value(name);
        const double d = v.toDouble(-1);
        if (!v.isDouble() || d < 0 || d > double(kMaxLength) || d != double(std::int64_t(d)))
            return std::nullopt;
        return std::int64_t(d);
    };
    const auto page = text(key::Page, kMaxAddress);
    const auto media = text(key::Media, kMaxAddress);
    const auto part = text(key::Part, kMaxName);
    const auto name = text(key::Name, kMaxName);
    const auto etag = text(key::ETag, kMaxName);
    const auto date = text(key::LastModified, kMaxName);
    const auto inode = text(key::Inode, 32);
    const auto device = text(key::Device, 32);
    const auto total = count(key::Total);
    const auto have = count(key::Bytes);
    if (!page || !media || !part || !name || !etag || !date || !inode || !device || !total ||
        !have || *have > *total || !PartialFile::IsOneComponent(*part) ||
        !part->endsWith(QLatin1String(".part")) || !PartialFile::IsOneComponent(*name))
        return std::nullopt;
    PartialRecord r;
    r.page = *page;
    r.media = *media;
    r.part = *part;
    r.name = *name;
    r.etag = etag->toLatin1();
    r.lastModified = date->toLatin1();
    r.total = *total;
    r.bytes = *have;
    bool okInode = false;
    bool okDevice = false;
    r.inode = inode->toULongLong(&okInode);
    r.device = device->toULongLong(&okDevice);
    if (!okInode || !okDevice)
        return std::nullopt;
    if (o.contains(key::Playlist)) {
        const auto playlist = text(key::Playlist, kMaxAddress);
        const auto fragment = count(key::Fragment);
        const auto fragments = count(key::Fragments);
        if (!playlist || playlist->isEmpty() || !fragment || !fragments || *fragment > *fragments)
            return std::nullopt;
        r.playlist = *playlist;
        r.fragment = *fragment;
        r.fragments = *fragments;
    }
    return r;
}

PartialRecords::PartialRecords() : worker_([this] { Work(); }) {}

PartialRecords::~PartialRecords() {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
    }
    more_.notify_one();
    worker_.join();
}

void PartialRecords::Post(std::function<void()> work) {
    {
        const std::lock_guard<std::mutex> hold(lock_);
        queue_.push_back(std::move(work));
    }
    more_.notify_one();
}

void PartialRecords::Work() {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        more_.wait(hold, [this] { return ending_ || !queue_.empty(); });
        if (queue_.empty()) {
            if (ending_)
                return;
            continue;
        }
        std::function<void()> work = std::move(queue_.front());
        queue_.pop_front();
        busy_ = true;
        hold.unlock();
        work();
        hold.lock();
        busy_ = false;
        if (queue_.empty())
            idle_.notify_all();
    }
}

void PartialRecords::Settle() {
    std::unique_lock<std::mutex> hold(lock_);
    idle_.wait(hold, [this] { return queue_.empty() && !busy_; });
}

void PartialRecords::Write(const PartialFile::Folder& folder, const PartialRecord& record) {
    latest_[{folder.path(), record.part}] = record;
    written_[{folder.path(), record.page}].insert(record.part);
    const int dir = Duplicate(folder);
    if (dir < 0)
        return;
    Post([dir, name = PartialRecord::RecordName(record.part), part = record.part,
          bytes = record.Encode()] {
        WriteRecordFile(dir, name, part, bytes);
        ::close(dir);
    });
}

void PartialRecords::Remove(const PartialFile::Folder& folder, const QString& partName) {
    latest_[{folder.path(), partName}] = std::nullopt;
    const int dir = Duplicate(folder);
    if (dir < 0)
        return;
    Post([dir, name = PartialRecord::RecordName(partName), part = partName] {
        if (IsOurs(dir, name, part))
            ::unlinkat(dir, QFile::encodeName(name).constData(), 0);
        ::close(dir);
    });
}

std::vector<PartialRecord> PartialRecords::Scan(const PartialFile::Folder& folder) const {
    std::vector<PartialRecord> found;
    const QStringList names =
        QDir(folder.path()).entryList({QStringLiteral("*.part.json")}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        if (int(found.size()) >= kMaxScanned)
            break;
        const std::optional<QByteArray> bytes =
            ReadSmallFile(folder.fd(), name, PartialRecord::kMaxBytes);
        std::optional<PartialRecord> record = bytes ? PartialRecord::Decode(*bytes) : std::nullopt;
        // The record names its own partial file, or it is none.
        if (record && PartialRecord::RecordName(record->part) == name)
            found.push_back(std::move(*record));
    }
    return found;
}

std::optional<PartialRecord> PartialRecords::Find(const PartialFile::Folder& folder,
                                                  const QString& page) {
    if (!folder.valid())
        return std::nullopt;
    const QString& path = folder.path();
    if (const auto parts = written_.find({path, page}); parts != written_.end()) {
        for (const QString& part : parts->second) {
            const auto it = latest_.find({path, part});
            if (it != latest_.end() && it->second && it->second->page == page)
                return it->second;
        }
    }
    auto [onDisk, fresh] = scanned_.try_emplace(path);
    if (fresh) {
        for (PartialRecord& record : Scan(folder)) {
            const QString recordPage = record.page;
            onDisk->second.emplace(recordPage, std::move(record));
        }
    }
    const auto [first, last] = onDisk->second.equal_range(page);
    for (auto it = first; it != last; ++it) {
        if (latest_.count({path, it->second.part}))
            continue; // what this process wrote or removed since counts
        return it->second;
    }
    return std::nullopt;
}

} // namespace orvello
