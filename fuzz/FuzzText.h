#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace orvello::fuzz {

// The bytes as text one character per byte, as pages and answers are read.
inline QString Latin1Text(const uint8_t* data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
}

// The bytes as UTF-16 code units (a trailing odd byte dropped), so any character reaches the
// function under test, lone surrogates included.
inline QString Utf16Text(const uint8_t* data, size_t size) {
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, (size / 2) * 2);
    return text;
}

// Ends the run as a crash, so libFuzzer keeps the input.
inline void Require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace orvello::fuzz
