#include "resolve/PageDriver.h"

#include "common/Files.h"
#include "resolve/Extractors.h"
#include "resolve/Sites.h"
#include "transfer/Download.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>

namespace orvello {

namespace {

ScratchFileError Failure(const QString& path, const QString& why) {
    return ScratchFileError((QStringLiteral("Could not replace the scratch file ") +
                             QDir::toNativeSeparators(path) + QStringLiteral(": ") + why)
                                .toStdString());
}

// For the length of the page fetch, also when a handler throws: tells the event handling
// that a page comes, measures its progress against its own length, and bounds what the
// transfer may receive to a page's size.
struct PageFetchScope {
    Download& download;
    TransferPurpose* purpose;
    const Download::Limits saved;
    PageFetchScope(Download& d, TransferPurpose* p) : download(d), purpose(p), saved(d.limits()) {
        Download::Limits page = saved;
        page.maxBytes = std::min<std::int64_t>(page.maxBytes, PageDriver::kMaxPageBytes);
        download.setLimits(page);
        // A page's progress is measured against the page's own length, never against the
        // size of the file the last header request asked about.
        download.setProgressBase(Download::ProgressBase::ResponseLength);
        if (purpose)
            purpose->BeginPageFetch();
    }
    ~PageFetchScope() {
        if (purpose)
            purpose->EndTransfer();
        download.setLimits(saved);
    }
};

} // namespace

PageDriver::PageDriver(Download& download, YoutubeRedirect* redirect, TransferPurpose* purpose)
    : download_(download), redirect_(redirect), purpose_(purpose), parseFile_(DefaultParseFile()) {}

QString PageDriver::DefaultParseFile() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::CacheLocation))
        .filePath(QStringLiteral("Parse.tmp"));
}

void PageDriver::ClearParseFile() const {
    if (!QDir().mkpath(QFileInfo(parseFile_).absolutePath()))
        throw Failure(parseFile_, QStringLiteral("its folder can't be created"));
    QString why;
    if (!RemoveFile(parseFile_, &why))
        throw Failure(parseFile_, why);
}

QString PageDriver::GetDownloadLink(const QString& sLink) {
    reason_.clear();
    if (IdentifySite(sLink) == kSiteNotSupported) {
        reason_ = kSiteNotSupportedReason;
        return kNotSupported;
    }
    download_.setUrl(sLink);
    ClearParseFile();
    download_.setLocalFile(parseFile_);

    // The fetch decides by its own end: only a transfer that completed has the whole page.
    // A cancelled one (a stop request) counts as failed even when every byte had arrived.
    bool complete = false;
    {
        PageFetchScope scope(download_, purpose_);
        complete = download_.StartDownload();
    }
    if (!complete) {
        // What part of the page arrived is never read, and a page cut off at its size limit
        // would take disk room for nothing.
        QFile::remove(parseFile_);
        reason_ = download_.lastFailure() == Download::Failure::TooLarge
                      ? QStringLiteral("The page was larger than the %1 MiB a page may have.")
                            .arg(kMaxPageBytes >> 20)
                      : download_.FailureReason();
        return kFetchFailed;
    }

    const int status = download_.ResponseCode();
    const QString link = RunExtractor(IdentifySite(sLink), sLink, parseFile_, redirect_);
    if (link.isEmpty())
        reason_ = status >= 400 ? Download::StatusReason(status)
                                : QStringLiteral("The page held no video.");
    return link.isEmpty() ? kNoLink : link;
}

} // namespace orvello
