#pragma once

#include <QString>

#include <cstdint>

namespace orvello {

// Where an entry stands. The list's status texts are rendered from it (and from the entry's
// Percent or bytes so far), in one place: EntryStatusText.
enum class EntryState {
    Waiting,             // "Waiting": to be downloaded at the next start
    Unsupported,         // "Link is not supported": no site knows the address
    Preparing,           // "Preparing (n%)" or "Preparing...": its page is being read
    StartDownloading,    // "Start Downloading...": the page was read
    Transferring,        // the percentage received, as a number
    TransferringUnsized, // the amount received "so far..": the server gave no length
    Complete,            // "Complete"
    Error,               // "ERROR"
    Cancelled,           // "Cancelled"
    Retrying,            // "Retrying in 4 s (2 of 5)": failed in a way that may pass; tried again
};

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
    // The site of the page address, found once when the entry is added (-1: no site knows it).
    int32_t SiteCode = -1;
    // The typed values behind Status and FileSize.
    EntryState State = EntryState::Waiting;
    // What the progress shows: the percentage while Preparing (-1 for "Preparing...") or
    // Transferring, the bytes so far while TransferringUnsized, the try and the seconds left
    // while Retrying (RetryProgress packs them); 0 otherwise (a status text given as a text
    // rather than rendered from the state has a value of its own).
    qint64 Progress = 0;
    // The file's length as the server announced it; -1 when it gave none. Without a length,
    // whether the server reported the file as there: progress then shows the amount so far,
    // and an entry whose file was not reported either ends "ERROR".
    qint64 ExpectedBytes = -1;
    bool FileReported = false;
    // The page address as it was added; Video_URL may be replaced by a message since.
    QString PageAddress;
    // Why the entry ended "ERROR", in words a user understands; empty otherwise.
    QString Reason;
    // Where the finished file was written ("Complete" entries); empty otherwise.
    QString SavedPath;
    // While its file comes in: the speed and the time left ("1.2 MB/s, 35 s left").
    QString TransferNote;
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
inline const QString StartDownloading = QStringLiteral("Start Downloading...");
// What a failed resolution writes into the entry's file name and address.
inline const QString UnsupportedLink = QStringLiteral("Un supported link");
inline const QString ProcessFailed = QStringLiteral("Process failed.");
inline const QString Inappropriate =
    QStringLiteral("Video may be inappropriate and can not be downloaded");
} // namespace EntryText

} // namespace orvello
