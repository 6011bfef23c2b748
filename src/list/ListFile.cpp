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
const QString Version = QStringLiteral("version");
const QString Entries = QStringLiteral("entries");
const QString Url = QStringLiteral("url");
const QString FileName = QStringLiteral("fileName");
const QString Status = QStringLiteral("status");
const QString FileSize = QStringLiteral("fileSize");
const QString State = QStringLiteral("state");
const QString Progress = QStringLiteral("progress");
const QString ExpectedBytes = QStringLiteral("expectedBytes");
const QString FileReported = QStringLiteral("fileReported");
const QString PageAddress = QStringLiteral("pageAddress");
const QString Reason = QStringLiteral("reason");
const QString SavedPath = QStringLiteral("savedPath");
const QString TransferNote = QStringLiteral("transferNote");
} // namespace field

// A state is written by name, so a file stays readable when the states are reordered.
QString stateName(EntryState state) {
    switch (state) {
    case EntryState::Waiting:
        return QStringLiteral("Waiting");
    case EntryState::Unsupported:
        return QStringLiteral("Unsupported");
    case EntryState::Preparing:
        return QStringLiteral("Preparing");
    case EntryState::StartDownloading:
        return QStringLiteral("StartDownloading");
    case EntryState::Transferring:
        return QStringLiteral("Transferring");
    case EntryState::TransferringUnsized:
        return QStringLiteral("TransferringUnsized");
    case EntryState::Complete:
        return QStringLiteral("Complete");
    case EntryState::Error:
        return QStringLiteral("Error");
    case EntryState::Cancelled:
        return QStringLiteral("Cancelled");
    }
    return QStringLiteral("Waiting");
}

std::optional<EntryState> stateOfName(const QString& name) {
    // Cancelled is the last state.
    for (int i = 0; i <= int(EntryState::Cancelled); ++i) {
        if (stateName(EntryState(i)) == name)
            return EntryState(i);
    }
    return std::nullopt;
}

QJsonObject toJson(const DownloadItem& item) {
    QJsonObject o;
    o.insert(field::Url, item.Video_URL);
    o.insert(field::FileName, item.FileName);
    o.insert(field::Status, item.Status);
    o.insert(field::FileSize, item.FileSize);
    o.insert(field::State, stateName(item.State));
    o.insert(field::Progress, item.Progress);
    o.insert(field::ExpectedBytes, item.ExpectedBytes);
    o.insert(field::FileReported, item.FileReported);
    o.insert(field::PageAddress, item.PageAddress);
    o.insert(field::Reason, item.Reason);
    o.insert(field::SavedPath, item.SavedPath);
    o.insert(field::TransferNote, item.TransferNote);
    return o;
}

// An entry as written; false when it has no address. Any other member that is missing or of
// the wrong type takes the value a new entry has; an unknown state makes it "Waiting".
bool fromJson(const QJsonObject& o, DownloadItem& item) {
    const QJsonValue url = o.value(field::Url);
    if (!url.isString())
        return false;
    const auto text = [&o](const QString& name, const QString& otherwise = QString()) {
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
        QJsonArray array;
        for (const DownloadItem& item : list_.Entries())
            array.append(toJson(item));
        QJsonObject root;
        root.insert(field::Version, kFormatVersion);
        root.insert(field::Entries, array);
        const QByteArray bytes = QJsonDocument(root).toJson(QJsonDocument::Indented);
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
