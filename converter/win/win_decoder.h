// Decoding of WIN second blocks. Pure: bytes in, ChannelTable out; no I/O and
// no printing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "converter/win/channel_table.h"

namespace tremcvt {

// Sample-size codes of a channel block (bits 6 to 4 of its third byte).
constexpr int kWinSize4Bit = 0;       // 4-bit differences, high nibble first
constexpr int kWinSize8Bit = 1;       // 8-bit differences
constexpr int kWinSize16Bit = 2;      // 16-bit differences
constexpr int kWinSize24Bit = 3;      // 24-bit differences
constexpr int kWinSize32Bit = 4;      // 32-bit differences
constexpr int kWinSizeAbsolute = 5;   // n absolute 32-bit values, no differences
// Codes 6 and 7 have no defined length: the rest of their second block is lost.

// Decodes one second block's body (the block without its 4-byte length) of
// the given length and appends its channels' samples to table.
//
// The body starts with six BCD bytes (two-digit year, month, day, hour,
// minute, second); years 70-99 are 1970-1999 and 00-69 are 2000-2069. Channel
// blocks follow, each with a 4-byte header (channel number, size code, 12-bit
// count n) or, when bit 7 of its third byte is set, a 5-byte header with a
// 20-bit n. Samples are summed in 32-bit wrap-around arithmetic.
//
// Nothing is read beyond length bytes: a channel block that runs past the end
// of the body, or one with size code 6 or 7, is dropped together with the
// rest of the body, and the channel blocks decoded before it are kept.
//
// Each channel block's samples belong to the block's second: a block that
// follows its channel's previous one by one second at the same n extends
// the channel's last segment, any other block starts a new one. The
// segments stay in file order until finishChannels.
void decodeSecondBlock(const std::uint8_t* body, std::size_t length, ChannelTable& table);

// Completes every channel after the file's last block: its blocks in time
// order, each second once (the copy that came first in the file), grouped in
// segments of consecutive seconds at one n; startTime and endTime from the
// first and last segment; the irregularities found. The samples of a channel
// whose blocks came in time order without repeats are not touched (a
// regular file costs a pass over its segments only); the others are copied
// once into their new order. sps and firstSizeCode keep the values of the
// channel's first block in the file. Calling it again changes nothing. A
// trace put together without the decoder (no segments, endTime after
// startTime) is given one segment of all its samples.
void finishChannels(ChannelTable& table);

}  // namespace tremcvt
