#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

namespace orvello {

// The largest response header block (status line and header lines with their line ends,
// without the empty line that ends the block) that a header request reads. A longer block
// is not read; only the status code is used then.
inline constexpr qsizetype kHeaderBlockLimit = 1024;

// What a header request learns from a response header block.
struct HeaderValues {
    bool fileExists = false;
    QString lastModified;
    float fileSize = -1;
    QString remoteFileName;
    QString remoteFileType;
    // True when a Content-Length header was found but its value is not a number; fileSize
    // is -1 then, as if the header were missing.
    bool badContentLength = false;
};

// Whether a header line as libcurl hands it over (with its line end) is the empty line that
// ends a response's header block: CR LF, or a bare LF.
inline bool IsHeaderBlockEnd(const char* line, std::size_t length) {
    return (length == 2 && line[0] == '\r' && line[1] == '\n') || (length == 1 && line[0] == '\n');
}

// Reads the values out of a raw header block as the server sent it.
//
// Each key is searched for in a lower-case copy of the whole block; the value is cut from
// the block itself at the same place, from just after the key to the end of its line. A
// line normally ends in CR LF; a bare LF ends it too, and a value on the last line with no
// line end at all runs to the end of the block.
//  - "last-modified: "   the value, or "Not Available"
//  - "content-length: "  the value as a number, or -1 (also when it is not a number)
//  - "filename="         the rest of that line, quotes and later parameters included
//  - "content-type: "    the part of the value after its first "/" (all of it without one)
//  - the file exists unless the block holds "HTTP/1.1 404 Not Found" or
//    "HTTP/1.1 404 File Not Found", letter case ignored; every other status counts as found.
HeaderValues ReadHeaderBlock(const QByteArray& block);

} // namespace orvello
