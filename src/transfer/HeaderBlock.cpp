#include "transfer/HeaderBlock.h"

#include <QByteArrayView>
#include <QList>
#include <QStringDecoder>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

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

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The values of every field of the block named `name`, in their order. A line that begins
// with a blank continues the field above it and is joined to its value with one blank (the
// old folding of long header lines).
QList<QByteArray> FieldValues(const QByteArray& block, QByteArrayView name) {
    QList<QByteArray> values;
    bool inField = false; // the field being read is one named `name`
    qsizetype start = 0;
    while (start < block.size()) {
        qsizetype end = block.indexOf('\n', start);
        const qsizetype next = end < 0 ? block.size() : end + 1;
        if (end < 0)
            end = block.size();
        const QByteArrayView line = QByteArrayView(block).sliced(start, end - start);
        start = next;
        if (!line.isEmpty() && IsBlank(line.front())) {
            if (inField)
                values.last() += ' ' + line.trimmed().toByteArray();
            continue;
        }
        const qsizetype colon = line.indexOf(':');
        inField = colon > 0 && line.first(colon).compare(name, Qt::CaseInsensitive) == 0;
        if (inField)
            values.append(line.sliced(colon + 1).trimmed().toByteArray());
    }
    return values;
}

// A Content-Length value read strictly: digits alone, at most 2^63 - 1; -1 for anything
// else (a sign, a fraction, an exponent, a hexadecimal form, a list, nothing at all).
qint64 ContentLength(QByteArrayView value) {
    if (value.isEmpty())
        return -1;
    std::uint64_t n = 0;
    const char* end = value.data() + value.size();
    const auto [stop, error] = std::from_chars(value.data(), end, n, 10);
    if (error != std::errc() || stop != end || n > std::uint64_t(INT64_MAX))
        return -1;
    return qint64(n);
}

// The bytes as UTF-8 when they form valid UTF-8, else one character per byte.
QString Utf8OrLatin1(QByteArrayView bytes) {
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Every %XX with two hexadecimal digits becomes its byte; any other "%" stays as it is.
QByteArray PercentDecoded(QByteArrayView text) {
    QByteArray bytes;
    bytes.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
            HexValue(text[i + 2]) >= 0) {
            bytes += char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            bytes += text[i];
        }
    }
    return bytes;
}

// The name an extended value (charset'language'percent-encoded bytes) gives; none when its
// charset is neither UTF-8 nor ISO-8859-1 or it lacks either quote.
std::optional<QString> ExtendedValue(QByteArrayView value) {
    const qsizetype charsetEnd = value.indexOf('\'');
    const qsizetype languageEnd = charsetEnd < 0 ? -1 : value.indexOf('\'', charsetEnd + 1);
    if (languageEnd < 0)
        return std::nullopt;
    const QByteArrayView charset = value.first(charsetEnd).trimmed();
    const QByteArray bytes = PercentDecoded(value.sliced(languageEnd + 1));
    if (charset.compare("UTF-8", Qt::CaseInsensitive) == 0)
        return Utf8OrLatin1(bytes);
    if (charset.compare("ISO-8859-1", Qt::CaseInsensitive) == 0)
        return QString::fromLatin1(bytes);
    return std::nullopt;
}

// The parameter value that begins at `at` (just after its "="), with `at` moved past it: a
// quoted value up to its closing quote, a backslash taking the next byte as it is (a quote
// never closed runs to the end); a plain one up to the next ";", blanks around it trimmed.
QByteArray ParameterValue(QByteArrayView text, qsizetype& at) {
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    if (at < text.size() && text[at] == '"') {
        QByteArray value;
        for (++at; at < text.size() && text[at] != '"'; ++at) {
            if (text[at] == '\\' && at + 1 < text.size())
                ++at;
            value += text[at];
        }
        if (at < text.size())
            ++at; // the closing quote
        return value;
    }
    const qsizetype start = at;
    while (at < text.size() && text[at] != ';')
        ++at;
    return text.sliced(start, at - start).trimmed().toByteArray();
}

} // namespace

QByteArray HeaderField(const QByteArray& block, QByteArrayView name) {
    const QList<QByteArray> values = FieldValues(block, name);
    return values.isEmpty() ? QByteArray() : values.first();
}

std::optional<ContentRange> ReadContentRange(QByteArrayView value) {
    value = value.trimmed();
    if (!value.startsWith("bytes") || value.size() < 6 || !IsBlank(value[5]))
        return std::nullopt;
    value = value.sliced(6).trimmed();
    const qsizetype slash = value.indexOf('/');
    if (slash < 0)
        return std::nullopt;
    ContentRange range;
    const QByteArrayView total = value.sliced(slash + 1).trimmed();
    if (total != "*" && (range.total = ContentLength(total)) < 0)
        return std::nullopt;
    const QByteArrayView span = value.first(slash).trimmed();
    if (span == "*")
        return range.total >= 0 ? std::optional(range) : std::nullopt;
    const qsizetype dash = span.indexOf('-');
    if (dash < 0)
        return std::nullopt;
    range.first = ContentLength(span.first(dash));
    range.last = ContentLength(span.sliced(dash + 1));
    if (range.first < 0 || range.last < range.first ||
        (range.total >= 0 && range.last >= range.total))
        return std::nullopt;
    return range;
}

QByteArray RangeValidator(const QByteArray& block) {
    const QByteArray etag = HeaderField(block, "ETag");
    if (etag.size() >= 2 && etag.startsWith('"') && etag.endsWith('"'))
        return etag; // strong; a weak one begins with W/
    return HeaderField(block, "Last-Modified");
}

qint64 RetryAfterSeconds(const QByteArray& block, const QDateTime& now) {
    const QByteArray value = HeaderField(block, "Retry-After");
    if (value.isEmpty())
        return -1;
    const qint64 seconds = ContentLength(value);
    if (seconds >= 0)
        return seconds;
    const QDateTime at = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
    return at.isValid() ? std::max<qint64>(now.secsTo(at), 0) : -1;
}

QString DispositionFileName(const QByteArray& headerValue) {
    const QByteArrayView text(headerValue);
    std::optional<QString> plain;
    std::optional<QString> extended;
    qsizetype at = 0;
    // Each turn reads one item (the type or a parameter) and leaves `at` past its ";", so
    // every turn moves on.
    while (at < text.size()) {
        qsizetype sign = at;
        while (sign < text.size() && text[sign] != '=' && text[sign] != ';')
            ++sign;
        const QByteArrayView name = text.sliced(at, sign - at).trimmed();
        at = sign + 1;
        if (sign == text.size() || text[sign] == ';')
            continue; // an item without a value: the type, or a stray word
        const QByteArray value = ParameterValue(text, at);
        while (at < text.size() && text[at] != ';') // anything after a closing quote
            ++at;
        ++at;
        if (!plain && name.compare("filename", Qt::CaseInsensitive) == 0)
            plain = Utf8OrLatin1(value);
        else if (!extended && name.compare("filename*", Qt::CaseInsensitive) == 0)
            extended = ExtendedValue(value);
    }
    if (extended && !extended->isEmpty())
        return *extended;
    return plain.value_or(QString());
}

HeaderValues ReadHeaderBlock(const QByteArray& block) {
    HeaderValues v;
    const QByteArray lower = block.toLower(); // ASCII only, so positions match the block

    // "Last Modified: " has the same length, which is why the length is given separately.
    if (const qsizetype at = lower.indexOf("last-modified: "); at >= 0)
        v.lastModified = QString::fromLatin1(valueAt(block, at, 15));
    else
        v.lastModified = QStringLiteral("Not Available");

    // Every Content-Length field must give the same length, or the length is unknown.
    const QList<QByteArray> lengths = FieldValues(block, "content-length");
    for (const QByteArray& value : lengths) {
        const qint64 length = ContentLength(value);
        if (length < 0 || (v.length >= 0 && length != v.length)) {
            v.length = -1;
            v.badContentLength = true;
            break;
        }
        v.length = length;
    }
    v.fileSize = v.length >= 0 ? float(v.length) : -1.0f;

    for (const QByteArray& value : FieldValues(block, "content-disposition")) {
        v.remoteFileName = DispositionFileName(value);
        if (!v.remoteFileName.isEmpty())
            break;
    }

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
