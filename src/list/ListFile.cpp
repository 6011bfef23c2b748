#include "list/ListFile.h"

#include "list/EntryStatus.h"
#include "list/modMain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>
#include <optional>
#include <utility>

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
} // namespace field

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
    }
    return QLatin1String("Waiting");
}

std::optional<EntryState> stateOfName(const QString& name) {
    // Cancelled is the last state.
    for (int i = 0; i <= int(EntryState::Cancelled); ++i) {
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

// An entry as written; false when it has no address. Any other member that is missing or of
// the wrong type takes the value a new entry has; an unknown state makes it "Waiting".
bool fromJson(const QJsonObject& o, DownloadItem& item) {
    const QJsonValue url = o.value(field::Url);
    if (!url.isString())
        return false;
    const auto text = [&o](QLatin1String name, const QString& otherwise = QString()) {
        const QJsonValue v = o.value(name);
        return v.isString() ? v.toString() : otherwise;
    };
    item.Video_URL = url.toString();
    item.FileName = text(field::FileName);
    item.FileSize = text(field::FileSize, EntryText::UnknownSize);
    item.Progress = o.value(field::Progress).toInteger(0);
    item.ExpectedBytes = std::max<qint64>(o.value(field::ExpectedBytes).toInteger(-1), -1);
    item.FileReported = o.value(field::FileReported).toBool(false);
    item.PageAddress = text(field::PageAddress);
    item.Reason = text(field::Reason);
    item.SavedPath = text(field::SavedPath);
    item.TransferNote = text(field::TransferNote);
    if (const std::optional<EntryState> state = stateOfName(text(field::State))) {
        item.State = *state;
        item.Status = text(field::Status, EntryStatusText(item.State, item.Progress));
    } else {
        item.State = EntryState::Waiting;
        item.Progress = 0;
        item.Status = EntryStatusText(item.State);
    }
    return true;
}

// The entries of a file's bytes; false when they are not a list of this version.
bool parse(const QByteArray& bytes, std::vector<DownloadItem>& entries) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        return false;
    const QJsonObject root = doc.object();
    const QJsonValue list = root.value(field::Entries);
    if (root.value(field::Version).toInteger(-1) != ListFile::kFormatVersion || !list.isArray())
        return false;
    const QJsonArray array = list.toArray();
    entries.reserve(std::size_t(array.size()));
    for (const QJsonValue& value : array) {
        DownloadItem item;
        if (!value.isObject() || !fromJson(value.toObject(), item))
            return false;
        entries.push_back(std::move(item));
    }
    return true;
}

} // namespace

ListFile::ListFile(modMain& list, QString path, std::chrono::milliseconds throttle)
    : list_(list), path_(std::move(path)) {
    timer_.setSingleShot(true);
    timer_.setInterval(throttle);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] {
        if (dirty_)
            SaveNow();
    });
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
    std::vector<DownloadItem> entries;
    bool readable = true;
    if (QFile::exists(path_)) {
        QFile file(path_);
        readable = file.open(QIODevice::ReadOnly) && parse(file.readAll(), entries);
        if (!readable)
            entries.clear();
    }
    list_.RestoreEntries(std::move(entries));
    return readable ? LoadResult{} : keepAside();
}

// Moves the damaged file to the first free name beside it, never over another file.
ListFile::LoadResult ListFile::keepAside() {
    const QString base = path_ + QStringLiteral(".damaged");
    for (int n = 1;; ++n) {
        const QString target = n == 1 ? base : base + QLatin1Char('-') + QString::number(n);
        if (QFile::rename(path_, target)) {
            return {target, QStringLiteral("The saved download list could not be read; it was "
                                           "kept as %1. The list starts empty.")
                                .arg(QDir::toNativeSeparators(target))};
        }
        if (!QFile::exists(target))
            break; // the rename failed for another reason (a read-only folder): so will writes
    }
    return {QString(), QStringLiteral("The saved download list %1 could not be read. The list "
                                      "starts empty.")
                           .arg(QDir::toNativeSeparators(path_))};
}

bool ListFile::SaveNow() {
    timer_.stop();
    bool ok = false;
    if (!path_.isEmpty()) {
        const QByteArray bytes = listText(list_.Entries());
        // Written beside the old file and renamed over it only when complete: a failed write
        // (a full disk, a read-only folder) leaves the old one as it was.
        QSaveFile file(path_);
        ok = QDir().mkpath(QFileInfo(path_).absolutePath()) && file.open(QIODevice::WriteOnly) &&
             file.write(bytes) == bytes.size() && file.commit();
    }
    lastWriteFailed_ = !ok;
    // What a failed write missed is tried again with the next change.
    dirty_ = !ok;
    return ok;
}

} // namespace orvello
