#pragma once

#include "resolve/generic/GenericPage.h"

#include <QByteArray>
#include <QString>

namespace orvello {

// Why a page no site knows gives nothing to download although it names a stream.
inline const QString kReasonDashManifest =
    QStringLiteral("The page offers only a DASH manifest, which is not downloaded.");

// What the answer to a page of no known site leads to.
struct GenericAnswer {
    enum class Outcome {
        File,    // the answer is the file itself: the page's address is downloaded
        Media,   // `address` is the video found on the page (downloaded with the page as Referer)
        Refresh, // the page sends the reader on to `address`
        Hls,     // an HLS playlist: the answer itself (`address` empty), or `address` on the page
        Miss,    // `reason` says why there is nothing to download
    };
    Outcome outcome = Outcome::Miss;
    QString address;
    QString reason;
    QString title; // the page's title, for the file's name
};

// Reads a page's answer: its Content-Type, its body (or the first bytes of it) and the
// headers' challenge mark decide whether it is the file, an HLS playlist, a manifest that is not
// downloaded, or a page, which FindVideoOnPage searches. A pure function: no network, no files.
GenericAnswer ReadGenericAnswer(const PageInput& page);

} // namespace orvello
