#pragma once

#include <QString>

#include <optional>

namespace orvello::page {

// Text searches over a fetched page. Every search ignores letter case and finds the first
// occurrence at or after `from`; positions are 0-based and -1 means "not found".
qsizetype Find(const QString& text, QStringView what, qsizetype from = 0);

// The start of the last occurrence of `what` that lies wholly before position `before`
// (it ends at or before that position), or -1.
qsizetype FindLastBefore(const QString& text, QStringView what, qsizetype before);

// The text from `start` up to (not including) the first `delimiter` found at or after
// `searchFrom`; nothing when there is no such delimiter or the range would be negative.
std::optional<QString> CutUpTo(const QString& text, qsizetype start, QStringView delimiter,
                               qsizetype searchFrom);

// The text after the first `marker` up to the next `delimiter`, both searched from the
// start of the page; nothing when either is missing. The cut itself may be empty.
std::optional<QString> CutAfter(const QString& text, QStringView marker, QStringView delimiter);

// Replaces every occurrence of `what` (letter case ignored) with `with`.
QString ReplaceAll(QString text, QStringView what, QStringView with);

bool Contains(const QString& text, QStringView what);

} // namespace orvello::page
