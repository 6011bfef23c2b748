#include "list/ListFile.h"

#include "common/Files.h"
#include "list/EntryStatus.h"
#include "list/Formatting.h"
#include "list/modMain.h"
#include "resolve/Sites.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvello {
namespace {

// The names of the file's members.
namespace field {
constexpr QLatin1String Version("version");
constexpr QLatin1String Entries("entries");
constexpr QLatin1String Url("url");
constexpr QLatin1String FileName("fileName");
constexpr QLatin1String Status("status");
constexpr QLatin1String FileSize("fileSize");
constexpr QLatin1String State("state");
constexpr QLatin1String Progress("progress");
constexpr QLatin1String ExpectedBytes("expectedBytes");
constexpr QLatin1String FileReported("fileReported");
constexpr QLatin1String PageAddress("pageAddress");
constexpr QLatin1String Reason("reason");
constexpr QLatin1String SavedPath("savedPath");
constexpr QLatin1String TransferNote("transferNote");
constexpr QLatin1String AnyPage("anyPage"); // true for a page searched as one of no known site
} // namespace field

// The longest texts an entry may hold, in characters: far beyond any the program writes, so
// an entry over one was not written by it.
namespace bound {
constexpr qsizetype Address = 8192;  // url and pageAddress
constexpr qsizetype FileName = 4096; // before cleaning; the cleaned name fits 255 bytes
constexpr qsizetype SizeText = 64;
constexpr qsizetype Reason = 1024;
constexpr qsizetype TransferNote = 256;
constexpr qsizetype SavedPath = 4096; // PATH_MAX
constexpr qsizetype StateName = 32;
// The bytes so far of a transfer without a length (a transfer stops at 2 GiB), and the
// length a server may announce.
constexpr qint64 BytesSoFar = std::numeric_limits<qint32>::max();
constexpr qint64 ExpectedBytes = qint64(1) << 53;
} // namespace bound

const QString kDamagedSuffix = QStringLiteral(".damaged");
const QString kFullSuffix = QStringLiteral(".full");
// How many numbered names beside the file are tried before it counts as impossible to keep.
constexpr int kMaxAsideNames = 1000;
// The file is read in pieces of this size, up to kMaxFileBytes.
constexpr qsizetype kReadPiece = qsizetype(1) << 20;

// A state is written by name, so a file stays readable when the states are reordered.
QLatin1String stateName(EntryState state) {
    switch (state) {
    case EntryState::Waiting:
        return QLatin1String("Waiting");
    case EntryState::Unsupported:
        return QLatin1String("Unsupported");
    case EntryState::Preparing:
        return QLatin1String("Preparing");
    case EntryState::StartDownloading:
        return QLatin1String("StartDownloading");
    case EntryState::Transferring:
        return QLatin1String("Transferring");
    case EntryState::TransferringUnsized:
        return QLatin1String("TransferringUnsized");
    case EntryState::Complete:
        return QLatin1String("Complete");
    case EntryState::Error:
        return QLatin1String("Error");
    case EntryState::Cancelled:
        return QLatin1String("Cancelled");
    case EntryState::Retrying:
        return QLatin1String("Retrying");
    }
    return QLatin1String("Waiting");
}

std::optional<EntryState> stateOfName(const QString& name) {
    // Retrying is the last state.
    for (int i = 0; i <= int(EntryState::Retrying); ++i) {
        if (stateName(EntryState(i)) == name)
            return EntryState(i);
    }
    return std::nullopt;
}

// A JSON string: UTF-8, with quotes, backslashes and control characters escaped.
void appendText(QByteArray& out, QStringView text) {
    out += '"';
    for (const char c : text.toUtf8()) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (uchar(c) < 0x20) {
            out += "\\u00";
            out += "0123456789abcdef"[uchar(c) >> 4];
            out += "0123456789abcdef"[uchar(c) & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

// One entry as a JSON object on one line.
void appendEntry(QByteArray& out, const DownloadItem& e) {
    const auto name = [&out](QLatin1String member) {
        out += out.endsWith('{') ? "\"" : ", \"";
        out += member;
        out += "\": ";
    };
    const auto text = [&](QLatin1String member, QStringView value) {
        name(member);
        appendText(out, value);
    };
    const auto number = [&](QLatin1String member, qint64 value) {
        name(member);
        out += QByteArray::number(value);
    };
    out += '{';
    text(field::Url, e.Video_URL);
    text(field::FileName, e.FileName);
    text(field::Status, e.Status);
    text(field::FileSize, e.FileSize);
    name(field::State);
    out += '"';
    out += stateName(e.State); // plain letters
    out += '"';
    number(field::Progress, e.Progress);
    number(field::ExpectedBytes, e.ExpectedBytes);
    name(field::FileReported);
    out += e.FileReported ? "true" : "false";
    text(field::PageAddress, e.PageAddress);
    text(field::Reason, e.Reason);
    text(field::SavedPath, e.SavedPath);
    text(field::TransferNote, e.TransferNote);
    if (e.SiteCode == kSiteGeneric) {
        name(field::AnyPage);
        out += "true";
    }
    out += '}';
}

// The file's text, one entry a line. Written directly rather than through QJsonDocument:
// this runs once a second during a download, on the program's one thread, and for a list of
// 10,000 entries takes about a seventh of the time.
QByteArray listText(const std::vector<DownloadItem>& entries) {
    QByteArray out;
    out.reserve(qsizetype(entries.size()) * 400 + 64);
    out += "{\"";
    out += field::Version;
    out += "\": " + QByteArray::number(ListFile::kFormatVersion) + ", \"";
    out += field::Entries;
    out += "\": [";
    for (std::size_t i = 0; i < entries.size(); ++i) {
        out += i == 0 ? "\n" : ",\n";
        appendEntry(out, entries[i]);
    }
    out += "\n]}\n";
    return out;
}

// The list's fixed texts, which stand in a file name's place and are kept as they are.
bool isFixedText(const QString& name) {
    static const QString* const kFixed[] = {
        &EntryText::Waiting,       &EntryText::LinkNotSupported, &EntryText::Complete,
        &EntryText::Error,         &EntryText::Cancelled,        &EntryText::AutoDetect,
        &EntryText::UnknownSize,   &EntryText::StartDownloading, &EntryText::UnsupportedLink,
        &EntryText::ProcessFailed, &EntryText::Inappropriate,
    };
    return std::any_of(std::begin(kFixed), std::end(kFixed),
                       [&name](const QString* fixed) { return *fixed == name; });
}

// The progress value held within what the state shows: a percentage (-1 for
// "Preparing..."), or the bytes so far; 0 for a state that shows none.
qint64 boundedProgress(EntryState state, qint64 progress) {
    switch (state) {
    case EntryState::Preparing:
        return std::clamp<qint64>(progress, -1, 100);
    case EntryState::Transferring:
        return std::clamp<qint64>(progress, 0, 100);
    case EntryState::TransferringUnsized:
        return std::clamp<qint64>(progress, 0, bound::BytesSoFar);
    default:
        return 0;
    }
}

// An entry as written; false when it can't be used: no address, or a text longer than its
// bound. Any other member that is missing or of the wrong type takes the value a new entry
// has; an unknown state makes it "Waiting". The file name is cleaned as a typed one, and the
// status text is rendered from the state: the file's own is never shown.
bool fromJson(const QJsonObject& o, DownloadItem& item) {
    const QJsonValue url = o.value(field::Url);
    if (!url.isString())
        return false;
    bool fits = true;
    const auto text = [&o, &fits](QLatin1String name, qsizetype limit,
                                  const QString& otherwise = QString()) {
        const QJsonValue v = o.value(name);
        if (!v.isString())
            return otherwise;
        QString value = v.toString();
        fits = fits && value.size() <= limit;
        return value;
    };
    item.Video_URL = text(field::Url, bound::Address);
    const QString name = text(field::FileName, bound::FileName, EntryText::AutoDetect);
    item.FileSize = text(field::FileSize, bound::SizeText, EntryText::UnknownSize);
    item.PageAddress = text(field::PageAddress, bound::Address);
    item.Reason = text(field::Reason, bound::Reason);
    item.SavedPath = text(field::SavedPath, bound::SavedPath);
    item.TransferNote = text(field::TransferNote, bound::TransferNote);
    const std::optional<EntryState> state = stateOfName(text(field::State, bound::StateName));
    if (!fits)
        return false;
    item.FileName = isFixedText(name) ? name : CleanFileName(name);
    item.State = state.value_or(EntryState::Waiting);
    if (o.value(field::AnyPage).toBool(false))
        item.SiteCode = kSiteGeneric;
    item.Progress = boundedProgress(item.State, o.value(field::Progress).toInteger(0));
    item.Status = EntryStatusText(item.State, item.Progress);
    const qint64 expected = o.value(field::ExpectedBytes).toInteger(-1);
    item.ExpectedBytes = expected >= 0 && expected <= bound::ExpectedBytes ? expected : -1;
    item.FileReported = o.value(field::FileReported).toBool(false);
    return true;
}

enum class ReadOutcome { Missing, Read, Unusable };

// The file's bytes, read only when it is a regular file of at most kMaxFileBytes. Opened
// without following a link and without waiting (a FIFO in its place is refused, not waited
// on), and read through that one descriptor, so what was checked is what is read.
ReadOutcome readListBytes(const QString& path, QByteArray& bytes) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? ReadOutcome::Missing : ReadOutcome::Unusable;
    ReadOutcome outcome = ReadOutcome::Unusable;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= ListFile::kMaxFileBytes) {
        bytes.reserve(qsizetype(st.st_size) + 1);
        // The file may grow while it is read: reading stops one byte past the bound.
        for (;;) {
            const qsizetype at = bytes.size();
            const qsizetype room = std::min<qint64>(kReadPiece, ListFile::kMaxFileBytes + 1 - at);
            if (room <= 0)
                break; // larger than the bound
            bytes.resize(at + room);
            const ssize_t n = ::read(fd, bytes.data() + at, std::size_t(room));
            bytes.resize(at + std::max<qsizetype>(n, 0));
            if (n == 0) {
                outcome = ReadOutcome::Read;
                break;
            }
            if (n < 0 && errno != EINTR)
                break;
        }
    }
    ::close(fd);
    if (outcome != ReadOutcome::Read)
        bytes.clear();
    return outcome;
}

// Writes the bytes into a new file beside `path` and renames it over `path` only when
// complete, so a failed write (a full disk, a read-only folder) leaves the old file as it was.
// The rename replaces whatever stands at `path` itself: a link there is never followed to
// what it points to (QSaveFile would write through it, replacing a file of someone else's).
bool replaceWhole(const QString& path, const QByteArray& bytes, QString* why) {
    QByteArray temp = QFile::encodeName(path) + ".XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC); // created exclusively, never a link
    if (fd < 0) {
        *why = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    int error = 0;
    for (qsizetype done = 0; done < bytes.size() && error == 0;) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    // On disk before the name points to it, so a crash leaves the old list or the new one.
    if (error == 0 && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.constData(), QFile::encodeName(path).constData()) != 0)
        error = errno;
    if (error == 0)
        return true;
    ::unlink(temp.constData());
    *why = QString::fromLocal8Bit(std::strerror(error));
    return false;
}

} // namespace

ListFile::Parsed ListFile::ParseEntries(const QByteArray& bytes) {
    Parsed parsed;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return parsed;
    const QJsonObject root = doc.object();
    const QJsonValue list = root.value(field::Entries);
    if (root.value(field::Version).toInteger(-1) != kFormatVersion || !list.isArray())
        return parsed;
    const QJsonArray array = list.toArray();
    parsed.readable = true;
    parsed.total = array.size();
    const qsizetype taken = std::min<qsizetype>(array.size(), EntryStore::kCapacity);
    parsed.entries.reserve(std::size_t(taken));
    for (qsizetype i = 0; i < taken; ++i) {
        const QJsonValue value = array.at(i);
        DownloadItem item;
        if (value.isObject() && fromJson(value.toObject(), item))
            parsed.entries.push_back(std::move(item));
        else
            ++parsed.dropped;
    }
    return parsed;
}

ListFile::ListFile(modMain& list, QString path, std::chrono::milliseconds throttle,
                   std::chrono::milliseconds retry)
    : list_(list), path_(std::move(path)) {
    timer_.setSingleShot(true);
    timer_.setInterval(throttle);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (dirty_)
            SaveNow();
    });
    retry_.setSingleShot(true);
    retry_.setInterval(retry);
    QObject::connect(&retry_, &QTimer::timeout, &retry_, [this] { SaveNow(); });
    list_.SetChangeListener([this] { changed(); });
}

ListFile::~ListFile() {
    list_.SetChangeListener({});
}

QString ListFile::DefaultPath() {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    return data.isEmpty() ? QString() : data + QStringLiteral("/Orvello/list.json");
}

// Called after every change of the list, once per received block of a running download
// too: it only notes the change. The timer is not restarted by later changes, so a list that
// keeps changing is still written once per interval.
void ListFile::changed() {
    dirty_ = true;
    if (!timer_.isActive())
        timer_.start();
}

ListFile::LoadResult ListFile::Load() {
    Parsed parsed;
    {
        QByteArray bytes;
        const ReadOutcome read = readListBytes(path_, bytes);
        if (read == ReadOutcome::Missing) {
            list_.RestoreEntries({});
            return {};
        }
        if (read == ReadOutcome::Read)
            parsed = ParseEntries(bytes);
    }
    if (!parsed.readable) {
        list_.RestoreEntries({});
        return damaged();
    }
    LoadResult result;
    QStringList said;
    if (parsed.total > EntryStore::kCapacity) {
        // Kept whole before the list written next replaces it.
        const QString more =
            QStringLiteral("The saved download list holds %1 entries, more than the %2 the list "
                           "can hold; the first %2 were loaded.")
                .arg(parsed.total)
                .arg(EntryStore::kCapacity);
        if (moveAside(kFullSuffix, &result.keptAs) == 0) {
            said << more + QStringLiteral(" The whole file was kept as %1.")
                               .arg(QDir::toNativeSeparators(result.keptAs));
        } else {
            pendingAside_ = kFullSuffix;
            said << more + QStringLiteral(" The whole file %1 could not be kept aside; the list "
                                          "is not saved over it until it is.")
                               .arg(QDir::toNativeSeparators(path_));
        }
    }
    if (parsed.dropped > 0) {
        said << (parsed.dropped == 1
                     ? QStringLiteral("1 entry of the saved download list could not be used and "
                                      "was left out.")
                     : QStringLiteral("%1 entries of the saved download list could not be used "
                                      "and were left out.")
                           .arg(parsed.dropped));
    }
    list_.RestoreEntries(std::move(parsed.entries));
    result.message = said.join(QLatin1Char(' '));
    return result;
}

int ListFile::moveAside(const QString& suffix, QString* target) const {
    const QString base = path_ + suffix;
    const QByteArray from = QFile::encodeName(path_);
    for (int n = 1; n <= kMaxAsideNames; ++n) {
        const QString name = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        // Never QFile::rename: its copy fall-back would follow a link left at the name.
        const int result = RenameNoReplace(AT_FDCWD, from, AT_FDCWD, QFile::encodeName(name));
        if (result == 0) {
            *target = name;
            return 0;
        }
        if (result != EEXIST)
            return result;
    }
    return EEXIST;
}

// Moves the damaged file to the first free name beside it, never over another file; one that
// can't be moved now is moved before the first write.
ListFile::LoadResult ListFile::damaged() {
    QString target;
    if (moveAside(kDamagedSuffix, &target) == 0) {
        return {target, QStringLiteral("The saved download list could not be read; it was "
                                       "kept as %1. The list starts empty.")
                            .arg(QDir::toNativeSeparators(target))};
    }
    pendingAside_ = kDamagedSuffix;
    return {QString(), QStringLiteral("The saved download list %1 could not be read. The list "
                                      "starts empty.")
                           .arg(QDir::toNativeSeparators(path_))};
}

bool ListFile::write(QString* why) {
    if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
        *why = QStringLiteral("its folder can't be made");
        return false;
    }
    if (!pendingAside_.isEmpty()) {
        QString kept;
        const int result = moveAside(pendingAside_, &kept);
        if (result != 0 && result != ENOENT) { // a file gone meanwhile needs no keeping
            *why = QStringLiteral("the file there could not be kept aside (%1)")
                       .arg(QString::fromLocal8Bit(std::strerror(result)));
            return false;
        }
        pendingAside_.clear();
    }
    return replaceWhole(path_, listText(list_.Entries()), why);
}

bool ListFile::SaveNow() {
    timer_.stop();
    retry_.stop();
    QString why;
    const bool ok = !path_.isEmpty() && write(&why);
    lastWriteFailed_ = !ok;
    // What a failed write missed is written with the next change, or by the retry.
    dirty_ = !ok;
    if (ok) {
        failureSaid_ = false;
    } else if (!path_.isEmpty()) {
        retry_.start();
        if (!std::exchange(failureSaid_, true) && saveFailed_) {
            saveFailed_(QStringLiteral("The download list could not be saved to %1: %2. "
                                       "Orvello will keep trying.")
                            .arg(QDir::toNativeSeparators(path_), why));
        }
    }
    return ok;
}

} // namespace orvello
