#pragma once

#include "resolve/EntryResolver.h"

namespace orvello {

class Download;

// Names the local copy of a video file: asks the file's server about it (which also leaves
// the transfer component's size ready for the download that follows), then builds the name
// from the server's name or the address, with the site's suffix and length rules.
class LocalFileNaming : public FileNamer {
public:
    explicit LocalFileNaming(Download& download) : download_(download) {}

    LocalFileInfo MakeLocalFileName(const QString& url, int32_t siteCode) override;

private:
    Download& download_;
};

} // namespace orvello
