#pragma once

#include <QJsonValue>
#include <QStringView>

#include <vector>

namespace orvello::generic {

// The deepest nesting of objects and arrays read out of a script or a JSON text; deeper
// values are passed over whole and read as undefined.
inline constexpr int kMaxScriptNesting = 32;

// Reads the JavaScript literal at the start of `text` (after blanks and comments) as the JSON
// value it stands for: objects with quoted or unquoted keys, arrays, strings in single,
// double or back quotes (with their escapes decoded), numbers, true, false and null. What
// is not a literal (a variable, a call, a sum, a function, a template with ${...}) reads as
// undefined, and an object leaves such members out. Every step moves forward through the
// text, so the work is linear in its length whatever it holds.
QJsonValue ReadScriptValue(QStringView text);

// The player calls of a script, in order: for each `.setup(...)` (a JW Player setup) and
// `.src(...)` (a Video.js source), the value of its first argument, and for each
// `videojs(element, {...})` the value of its options. A call whose argument is not a literal
// gives undefined, so the caller still sees that the page sets up a player. At most
// `maxCalls` are read.
std::vector<QJsonValue> FindPlayerCalls(QStringView script, int maxCalls = 64);

} // namespace orvello::generic
