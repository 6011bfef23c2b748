#pragma once

#include "resolve/PageDriver.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace orvello {

class Download;
class UiVariables;
class modMain;
struct RunState;

// Turns the transfer component's events into the running entry's status, and passes a stop
// request on to the transfer. Whoever starts a transfer says first what it is for (a page
// fetch, or the running entry's video), and the handlers read only that. Connected directly,
// so the handlers run inside the transfer loop, in order.
class TransferEvents : public QObject, public TransferPurpose {
    Q_OBJECT
public:
    enum class Kind { None, PageFetch, Video };

    TransferEvents(Download& download, RunState& run, modMain& list, UiVariables& ui);

    // The surface variable that shows the running video's speed and time left.
    static inline const QString kSpeedVariable = QStringLiteral("_root.downloadSpeed");
    // "1.2 MB/s, 35 s left" (without the time when the length is unknown).
    static QString SpeedNote(double bytesPerSecond, qint64 bytesLeft);

    void BeginPageFetch() override;
    // The running entry's video: with a length the progress values are percentages; without
    // one they are byte counts, shown as the amount "so far.." when the server reported the
    // file, and as plain numbers when it did not (that entry ends "ERROR" anyway).
    void BeginVideo(qint64 expectedBytes, bool fileReported);
    void EndTransfer() override;
    Kind Current() const { return kind_; }

    // During a page fetch: "Preparing (n%)" (or "Preparing..." once the value is past 100),
    // and the list is refilled. During a video transfer: the percentage, or the amount "so
    // far..", written into the entry and its one grid cell only.
    void Download_DownloadProgress(qint32& lProgress);
    void Download_DownloadComplete();

private:
    Download& download_;
    RunState& run_;
    modMain& list_;
    UiVariables& ui_;
    Kind kind_ = Kind::None;
    bool soFar_ = false;
    // The video's speed, measured over the last half second or more and smoothed.
    void measureSpeed();
    qint64 expected_ = -1;
    QElapsedTimer clock_;
    qint64 lastMeasured_ = 0; // ms on clock_
    qint64 lastBytes_ = 0;
    double speed_ = -1; // bytes a second; -1 until measured
};

} // namespace orvello
