#pragma once

#include "common/DownloadItem.h"
#include "resolve/hls/HlsPlaylist.h"
#include "scheduler/PartialFile.h"
#include "scheduler/PartialRecord.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace orvello {

class FragmentWriter;
class TransferJob;
struct EntryNeeds;
struct TransferResult;

// One entry's HLS stream (a video-on-demand playlist) downloaded into one file: the playlist
// fetched (a master's chosen variant after it, one level only), then its segments, kParallel at
// a time, each into memory and written strictly in order into the entry's partial file (by a
// writer thread, FragmentWriter; a piece counts among the kParallel until it is on disk): the
// init section in front of the segments that need it (again only when it changes), AES-128
// segments decrypted with their key (each key fetched once), bytes before an MPEG-TS segment's
// first packet cut. The file takes the entry's name once every segment is in it, never before.
//
// Every request is a TransferJob that reports by signals; nothing waits. A segment that fails
// in a way that may pass is asked for again after the run's waits (RetryPolicy); one that
// can't be had ends the entry "ERROR", its reason naming the fragment. The partial file's record
// keeps the playlist, the fragments written and the file's length after them, so a later run
// reads the playlist again and goes on from that fragment (or starts over when the playlist
// has another number of fragments).
class HlsDownload : public QObject {
    Q_OBJECT
public:
    // Segments (and keys) fetched at the same time, and so kept in memory at most.
    static constexpr int kParallel = 4;
    // The most bytes one segment (or init section) may have.
    static constexpr std::int64_t kMaxFragmentBytes = std::int64_t(64) << 20;
    // The most bytes a key's answer may have (a key is 16 bytes).
    static constexpr std::int64_t kMaxKeyBytes = 1024;

    // `playlist` is the stream's address, `referer` the page it was found on (empty for none)
    // and `title` that page's title, for the file's name.
    HlsDownload(quint64 key, const EntryNeeds& needs, const QString& playlist,
                const QString& referer, const QString& title, QObject* parent = nullptr);
    ~HlsDownload() override;

    void Start();
    // Every request stops at once. The partial file stays with its record for a later run,
    // unless `drop` (the entry was removed) or nothing of it can be continued: then both go.
    // Nothing is reported afterwards.
    void Stop(bool drop);
    bool Receiving() const;
    void setMaxRecvSpeed(std::int64_t bytesPerSecond);

signals:
    // The segments begin to come.
    void FileStarted(quint64 key);
    // The stream goes on from the partial file an earlier run left: `from` bytes are there, of
    // about `total`.
    void Continued(quint64 key, qint64 from, qint64 total);
    // The end: Complete (the file has its final name, written into the entry), or Error with the
    // reason; a failure of the playlist's fetch that may pass says so, with the wait its server
    // asked for (seconds, -1 for none).
    void Ended(orvello::EntryState state, const QString& reason, bool mayPass, qint64 retryAfter);

private:
    // One request of the stream's bytes: a segment, an init section or a key.
    struct Fetch {
        QUrl uri;
        HlsByteRange range;
        int tries = 0;
        QPointer<TransferJob> job;
        std::int64_t taken = 0; // body bytes so far
        QByteArray bytes;       // once done: what the file (or the decryption) takes
        bool started = false;
        bool done = false;
    };
    // A segment, or the init section in front of it.
    struct Piece {
        Fetch fetch;
        qsizetype segment = 0; // its index in the playlist
        bool init = false;
        qsizetype key = -1; // index into keys_, -1 when the bytes are clear
        std::array<std::uint8_t, 16> iv{};
        std::int64_t end = -1; // the file's length once it is written
    };

    void FetchPlaylist(const QUrl& address);
    void PlaylistFetched(const TransferResult& result);
    void Begin();
    bool OpenPartialFile(qsizetype segments, QString* why);
    void Pump();
    void StartFetch(Fetch& fetch, qsizetype piece, qsizetype keyIndex);
    void Fetched(qsizetype piece, qsizetype keyIndex, const TransferResult& result);
    void Flush();
    void Written();
    void CountWritten();
    void SettleWrites();
    bool WritePiece(Piece& piece, QString* why);
    void ShowProgress();
    void Checkpoint();
    void Finish();
    // The stream's end with a failure: the partial file kept with its record when a later run
    // may continue it (`keep`), else removed.
    void Fail(const QString& reason, bool keep, bool mayPass = false, qint64 retryAfter = -1);
    void CancelAll();
    void CloseFile();
    void Forget();
    QString FragmentName(qsizetype segment) const;

    const quint64 key_;
    const EntryNeeds& needs_;
    const QUrl top_;
    const QByteArray referer_;
    const QString title_;
    QPointer<TransferJob> playlistJob_;
    int level_ = 0; // playlists read: 1 after a master
    QUrl mediaUrl_;
    HlsMedia media_;
    HlsContainer container_ = HlsContainer::MpegTs;

    std::vector<Piece> pieces_;
    std::vector<Fetch> keys_;
    qsizetype nextWrite_ = 0; // the first piece not yet handed to the writer
    qsizetype written_ = 0;   // the pieces the writer has put down
    qsizetype nextStart_ = 0; // the first piece not yet started
    qsizetype fragmentsDone_ = 0;

    PartialFile::Folder folder_;
    QString partName_;
    int partFd_ = -1;
    std::unique_ptr<FragmentWriter> writer_;
    std::int64_t offset_ = 0;      // the file's length: every byte written so far
    std::int64_t fragmentEnd_ = 0; // the file's length after the last fragment written
    std::optional<PartialRecord> record_;
    QTimer checkpoint_;
    std::int64_t maxRecvSpeed_ = 0;
    bool begun_ = false; // the segments' requests began
    bool over_ = false;  // ended or stopped: nothing more is done or reported
};

} // namespace orvello
