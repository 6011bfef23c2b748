#include "resolve/PageText.h"

namespace orvello::page {

qsizetype Find(const QString& text, QStringView what, qsizetype from) {
    if (from < 0 || from > text.size())
        return -1;
    return text.indexOf(what, from, Qt::CaseInsensitive);
}

qsizetype FindLastBefore(const QString& text, QStringView what, qsizetype before) {
    const qsizetype lastStart = std::min(before, text.size()) - what.size();
    // A negative start would make lastIndexOf count from the end of the text.
    if (lastStart < 0)
        return -1;
    return text.lastIndexOf(what, lastStart, Qt::CaseInsensitive);
}

std::optional<QString> CutUpTo(const QString& text, qsizetype start, QStringView delimiter,
                               qsizetype searchFrom) {
    const qsizetype end = Find(text, delimiter, searchFrom);
    if (end < 0 || start < 0 || end < start)
        return std::nullopt;
    return text.mid(start, end - start);
}

std::optional<QString> CutAfter(const QString& text, QStringView marker, QStringView delimiter) {
    const qsizetype at = Find(text, marker);
    if (at < 0)
        return std::nullopt;
    const qsizetype start = at + marker.size();
    return CutUpTo(text, start, delimiter, start);
}

QString ReplaceAll(QString text, QStringView what, QStringView with) {
    return text.replace(what.toString(), with.toString(), Qt::CaseInsensitive);
}

bool Contains(const QString& text, QStringView what) {
    return text.contains(what, Qt::CaseInsensitive);
}

} // namespace orvello::page
