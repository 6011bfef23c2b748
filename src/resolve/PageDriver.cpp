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

// For the length of the page fetch, also when a handler throws: sets bPreparing, and bounds
// what the transfer may receive to a page's size.
struct PreparingScope {
    bool& flag;
    Download& download;
    const Download::Limits saved;
    PreparingScope(bool& f, Download& d) : flag(f), download(d), saved(d.limits()) {
        flag = true;
        Download::Limits page = saved;
        page.maxBytes = std::min<std::int64_t>(page.maxBytes, PageDriver::kMaxPageBytes);
        download.setLimits(page);
    }
    ~PreparingScope() {
        download.setLimits(saved);
        flag = false;
    }
};

} // namespace

PageDriver::PageDriver(Download& download, YoutubeRedirect* redirect)
    : download_(download), redirect_(redirect), parseFile_(DefaultParseFile()) {}

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
    if (IdentifySite(sLink) == kSiteNotSupported)
        return kNotSupported;
    sDownloadResult.clear();
    download_.setUrl(sLink);
    ClearParseFile();
    download_.setLocalFile(parseFile_);

    // The fetch decides by its own end: only a transfer that completed has the whole page.
    // A cancelled one (a stop request) counts as failed even when every byte had arrived.
    bool complete = false;
    {
        PreparingScope preparing(bPreparing, download_);
        complete = download_.StartDownload();
    }
    if (!complete) {
        // What part of the page arrived is never read, and a page cut off at its size limit
        // would take disk room for nothing.
        QFile::remove(parseFile_);
        return kFetchFailed;
    }

    const QString link = RunExtractor(IdentifySite(sLink), sLink, parseFile_, redirect_);
    return link.isEmpty() ? kNoLink : link;
}

} // namespace orvello
