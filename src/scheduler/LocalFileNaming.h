#pragma once

#include "resolve/EntryResolver.h"

namespace orvello {

// Names the local copy of a video file from its server's answer to the header request: the
// server's name or the address, with the site's suffix and length rules, and the size text.
class LocalFileNaming : public FileNamer {
public:
    LocalFileInfo MakeLocalFileName(const QString& url, int32_t siteCode,
                                    const HeaderValues& header,
                                    const QString& foundName = QString()) override;
};

} // namespace orvello
