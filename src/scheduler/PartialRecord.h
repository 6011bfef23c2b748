#pragma once

#include "scheduler/PartialFile.h"

#include <QByteArray>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace orvello {

// What a download that stopped before its end leaves beside its partial file, so a later run
// (of the window or of the command line) can continue it: "<name>.part.json" beside
// "<name>.part". It says what the bytes are (the page and the media address, the total length
// and the validator the server gave: a strong ETag, else the Last-Modified date) and how many
// of them were handed to the file (its length bounds what is really there), and which file holds
// them (its name, and the file's inode and device, so a file put in its place is never taken for
// ours).
struct PartialRecord {
    static constexpr int kVersion = 1;
    static constexpr qint64 kMaxBytes = 64 << 10; // a record file larger than this is not read

    QString page;  // the page address the entry was added with
    QString media; // the media address it came from
    QString part;  // the partial file's name in the folder
    QString name;  // the name the file was to take
    QByteArray etag;
    QByteArray lastModified;
    std::int64_t total = -1; // the whole file's length
    std::int64_t bytes = 0;  // handed to the partial file, from its first byte
    std::uint64_t inode = 0;
    std::uint64_t device = 0;
    // An HLS stream's: its media playlist's address, how many of its fragments are in the file
    // (`bytes` is the file's length after the last of them) and how many the playlist has.
    // Empty and 0 for a file of its own; records without them still read.
    QString playlist;
    std::int64_t fragment = 0;
    std::int64_t fragments = 0;

    // What If-Range sends back: the ETag, else the date.
    QByteArray Validator() const { return etag.isEmpty() ? lastModified : etag; }
    // A record a download can continue from: it names a file and says what the bytes are.
    bool Resumable() const { return !part.isEmpty() && total > 0 && !Validator().isEmpty(); }

    static QString RecordName(const QString& partName) { return partName + ".json"; }
    QByteArray Encode() const;
    // The record these bytes hold; nothing when they are no record of this version, or one
    // whose fields are out of their bounds.
    static std::optional<PartialRecord> Decode(const QByteArray& bytes);
};

// The records of the download folders, read and written for the run: writes go to a thread of
// their own (each is a new file made whole, written to disk and renamed into place, which can
// take a while), in the order they are asked for; reads see the latest record asked to be
// written even before the thread has written it.
class PartialRecords {
public:
    PartialRecords();
    ~PartialRecords();
    PartialRecords(const PartialRecords&) = delete;
    PartialRecords& operator=(const PartialRecords&) = delete;

    // The record for a page address among those of `folder`, if one is there: one this
    // process wrote, or one that was on disk when the run first looked into the folder (each
    // folder's records are read once a run, so a run over many entries does not list a
    // growing folder for every one of them).
    std::optional<PartialRecord> Find(const PartialFile::Folder& folder, const QString& page);
    // A run begins: the folders are read again at their next Find.
    void NewRun() { scanned_.clear(); }
    // Writes (or replaces) the record beside its partial file. A file of the record's name
    // that is no record of ours is never replaced: nothing is written then.
    void Write(const PartialFile::Folder& folder, const PartialRecord& record);
    // Removes the record of the partial file `partName`, if it is ours.
    void Remove(const PartialFile::Folder& folder, const QString& partName);
    // Waits until every write and removal asked for is done (tests, and the end).
    void Settle();

private:
    void Post(std::function<void()> work);
    void Work();
    // Reads the records of a folder from disk, at most a bounded number.
    std::vector<PartialRecord> Scan(const PartialFile::Folder& folder) const;

    // Records asked to be written (or removed: nothing) and not yet confirmed by a scan, by
    // folder and partial file name.
    std::map<std::pair<QString, QString>, std::optional<PartialRecord>> latest_;
    // The partial files of latest_ by folder and page, so a Find need not walk them all.
    std::map<std::pair<QString, QString>, std::set<QString>> written_;
    // The records each folder held on disk when the run first looked, by page, in the
    // order of the folder's listing.
    std::map<QString, std::multimap<QString, PartialRecord>> scanned_;

    std::mutex lock_;
    std::condition_variable more_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> queue_; // under lock_
    bool busy_ = false;                       // under lock_
    bool ending_ = false;                     // under lock_
    std::thread worker_;                      // last: it starts at once and uses every member above
};

} // namespace orvello
