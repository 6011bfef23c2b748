#pragma once

#include <QString>
#include <QTimer>

#include <chrono>

namespace orvello {

class modMain;

// Keeps the download list on disk so it survives a restart: the whole list as one JSON file,
// rewritten atomically (a new file that replaces the old one whole) at most once per
// throttle interval after the list changed, and read back at start.
class ListFile {
public:
    // The version written into the file; a file of any other version is not read.
    static constexpr int kFormatVersion = 1;

    struct LoadResult {
        // Where a damaged file was moved; empty when there was none or it couldn't be moved.
        QString keptAs;
        // Why the list starts empty, for the user; empty when the file was read or missing.
        QString message;
    };

    // Becomes the list's change listener (a list has one) until destroyed. A change is written
    // one throttle interval later, with every change made meanwhile.
    ListFile(modMain& list, QString path,
             std::chrono::milliseconds throttle = std::chrono::seconds(1));
    ~ListFile();
    ListFile(const ListFile&) = delete;
    ListFile& operator=(const ListFile&) = delete;

    // $XDG_DATA_HOME/Orvello/list.json (~/.local/share/...); empty when there is no data
    // folder.
    static QString DefaultPath();

    // Replaces the list with the file's entries (modMain::RestoreEntries). A missing file
    // gives an empty list. A file that can't be read as a list gives an empty list too; it is
    // moved aside under a free name (list.json.damaged, list.json.damaged-2, ...) and the
    // result says so. Like any change, the restored list is written again after the interval.
    LoadResult Load();
    // Writes the list now (the folder is created when missing). A failed write leaves the
    // previous file as it was; false then. The destructor writes nothing: call this before
    // it to keep the last changes.
    bool SaveNow();
    bool LastWriteFailed() const { return lastWriteFailed_; }

private:
    void changed();
    LoadResult keepAside();

    modMain& list_;
    QString path_;
    QTimer timer_;
    bool dirty_ = false; // changes not written yet
    bool lastWriteFailed_ = false;
};

} // namespace orvello
