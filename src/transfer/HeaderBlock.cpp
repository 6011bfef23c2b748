#include "transfer/HeaderBlock.h"

#include <cmath>

namespace orvello {

namespace {

// The value after a key found at keyPos, up to the end of its line.
QByteArray valueAt(const QByteArray& block, qsizetype keyPos, qsizetype keyLength) {
    const qsizetype start = keyPos + keyLength;
    qsizetype end = block.indexOf('\n', start);
    if (end < 0)
        end = block.size();
    else if (end > start && block.at(end - 1) == '\r')
        --end;
    return block.mid(start, end - start);
}

} // namespace

HeaderValues ReadHeaderBlock(const QByteArray& block) {
    HeaderValues v;
    const QByteArray lower = block.toLower(); // ASCII only, so positions match the block

    // "Last Modified: " has the same length, which is why the length is given separately.
    if (const qsizetype at = lower.indexOf("last-modified: "); at >= 0)
        v.lastModified = QString::fromLatin1(valueAt(block, at, 15));
    else
        v.lastModified = QStringLiteral("Not Available");

    v.fileSize = -1;
    if (const qsizetype at = lower.indexOf("content-length: "); at >= 0) {
        bool ok = false;
        const float size = valueAt(block, at, 16).toFloat(&ok);
        if (ok && std::isfinite(size))
            v.fileSize = size;
        else
            v.badContentLength = true;
    }

    if (const qsizetype at = lower.indexOf("filename="); at >= 0)
        v.remoteFileName = QString::fromLatin1(valueAt(block, at, 9));

    if (const qsizetype at = lower.indexOf("content-type: "); at >= 0) {
        const QByteArray type = valueAt(block, at, 14);
        const qsizetype slash = type.indexOf('/');
        v.remoteFileType = QString::fromLatin1(slash >= 0 ? type.mid(slash + 1) : type);
    }

    v.fileExists =
        !lower.contains("http/1.1 404 not found") && !lower.contains("http/1.1 404 file not found");
    return v;
}

} // namespace orvello
