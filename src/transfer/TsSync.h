#pragma once

#include <QByteArrayView>

namespace orvello {

// MPEG-TS packets are 188 bytes long, each starting with the sync byte 0x47.
inline constexpr qsizetype kTsPacketBytes = 188;
// How far into a segment its first packet is looked for.
inline constexpr qsizetype kTsSyncSearchBytes = 8 * 1024;

// Where an MPEG-TS segment's packets begin, so bytes some hosts put in front of them (a small
// picture) can be cut: the first offset within the first kTsSyncSearchBytes at which the sync
// byte starts three packets in a row; a segment holding fewer than three packets from there
// must be whole packets to its end, each starting with the sync byte. 0 when the segment
// already starts there; -1 when there is no such offset (the segment is not MPEG-TS).
qsizetype TsStart(QByteArrayView segment);

} // namespace orvello
