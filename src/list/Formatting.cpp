#include "list/Formatting.h"

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

QString CleanFileName(const QString& value) {
    static const char16_t kRemoved[] = {u'\\', u'/', u':', u'*', u'?',
                                        u'"',  u'<', u'>', u'|', u'&'};
    QString text = value;
    for (char16_t c : kRemoved)
        text.remove(QChar(c));
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
