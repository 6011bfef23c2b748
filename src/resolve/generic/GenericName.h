#pragma once

#include <QByteArray>
#include <QString>

namespace orvello {

// The name of a video found on a page no site knows: the page's title when it has one (blanks
// collapsed, trailing dots dropped), else the last segment of the media address's path
// without its query, percent-decoded, without the extension of a playlist, a manifest or a
// page; followed by `extension` (".mp4", ".ts", ...) unless the name already ends with it.
// The name is raw: the caller makes it safe for the download folder as it does every name
// (CleanFileName, which keeps the extension when it shortens a long title).
QString GenericFileName(const QString& title, const QString& mediaAddress,
                        const QString& extension);

// The extension a direct file is saved with: the address's own when it is a video or sound
// file's, else the one the Content-Type names (its parameters and letter case ignored), else
// ".mp4".
QString ExtensionFor(const QString& mediaAddress, const QByteArray& contentType);

} // namespace orvello
