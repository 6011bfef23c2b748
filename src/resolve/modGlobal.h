#pragma once

#include <QString>

namespace orvello {

// Splits a web address into its host and its path.
// A leading "http://" (any letter case) is removed first; no other scheme is recognised, so
// an "https://" address keeps its scheme text in the host part. The split is at the first
// "/": `address` keeps what comes before it, `path` gets the rest, the "/" included.
// When there is no "/", `address` is the whole (stripped) text and `path` is left as the
// caller had it.
void SplitUrl(QString& address, QString& path);

} // namespace orvello
