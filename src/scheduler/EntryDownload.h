#pragma once

#include "common/DownloadItem.h"
#include "resolve/PageDriver.h"
#include "scheduler/PartialFile.h"
#include "scheduler/PartialRecord.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <optional>

namespace orvello {

class EntryResolver;
class FileNamer;
class HlsDownload;
class TransferEvents;
class TransferJob;
class modMain;
struct ProgramSettings;
struct TransferResult;

// What every entry of a run shares: the list, the event handling, the settings, the records of
// partial files and what the resolution needs (the session among them).
struct EntryNeeds {
    modMain& list;
    TransferEvents& events;
    FileNamer& naming;
    const ProgramSettings& settings;
    const ResolveNeeds& resolve;
    PartialRecords& records;
};

// One entry of a run, from its page to its file: the resolution (EntryResolver), then its
// partial file in the download folder, the file's transfer into it, and the final status.
// Start returns at once; Finished follows once the entry has its final state ("Complete",
// "ERROR" or "Cancelled") or is gone. Everything the entry owns is its own: its requests,
// its partial file, its page, its speed.
//
// A download that stops before its end (a stop, the end of the program, a failure that may
// pass) keeps its partial file with a record beside it (PartialRecord), and continues from it
// the next time: the page is read again, the partial file cut to the bytes the record knows,
// and the rest asked for from that byte on, with the validator, so only the same file's bytes
// are ever joined to it (a 206 whose range starts there and whose total is the recorded one).
// A server that sends the whole file instead has it written from the first byte; one that
// can't give the range has it fetched whole again. A failure that may pass (EntryResolver and
// TransferJob say which) is tried again after a wait, up to RetryPolicy::tries times.
//
// An HLS playlist (found on a page of no known site) is downloaded by an HlsDownload of the
// entry's own, which keeps its partial file and record itself.
class EntryDownload : public QObject {
    Q_OBJECT
public:
    EntryDownload(quint64 key, const EntryNeeds& needs, QObject* parent = nullptr);
    ~EntryDownload() override;

    quint64 key() const { return key_; }
    void Start();
    // The user stopped the run (or the program ends): whatever runs stops at once, the
    // partial file stays to be continued (or goes, when it can't be), and the entry ends
    // "Cancelled".
    void Stop();
    // The entry was removed from the list: whatever runs stops at once, the partial file and
    // its record go, and nothing more is written to the list.
    void Drop();
    // While the file comes in: its transfer's speed limit (bytes a second, 0 for none).
    void setMaxRecvSpeed(std::int64_t bytesPerSecond);
    bool Receiving() const;

signals:
    // The file's transfer begins (the speed limit is shared among those receiving).
    void FileStarted(quint64 key);
    // The server sends the rest of the partial file: the download goes on from `from` of
    // `total` bytes.
    void Continued(quint64 key, qint64 from, qint64 total);
    void Finished(quint64 key, orvello::EntryState state);

private:
    void Resolve();
    void Resolved(const QString& link);
    void StartFile(const QString& link);
    void StartStream(const QString& playlist);
    void StreamEnded(EntryState state, const QString& reason, bool mayPass, qint64 retryAfter);
    void StartTransfer();
    void Opening();
    void FileEnded(const TransferResult& result);
    void FinishFile();
    // A failure: tried again after a wait when it may pass and tries are left; else the entry
    // ends "ERROR" with the reason (the partial file kept when a later run may continue it).
    void Failed(const QString& reason, bool mayPass, qint64 retryAfter);
    void Wait(qint64 retryAfter);
    void ShowWait();
    // Writes the record of the partial file with what is known to be on disk now.
    void Checkpoint();
    void ForgetPartialFile();
    void ClosePartialFile();
    // Puts the entry, if it is still in the list, in its final state (with the reason of a
    // failure), refills, and tells the run.
    void End(EntryState state, const QString& reason = QString());

    const quint64 key_;
    const EntryNeeds& needs_;
    EntryResolver* resolver_ = nullptr;
    QPointer<TransferJob> file_;
    QPointer<HlsDownload> stream_;
    QString link_;
    PartialFile::Folder folder_;
    QString partName_; // the partial file's name in the folder, empty when none
    int partFd_ = -1;
    std::optional<PartialRecord> record_; // the partial file's record, when it can be continued
    std::int64_t resumeFrom_ = 0;         // bytes of the file on disk before this transfer
    int tries_ = 0;                       // tries made again after a failure
    QTimer waitTimer_;                    // the wait before the next try, a tick a second
    qint64 waitLeft_ = 0;                 // seconds
    QTimer checkpoint_;                   // the record brought up to date while data comes
    std::int64_t maxRecvSpeed_ = 0;
    bool stopping_ = false; // stopped or dropped: the end is the stop's
    bool dropped_ = false;
    bool ended_ = false;
};

} // namespace orvello
