#include "list/Formatting.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

namespace orvello {

namespace {

// A number in the general format of a single-precision value: up to seven significant
// digits, no trailing zeros, no thousands separator, '.' as decimal separator.
QString generalNumber(double value, int digits) {
    QString s = QString::number(value, 'g', digits);
    return s.toUpper(); // exponent form reads 1E+10, never 1e+10
}

// value rounded to one decimal place, halves to the even digit. The scaling by 10 is
// exact for every value that comes from a single-precision count divided by a power of
// two, so the tie test works on the true value.
double roundOneDecimal(double value) {
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double r = std::nearbyint(value * 10.0) / 10.0;
    std::fesetround(mode);
    return r;
}

QString withUnit(double rounded, const char* unit) {
    return generalNumber(rounded, 15) + QLatin1String(unit);
}

} // namespace

QString FormatFileSize(float size) {
    constexpr float kKiB = 1024.0f;
    constexpr double kMiB = 1048576.0;
    constexpr double kGiB = 1073741824.0;
    constexpr double kTiB = 1099511627776.0;

    if (!(size >= kKiB))
        return generalNumber(double(size), 7) + QLatin1String(" Bytes");
    if (!(size >= float(kMiB)))
        return withUnit(roundOneDecimal(double(size / kKiB)), " KB");
    if (!(double(size) >= kGiB))
        return withUnit(roundOneDecimal(double(size) / kMiB), " MB");
    if (double(size) < kTiB)
        return withUnit(roundOneDecimal(double(size) / kGiB), " GB");
    return QString();
}

namespace {

constexpr qsizetype kMaxExtensionBytes = 32;

qsizetype Utf8Bytes(QStringView text) {
    qsizetype n = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < 0x80)
            n += 1;
        else if (c < 0x800)
            n += 2;
        else if (QChar::isHighSurrogate(c) && i + 1 < text.size() &&
                 QChar::isLowSurrogate(text[i + 1].unicode())) {
            n += 4;
            ++i;
        } else
            n += 3;
    }
    return n;
}

// The longest start of `text` that takes at most maxBytes bytes of UTF-8, never ending
// between the two halves of a character outside the basic plane.
QString HeadWithin(QStringView text, qsizetype maxBytes) {
    qsizetype used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const bool pair =
            text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate();
        const qsizetype width = pair ? 2 : 1;
        const qsizetype bytes = Utf8Bytes(text.mid(i, width));
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += width;
    }
    return text.left(i).toString();
}

// The position of the extension's dot, or the name's length when it has none.
qsizetype ExtensionStart(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot <= 0 || Utf8Bytes(QStringView(name).mid(dot)) > kMaxExtensionBytes)
        return name.size();
    return dot;
}

} // namespace

QString FitFileName(const QString& name, qsizetype maxBytes) {
    if (Utf8Bytes(name) <= maxBytes)
        return name;
    const qsizetype dot = ExtensionStart(name);
    const QStringView extension = QStringView(name).mid(dot);
    const qsizetype room = std::max<qsizetype>(maxBytes - Utf8Bytes(extension), 0);
    return HeadWithin(QStringView(name).left(dot), room) + extension.toString();
}

QString NumberedFileName(const QString& name, int n, qsizetype maxBytes) {
    if (n <= 1)
        return FitFileName(name, maxBytes);
    const qsizetype dot = ExtensionStart(name);
    const QString tail = QStringLiteral(" (%1)").arg(n) + name.mid(dot);
    const qsizetype room = std::max<qsizetype>(maxBytes - Utf8Bytes(tail), 0);
    return HeadWithin(QStringView(name).left(dot), room) + tail;
}

QString CleanFileName(const QString& value) {
    static const char16_t kRemoved[] = {u'\\', u'/', u':', u'*', u'?',
                                        u'"',  u'<', u'>', u'|', u'&'};
    QString text = value;
    for (char16_t c : kRemoved)
        text.remove(QChar(c));
    // Control characters would run as terminal commands when the folder is listed; the C1
    // ones (U+0080 to U+009F) too, since a terminal may read them as escape sequences.
    text.removeIf([](QChar c) {
        const char16_t u = c.unicode();
        return u < 0x20 || (u >= 0x7F && u <= 0x9F);
    });
    // A leading dot hides the file, and may make it stand for a file the user keeps.
    qsizetype dots = 0;
    while (dots < text.size() && text[dots] == u'.')
        ++dots;
    text.remove(0, dots);
    text = FitFileName(text);
    bool onlyDotsAndBlanks = true;
    for (QChar c : text) {
        if (c != u'.' && c != u' ') {
            onlyDotsAndBlanks = false;
            break;
        }
    }
    if (onlyDotsAndBlanks) // also true for the empty text
        return kEnterFileName;
    return text;
}

QString CleanFileName(const QVariant& value) {
    if (!value.canConvert<QString>())
        return kEnterFileName;
    return CleanFileName(value.toString());
}

} // namespace orvello
