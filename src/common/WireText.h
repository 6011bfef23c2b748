#pragma once

#include <QByteArray>
#include <QString>

namespace orvello {

// The bytes an address is sent as. Every request Orvello makes (the transfer component's
// header request and transfer, the redirect's hand-made request) converts its address here,
// so one address always leaves as the same bytes.
//
// Characters: up to U+00FF each becomes that one byte, so bytes read from a page (kept as
// Latin-1 text) go back out unchanged; above U+00FF a character becomes its UTF-8 bytes, a
// lone surrogate those of U+FFFD.
//
// Then, after the authority (path, query and fragment), every byte an address can't carry
// is written as %XX with upper-case hex: 0x00-0x20 (the blank included), 0x7F-0xFF and
// `"` `<` `>` `\` `^` `` ` `` `{` `|` `}`. A `%` already there is kept as it is, so an
// address that is already encoded is not encoded twice; all other ASCII stays.
//
// The authority (scheme://user@host:port, or everything up to the first '/', '?' or '#'
// when the address names no scheme) is never percent-encoded, since a host holding '%'
// can't be looked up; characters above U+007F there become UTF-8.
QByteArray WireUrl(const QString& url);

// A request target (path and query, no authority): the character and percent rules above.
QByteArray WireTarget(const QString& pathAndQuery);

// A host, or a whole authority, as a Host line carries it: characters above U+007F become
// UTF-8, nothing is percent-encoded.
QByteArray WireHost(const QString& host);

} // namespace orvello
