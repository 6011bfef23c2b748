#pragma once

#include <QString>

#include <cstdint>

namespace orvello {

// One entry of the download list. ID is the entry's position counted from 1.
struct DownloadItem {
    int16_t ID = 0;
    QString Video_URL;
    QString FileName;
    QString Status;
    QString FileSize;
    // An identity the list gives the entry when it is added and keeps through moves and
    // renumbering, so a running download can follow its entry. Not shown.
    quint64 Key = 0;
};

// The fixed texts of the list's fields.
namespace EntryText {
inline const QString Waiting = QStringLiteral("Waiting");
inline const QString LinkNotSupported = QStringLiteral("Link is not supported");
inline const QString Complete = QStringLiteral("Complete");
inline const QString Error = QStringLiteral("ERROR");
inline const QString Cancelled = QStringLiteral("Cancelled");
inline const QString AutoDetect = QStringLiteral("Waiting (Auto Detect)");
inline const QString UnknownSize = QStringLiteral("????");
// Written while an entry is resolved and its page fetched.
inline const QString PreparingStart = QStringLiteral("Preparing (0%)");
inline const QString StartDownloading = QStringLiteral("Start Downloading...");
// What a failed resolution writes into the entry's file name and address.
inline const QString UnsupportedLink = QStringLiteral("Un supported link");
inline const QString ProcessFailed = QStringLiteral("Process failed.");
inline const QString Inappropriate =
    QStringLiteral("Video may be inappropriate and can not be downloaded");
} // namespace EntryText

} // namespace orvello
