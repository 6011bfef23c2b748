#pragma once

#include <QString>

#include <stdexcept>

namespace orvello {

class Download;
class YoutubeRedirect;

// The scratch page could not be made ready for a fetch (a folder of that name, a cache
// folder that can't be created or written). The text says what and why.
struct ScratchFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Whoever handles the transfer component's events is told what a transfer is for before it
// starts, so it reads the events right, and when it has ended.
class TransferPurpose {
public:
    virtual ~TransferPurpose() = default;
    virtual void BeginPageFetch() = 0;
    virtual void EndTransfer() = 0;
};

// Turns a video page's address into the address of its video file: fetches the page into
// one scratch file with the transfer component, then runs the site's extractor over it.
class PageDriver {
public:
    // The three failure results of GetDownloadLink.
    static inline const QString kNotSupported = QStringLiteral("-1"); // no site: nothing fetched
    static inline const QString kFetchFailed = QStringLiteral("-2");  // the fetch did not complete
    static inline const QString kNoLink = QStringLiteral("0");        // the page named no file

    // The largest page that is read; a larger one fails its fetch.
    static constexpr qint64 kMaxPageBytes = qint64(8) << 20;

    // `purpose` (may be null) is told when the page fetch begins and ends.
    PageDriver(Download& download, YoutubeRedirect* redirect, TransferPurpose* purpose = nullptr);

    // The video file's address as the extractor cut it, or one of the three codes above.
    // A fetch that fails (kFetchFailed) leaves no scratch file behind. Throws
    // ScratchFileError when the scratch file can't be replaced; nothing is fetched then.
    QString GetDownloadLink(const QString& sLink);

    // Why the last GetDownloadLink gave no link, in words a user understands; empty after a
    // link, and after a fetch that a stop cancelled.
    const QString& LastFailureReason() const { return reason_; }

    // The scratch file: Parse.tmp in the user's cache folder unless set otherwise.
    const QString& ParseFile() const { return parseFile_; }
    void setParseFile(const QString& path) { parseFile_ = path; }
    static QString DefaultParseFile();

private:
    // Creates the scratch file's folder when missing and deletes an earlier scratch file,
    // read-only or not, so every fetch starts from an absent file.
    void ClearParseFile() const;

    Download& download_;
    YoutubeRedirect* redirect_;
    TransferPurpose* purpose_;
    QString parseFile_;
    QString reason_;
};

} // namespace orvello
