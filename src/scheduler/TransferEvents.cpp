#include "scheduler/TransferEvents.h"

#include "list/Formatting.h"
#include "list/modMain.h"

#include <algorithm>
#include <cmath>

namespace orvello {

namespace {
// How often a speed is measured, and the badge redrawn.
constexpr qint64 kMeasureMs = 500;
} // namespace

TransferEvents::TransferEvents(modMain& list) : list_(list) {}

QString TransferEvents::SpeedNote(double bytesPerSecond, qint64 bytesLeft) {
    QString note = FormatFileSize(float(bytesPerSecond)) + QStringLiteral("/s");
    if (bytesLeft < 0 || bytesPerSecond <= 0)
        return note;
    const qint64 seconds = qint64(std::ceil(double(bytesLeft) / bytesPerSecond));
    QString left;
    if (seconds < 60)
        left = QStringLiteral("%1 s").arg(seconds);
    else if (seconds < 3600)
        left = QStringLiteral("%1 min %2 s").arg(seconds / 60).arg(seconds % 60);
    else
        left = QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds / 60 % 60);
    return note + QStringLiteral(", ") + left + QStringLiteral(" left");
}

void TransferEvents::PageProgress(quint64 key, qint32 lProgress) {
    list_.ShowRunningStatus(key, EntryState::Preparing, lProgress <= 100 ? lProgress : -1);
    list_.FillDownloadList();
}

void TransferEvents::PageComplete(quint64 key) {
    // Shown at the next refill of the list.
    list_.SetState(key, EntryState::StartDownloading);
}

void TransferEvents::BeginVideo(quint64 key, qint64 expectedBytes, bool fileReported,
                                qint64 resumedAt) {
    Video& v = videos_[key];
    v = Video{};
    v.soFar = expectedBytes < 0 && fileReported;
    v.expected = expectedBytes;
    v.resumedAt = resumedAt;
    v.bytes = resumedAt;
    v.lastBytes = resumedAt;
    v.clock.start();
    if (!totalClock_.isValid())
        totalClock_.start();
}

void TransferEvents::EndVideo(quint64 key) {
    if (videos_.erase(key) == 0)
        return;
    list_.SetTransferNote(key, QString());
    showTotal();
}

// At most twice a second: the speed over the time since the last measurement, smoothed
// with the speed before, into the entry's note. The list's handlers may end the entry (a
// removal stops it): nothing of its record is used after they ran.
void TransferEvents::measure(quint64 key, Video& v) {
    const qint64 now = v.clock.elapsed();
    if (now - v.lastMeasured < kMeasureMs)
        return;
    const double recent = double(v.bytes - v.lastBytes) * 1000.0 / double(now - v.lastMeasured);
    v.speed = v.speed < 0 ? recent : 0.7 * v.speed + 0.3 * recent;
    v.lastMeasured = now;
    v.lastBytes = v.bytes;
    const QString note =
        SpeedNote(v.speed, v.expected >= 0 ? std::max<qint64>(v.expected - v.bytes, 0) : -1);
    list_.ShowTransferNote(key, note);
    if (videos_.count(key) == 0)
        return;
    if (totalClock_.hasExpired(kMeasureMs / 2) || videos_.size() == 1) {
        totalClock_.restart();
        showTotal();
    }
}

void TransferEvents::VideoProgress(quint64 key, qint64 bytes) {
    auto it = videos_.find(key);
    if (it == videos_.end())
        return; // a transfer nobody announced shows nothing
    Video& v = it->second;
    v.bytes = bytes;
    qint64 value = bytes;
    if (!v.soFar && v.expected > 0)
        value = qint64(std::nearbyint(double(bytes) / double(v.expected) * 100.0));
    list_.ShowRunningStatus(
        key, v.soFar ? EntryState::TransferringUnsized : EntryState::Transferring, value);
    // The status's handlers may have ended the entry, and its record with it.
    it = videos_.find(key);
    if (it != videos_.end())
        measure(key, it->second);
}

qint64 TransferEvents::BytesSoFar(quint64 key) const {
    const auto it = videos_.find(key);
    return it == videos_.end() ? 0 : it->second.bytes;
}

double TransferEvents::TotalSpeed() const {
    double total = 0;
    for (const auto& [key, v] : videos_)
        total += std::max(v.speed, 0.0);
    return total;
}

// The speeds changed, or the videos that come in.
void TransferEvents::showTotal() {
    const quint64 sole = videos_.size() == 1 ? videos_.begin()->first : 0;
    emit SpeedChanged(int(videos_.size()), TotalSpeed(), sole);
}

} // namespace orvello
