#pragma once

#include "resolve/PageDriver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <map>

namespace orvello {

class modMain;

// Turns each running entry's transfers into its status: its page fetch ("Preparing (n%)",
// "Preparing...", then "Start Downloading..."), and its video (the percentage, or the amount
// "so far.."), with the speed and time left of each video and of all of them together.
class TransferEvents : public QObject, public TransferPurpose {
    Q_OBJECT
public:
    explicit TransferEvents(modMain& list);

    // "1.2 MB/s, 35 s left" (without the time when the length is unknown).
    static QString SpeedNote(double bytesPerSecond, qint64 bytesLeft);

    // During a page fetch: "Preparing (n%)" (or "Preparing..." once the value is past 100),
    // and the list is refilled; when the page is in, "Start Downloading...".
    void PageProgress(quint64 key, qint32 lProgress) override;
    void PageComplete(quint64 key) override;

    // An entry's video: with a length the progress values are percentages of it; without one
    // they are byte counts, shown as the amount "so far.." when the server reported the
    // file, and as plain numbers when it did not (that entry ends "ERROR" anyway). The bytes
    // count from the file's first byte; `resumedAt` of them were on disk before this
    // transfer, and only the ones after count for the speed.
    void BeginVideo(quint64 key, qint64 expectedBytes, bool fileReported, qint64 resumedAt = 0);
    // Written into the entry and its one grid row only.
    void VideoProgress(quint64 key, qint64 bytes);
    void EndVideo(quint64 key);
    // The bytes of an entry's video so far (from the file's first byte), 0 when none comes in.
    qint64 BytesSoFar(quint64 key) const;
    // The total speed of the videos coming in, bytes a second (0 while none).
    double TotalSpeed() const;
    int Videos() const { return int(videos_.size()); }

signals:
    // The videos coming in or their speed changed (at most twice a second). `soleKey` is the
    // entry of the one video while exactly one comes in (its TransferNote tells its speed and
    // time left), else 0.
    void SpeedChanged(int videos, double bytesPerSecond, quint64 soleKey);

private:
    struct Video {
        qint64 expected = -1;
        bool soFar = false;
        qint64 resumedAt = 0;
        qint64 bytes = 0;
        QElapsedTimer clock;
        qint64 lastMeasured = 0; // ms on clock
        qint64 lastBytes = 0;
        double speed = -1; // bytes a second; -1 until measured
    };
    void measure(quint64 key, Video& video);
    void showTotal();

    modMain& list_;
    std::map<quint64, Video> videos_;
    QElapsedTimer totalClock_;
};

} // namespace orvello
