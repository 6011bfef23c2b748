#pragma once

#include "common/DownloadItem.h"

#include <QString>

#include <algorithm>

namespace orvello {

// The status text the list shows for an entry in `state` with this progress value (see
// DownloadItem::Progress): "Waiting", "Preparing (57%)", "57", "1.5 KBso far..", "Complete",
// ... The one place these texts are made.
QString EntryStatusText(EntryState state, qint64 progress = 0);

// The progress value of an entry that waits to be tried again: its try (1 for the first time
// again) out of `tries`, and the seconds left before it.
constexpr qint64 RetryProgress(int attempt, int tries, qint64 secondsLeft) {
    return (qint64(attempt) * 100 + tries) * 100000 + std::clamp<qint64>(secondsLeft, 0, 99999);
}

// The state a fixed status text stands for; Waiting for any other text (an entry added with
// a text of its own keeps that text until its state next changes).
EntryState EntryStateOfText(const QString& status);

// Whether an entry in this state is finished with, so a run passes it over.
inline bool IsFinished(EntryState state) {
    return state == EntryState::Complete || state == EntryState::Error;
}

} // namespace orvello
