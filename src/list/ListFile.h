#pragma once

#include "common/DownloadItem.h"

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <vector>

namespace orvello {

class modMain;

// Keeps the download list on disk so it survives a restart: the whole list as one JSON file,
// rewritten atomically (a new file that replaces the old one whole, or a link in its place,
// never what the link points to) at most once per throttle interval after the list changed,
// and read back at start. What is read back is
// outside text like any other: names are cleaned as typed names are, texts and numbers are
// bounded, and the status texts are rendered from the states, never taken from the file.
class ListFile {
public:
    // The version written into the file; a file of any other version is not read.
    static constexpr int kFormatVersion = 1;
    // The largest file read. A full list of 32,767 entries with long titles takes about
    // 16 MiB; a larger file, or anything but a regular file, is set aside unread.
    static constexpr qint64 kMaxFileBytes = qint64(32) << 20;

    struct LoadResult {
        // Where the file was moved (a damaged one, or one with more entries than the list
        // holds); empty when there was none or it couldn't be moved.
        QString keptAs;
        // What the user should know about the load (why the list starts empty, what was left
        // out); empty when the file was read whole or missing.
        QString message;
    };

    // What a list file's bytes hold.
    struct Parsed {
        bool readable = false; // a list of this version
        // The usable entries among the first EntryStore::kCapacity, in their order.
        std::vector<DownloadItem> entries;
        qsizetype total = 0;   // the entries the file holds, usable or not
        qsizetype dropped = 0; // entries among the first kCapacity that could not be used
    };

    // Becomes the list's change listener (a list has one) until destroyed. A change is written
    // one throttle interval later, with every change made meanwhile; a failed write is tried
    // again every retry interval, also when nothing changes any more.
    ListFile(modMain& list, QString path,
             std::chrono::milliseconds throttle = std::chrono::seconds(1),
             std::chrono::milliseconds retry = std::chrono::seconds(5));
    ~ListFile();
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    // $XDG_DATA_HOME/Orvello/list.json (~/.local/share/...); empty when there is no data
    // folder.
    static QString DefaultPath();

    // The entries of a list file's bytes: an entry without an address, with a text longer
    // than any the program writes or that is no object is left out and counted; a file name
    // is cleaned as a typed one (the list's fixed texts stay); every status text is rendered
    // from the entry's state, its progress held within the state's range.
    static Parsed ParseEntries(const QByteArray& bytes);

    // Replaces the list with the file's entries (modMain::RestoreEntries). A missing file
    // gives an empty list. A file that can't be read as a list (or is no regular file, or is
    // larger than kMaxFileBytes) gives an empty list too; it is moved aside under a free name
    // (list.json.damaged, list.json.damaged-2, ...) and the result says so. A file with more
    // entries than the list holds gives its first EntryStore::kCapacity and is moved whole to
    // list.json.full (or the first free list.json.full-2, ...). A file that can't be moved
    // aside is never written over: each write tries the move first. Like any change, the
    // restored list is written again after the interval.
    LoadResult Load();
    // Writes the list now (the folder is created when missing). A failed write leaves the
    // previous file as it was; false then, said once through the failure listener until a
    // write succeeds again, and tried again after the retry interval. The destructor writes
    // nothing: call this before it to keep the last changes.
    bool SaveNow();
    bool LastWriteFailed() const { return lastWriteFailed_; }
    // Told the first failed write's message ("The download list could not be saved to
    // <path>: <reason>. Orvello will keep trying."), once until a write succeeds again.
    void SetSaveFailedListener(std::function<void(const QString& message)> listener) {
        saveFailed_ = std::move(listener);
    }

private:
    void changed();
    // Moves the file to the first free of <path><suffix>, <path><suffix>-2, ... beside it,
    // never over anything; 0 with the name in `target`, or the errno.
    int moveAside(const QString& suffix, QString* target) const;
    LoadResult damaged();
    bool write(QString* why);

    modMain& list_;
    QString path_;
    QTimer timer_;
    QTimer retry_;
    bool dirty_ = false; // changes not written yet
    bool lastWriteFailed_ = false;
    bool failureSaid_ = false;
    // The suffix under which the file still has to be moved aside before it may be replaced;
    // empty when there is nothing to keep.
    QString pendingAside_;
    std::function<void(const QString&)> saveFailed_;
};

} // namespace orvello
