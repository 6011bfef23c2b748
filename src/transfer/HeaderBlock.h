#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <cstddef>
#include <optional>

namespace orvello {

// The largest response header block (status line and header lines with their line ends,
// without the empty line that ends the block) that a header request reads. A longer block
// is not read; only the status code is used then.
inline constexpr qsizetype kHeaderBlockLimit = 1024;

// What a header request learns from a response header block.
struct HeaderValues {
    bool fileExists = false;
    QString lastModified;
    // The Content-Length in single precision, which the size text is rendered from; -1 when
    // there is none.
    float fileSize = -1;
    // The Content-Length exactly; -1 when there is none.
    qint64 length = -1;
    QString remoteFileName;
    QString remoteFileType;
    // True when a Content-Length header was found but gives no length: its value is not
    // digits alone (blanks around them aside), the number does not fit 63 bits, or two such
    // headers differ. fileSize and length are -1 then, as if the header were missing.
    bool badContentLength = false;
};

// Whether a header line as libcurl hands it over (with its line end) is the empty line that
// ends a response's header block: CR LF, or a bare LF.
inline bool IsHeaderBlockEnd(const char* line, std::size_t length) {
    return (length == 2 && line[0] == '\r' && line[1] == '\n') || (length == 1 && line[0] == '\n');
}

// Reads the values out of a raw header block as the server sent it. A line normally ends in
// CR LF; a bare LF ends it too, and the last line needs no line end at all.
//
// Two headers are read as fields: the name in any letter case, then ":", the value with the
// blanks around it trimmed; a line that begins with a blank continues the field above it.
//  - Content-Length       the length (see badContentLength), or -1
//  - Content-Disposition  the file name DispositionFileName reads from it; when the header
//                         comes more than once, the first that names a file
// The others are searched for as keys in a lower-case copy of the whole block, and the value
// is cut from the block itself at the same place, from just after the key to the end of its
// line:
//  - "last-modified: "   the value, or "Not Available"
//  - "content-type: "    the part of the value after its first "/" (all of it without one)
//  - the file exists unless the block holds "HTTP/1.1 404 Not Found" or
//    "HTTP/1.1 404 File Not Found", letter case ignored; every other status counts as found.
HeaderValues ReadHeaderBlock(const QByteArray& block);

// The value of the first field of the block named `name` (letter case ignored), folded lines
// joined, blanks around it trimmed; a null array when there is none.
QByteArray HeaderField(const QByteArray& block, QByteArrayView name);

// What a Content-Range value says: "bytes first-last/total", or "bytes */total" for a range
// the server can't give (an answer 416). -1 for what is not known ("*" as the total).
struct ContentRange {
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1;
};
// Nothing when the value is none of these forms, or its numbers don't fit or disagree.
std::optional<ContentRange> ReadContentRange(QByteArrayView value);

// The validators a resumed request sends back in If-Range: the ETag when it is strong (a weak
// one, W/"...", can't validate a byte range), else the Last-Modified date; empty when the
// answer gave neither.
QByteArray RangeValidator(const QByteArray& block);

// The seconds a Retry-After field asks to wait (a number of seconds, or an HTTP date later than
// `now`); -1 when there is none or it can't be read.
qint64 RetryAfterSeconds(const QByteArray& block, const QDateTime& now);

// The file name a Content-Disposition value gives, or the empty text.
//
// The value is a type and parameters, each after a ";" (an item without "=" is passed by).
// A parameter's value is either quoted, up to its closing quote with a backslash taking the
// next character as it is (a quote never closed runs to the end), or plain, up to the next
// ";" with the blanks around it trimmed. "filename*" (charset'language'percent-encoded, for
// the charsets UTF-8 and ISO-8859-1) wins over "filename"; of a parameter given twice the
// first counts. Bytes are read as UTF-8 when they form valid UTF-8 and as Latin-1 when they
// don't, except under a declared ISO-8859-1, which is Latin-1. The name comes back as the
// server gave it; the caller makes it fit for a file name. Every byte of the value is read a
// bounded number of times, so any value is read in time linear in its length.
QString DispositionFileName(const QByteArray& headerValue);

} // namespace orvello
