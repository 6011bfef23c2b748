#pragma once

#include "common/DownloadItem.h"
#include "resolve/PageDriver.h"
#include "scheduler/PartialFile.h"

#include <QObject>
#include <QPointer>
#include <QString>

namespace orvello {

class EntryResolver;
class FileNamer;
class TransferEvents;
class TransferJob;
class modMain;
struct ProgramSettings;
struct TransferResult;

// What every entry of a run shares: the list, the event handling, the settings and what the
// resolution needs (the session among them).
struct EntryNeeds {
    modMain& list;
    TransferEvents& events;
    FileNamer& naming;
    const ProgramSettings& settings;
    const ResolveNeeds& resolve;
};

// One entry of a run, from its page to its file: the resolution (EntryResolver), then its
// partial file in the download folder, the file's transfer into it, and the final status.
// Start returns at once; Finished follows once the entry has its final state ("Complete",
// "ERROR" or "Cancelled") or is gone. Everything the entry owns is its own: its requests,
// its partial file, its page, its speed.
class EntryDownload : public QObject {
    Q_OBJECT
public:
    EntryDownload(quint64 key, const EntryNeeds& needs, QObject* parent = nullptr);
    ~EntryDownload() override;

    quint64 key() const { return key_; }
    void Start();
    // The user stopped the run: whatever runs stops at once, the partial file goes, and the
    // entry ends "Cancelled".
    void Stop();
    // The entry was removed from the list: whatever runs stops at once, the partial file
    // goes, and nothing more is written to the list.
    void Drop();
    // While the file comes in: its transfer's speed limit (bytes a second, 0 for none).
    void setMaxRecvSpeed(std::int64_t bytesPerSecond);
    bool Receiving() const;

signals:
    // The file's transfer begins (the speed limit is shared among those receiving).
    void FileStarted(quint64 key);
    void Finished(quint64 key, orvello::EntryState state);

private:
    void Resolved(const QString& link);
    void StartFile(const QString& link);
    void FileEnded(const TransferResult& result);
    // Puts the entry, if it is still in the list, in its final state (with the reason of a
    // failure), refills, and tells the run.
    void End(EntryState state, const QString& reason = QString());
    void RemovePartialFile();

    const quint64 key_;
    const EntryNeeds& needs_;
    EntryResolver* resolver_ = nullptr;
    QPointer<TransferJob> file_;
    PartialFile::Folder folder_;
    QString partName_; // the partial file's name in the folder, empty when none
    int partFd_ = -1;
    std::int64_t maxRecvSpeed_ = 0;
    bool stopping_ = false; // stopped or dropped: the end is the stop's
    bool dropped_ = false;
    bool ended_ = false;
};

} // namespace orvello
