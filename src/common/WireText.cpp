#include "common/WireText.h"

#include <QStringView>

namespace orvello {

namespace {

void AppendUtf8(QByteArray& out, char32_t c) {
    if (c < 0x80) {
        out.append(char(c));
    } else if (c < 0x800) {
        out.append(char(0xC0 | (c >> 6)));
        out.append(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.append(char(0xE0 | (c >> 12)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    } else {
        out.append(char(0xF0 | (c >> 18)));
        out.append(char(0x80 | ((c >> 12) & 0x3F)));
        out.append(char(0x80 | ((c >> 6) & 0x3F)));
        out.append(char(0x80 | (c & 0x3F)));
    }
}

// Characters up to `singleByteMax` become that one byte, all others their UTF-8 bytes.
QByteArray ToBytes(QStringView text, char32_t singleByteMax) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (QChar::isSurrogate(c)) {
            c = 0xFFFD;
        }
        if (c <= singleByteMax)
            out.append(char(c));
        else
            AppendUtf8(out, c);
    }
    return out;
}

bool NeedsEscape(unsigned char b) {
    if (b <= 0x20 || b >= 0x7F)
        return true;
    switch (b) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return true;
    default:
        return false;
    }
}

QByteArray Escape(const QByteArray& bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (NeedsEscape(b)) {
            out.append('%');
            out.append(kHex[b >> 4]);
            out.append(kHex[b & 0xF]);
        } else {
            out.append(ch);
        }
    }
    return out;
}

// A scheme name: an ASCII letter, then letters, digits, '+', '-' or '.'.
bool IsScheme(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        const bool letter = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
        const bool other = (u >= '0' && u <= '9') || u == '+' || u == '-' || u == '.';
        if (!letter && (i == 0 || !other))
            return false;
    }
    return !text.isEmpty();
}

// Where the authority ends: the first '/', '?' or '#' after "scheme://", or from the start
// when the address names no scheme.
qsizetype AuthorityEnd(QStringView url) {
    qsizetype from = 0;
    const qsizetype separator = url.indexOf(u"://");
    if (separator > 0 && IsScheme(url.left(separator)))
        from = separator + 3;
    for (qsizetype i = from; i < url.size(); ++i) {
        const char16_t u = url[i].unicode();
        if (u == '/' || u == '?' || u == '#')
            return i;
    }
    return url.size();
}

} // namespace

QByteArray WireUrl(const QString& url) {
    const QStringView text(url);
    const qsizetype end = AuthorityEnd(text);
    return ToBytes(text.left(end), 0x7F) + Escape(ToBytes(text.mid(end), 0xFF));
}

QByteArray WireTarget(const QString& pathAndQuery) {
    return Escape(ToBytes(pathAndQuery, 0xFF));
}

QByteArray WireHost(const QString& host) {
    return ToBytes(host, 0x7F);
}

} // namespace orvello
