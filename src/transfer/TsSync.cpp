#include "transfer/TsSync.h"

#include <algorithm>

namespace orvello {

namespace {

constexpr char kSync = 0x47;
constexpr qsizetype kPacketsInARow = 3;

bool PacketsStartAt(QByteArrayView segment, qsizetype offset) {
    const qsizetype rest = segment.size() - offset;
    const qsizetype packets = rest / kTsPacketBytes;
    if (packets == 0 || (packets < kPacketsInARow && rest % kTsPacketBytes != 0))
        return false;
    for (qsizetype i = 0; i < std::min(packets, kPacketsInARow); ++i) {
        if (segment[offset + i * kTsPacketBytes] != kSync)
            return false;
    }
    return true;
}

} // namespace

qsizetype TsStart(QByteArrayView segment) {
    const qsizetype last = std::min(segment.size(), kTsSyncSearchBytes);
    for (qsizetype offset = 0; offset < last; ++offset) {
        if (segment[offset] == kSync && PacketsStartAt(segment, offset))
            return offset;
    }
    return -1;
}

} // namespace orvello
