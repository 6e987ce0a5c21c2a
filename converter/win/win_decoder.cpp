#include "converter/win/win_decoder.h"

#include <limits>
#include <utility>

#include "common/calendar/calendar.h"

namespace tremcvt {
namespace {

constexpr std::size_t kTimeBytes = 6;
constexpr std::size_t kShortHeaderBytes = 4;
constexpr std::size_t kLongHeaderBytes = 5;
constexpr std::size_t kFirstSampleBytes = 4;
constexpr std::uint8_t kLongHeaderFlag = 0x80;
constexpr std::size_t kNoLength = std::numeric_limits<std::size_t>::max();

int fromBcd(std::uint8_t value) { return (value >> 4) * 10 + (value & 0x0F); }

// Two-digit years as WIN recorders write them: 70-99 are the last century.
int fullYear(int twoDigits) { return twoDigits >= 70 ? 1900 + twoDigits : 2000 + twoDigits; }

std::uint32_t readU32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

float toFloat(std::uint32_t value) { return static_cast<float>(static_cast<std::int32_t>(value)); }

// Bytes that follow the first-sample field of a channel block of n samples.
std::size_t trailingBytes(int sizeCode, std::size_t n)
{
    if (sizeCode > kWinSizeAbsolute) return kNoLength;
    if (n <= 1) return 0;
    const std::size_t rest = n - 1;
    switch (sizeCode) {
    case kWinSize4Bit: return (rest + 1) / 2;
    case kWinSize8Bit: return rest;
    case kWinSize16Bit: return 2 * rest;
    case kWinSize24Bit: return 3 * rest;
    default: return 4 * rest;  // 32-bit differences and absolute values
    }
}

// Each loop below writes out[1] .. out[n-1] from the differences at p; out[0]
// already holds the first sample, acc its integer value.

void decode4Bit(const std::uint8_t* p, std::size_t n, std::uint32_t acc, float* out)
{
    const std::size_t rest = n - 1;
    const std::size_t pairs = rest / 2;
    float* o = out + 1;
    for (std::size_t i = 0; i < pairs; ++i) {
        const std::uint8_t b = p[i];
        acc += static_cast<std::uint32_t>(static_cast<std::int8_t>(b) >> 4);
        o[0] = toFloat(acc);
        acc += static_cast<std::uint32_t>(static_cast<std::int8_t>(static_cast<std::uint8_t>(b << 4)) >> 4);
        o[1] = toFloat(acc);
        o += 2;
    }
    if (rest % 2 != 0) {
        acc += static_cast<std::uint32_t>(static_cast<std::int8_t>(p[pairs]) >> 4);
        *o = toFloat(acc);
    }
}

void decode8Bit(const std::uint8_t* p, std::size_t n, std::uint32_t acc, float* out)
{
    for (std::size_t i = 1; i < n; ++i) {
        acc += static_cast<std::uint32_t>(static_cast<std::int8_t>(p[i - 1]));
        out[i] = toFloat(acc);
    }
}

void decode16Bit(const std::uint8_t* p, std::size_t n, std::uint32_t acc, float* out)
{
    for (std::size_t i = 1; i < n; ++i, p += 2) {
        const auto d = static_cast<std::int16_t>((p[0] << 8) | p[1]);
        acc += static_cast<std::uint32_t>(d);
        out[i] = toFloat(acc);
    }
}

void decode24Bit(const std::uint8_t* p, std::size_t n, std::uint32_t acc, float* out)
{
    for (std::size_t i = 1; i < n; ++i, p += 3) {
        // Place the 24 bits at the top and shift back to sign-extend.
        const auto top = (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                         (std::uint32_t{p[2]} << 8);
        acc += static_cast<std::uint32_t>(static_cast<std::int32_t>(top) >> 8);
        out[i] = toFloat(acc);
    }
}

void decode32Bit(const std::uint8_t* p, std::size_t n, std::uint32_t acc, float* out)
{
    for (std::size_t i = 1; i < n; ++i, p += 4) {
        acc += readU32(p);
        out[i] = toFloat(acc);
    }
}

void decodeAbsolute(const std::uint8_t* p, std::size_t n, float* out)
{
    for (std::size_t i = 1; i < n; ++i, p += 4) out[i] = toFloat(readU32(p));
}

}  // namespace

void decodeSecondBlock(const std::uint8_t* body, std::size_t length, ChannelTable& table)
{
    if (body == nullptr || length <= kTimeBytes) return;

    const double blockTime =
        secondsFromCivil(fullYear(fromBcd(body[0])), fromBcd(body[1]), fromBcd(body[2]),
                         fromBcd(body[3]), fromBcd(body[4]), static_cast<float>(fromBcd(body[5])));

    std::size_t pos = kTimeBytes;
    std::size_t next = 0;
    while (pos < length) {
        const std::uint8_t* block = body + pos;
        const std::size_t left = length - pos;
        if (left < kShortHeaderBytes) return;

        const bool longHeader = (block[2] & kLongHeaderFlag) != 0;
        const std::size_t headerBytes = longHeader ? kLongHeaderBytes : kShortHeaderBytes;
        if (left < headerBytes + kFirstSampleBytes) return;

        const auto channelId = static_cast<std::uint16_t>((block[0] << 8) | block[1]);
        const int sizeCode = (block[2] >> 4) & 0x07;
        const std::size_t n =
            longHeader ? (std::size_t{block[2] & 0x0Fu} << 16) | (std::size_t{block[3]} << 8) | block[4]
                       : (std::size_t{block[2] & 0x0Fu} << 8) | block[3];
        const std::size_t trailing = trailingBytes(sizeCode, n);
        if (trailing == kNoLength || trailing > left - headerBytes - kFirstSampleBytes) return;

        const std::uint8_t* first = block + headerBytes;
        const std::uint8_t* data = first + kFirstSampleBytes;

        // Channels keep their order from one second block to the next, so
        // the record after the previous channel block's is tried first.
        const std::size_t index =
            next < table.size() && table[next].channelId == channelId ? next : table.indexOf(channelId);
        if (index == table.size()) {
            ChannelTrace fresh;
            fresh.sps = static_cast<std::int32_t>(n);
            fresh.firstSizeCode = sizeCode;
            fresh.channelId = channelId;
            fresh.startTime = blockTime;
            fresh.endTime = blockTime;
            table.append(std::move(fresh));
        }
        next = index + 1;
        ChannelTrace* record = &table[index];
        record->endTime += 1.0;
        if (n > 0) {
            float* out = table.appendSamples(*record, n);
            const std::uint32_t acc = readU32(first);
            out[0] = toFloat(acc);
            if (n > 1) {
                switch (sizeCode) {
                case kWinSize4Bit: decode4Bit(data, n, acc, out); break;
                case kWinSize8Bit: decode8Bit(data, n, acc, out); break;
                case kWinSize16Bit: decode16Bit(data, n, acc, out); break;
                case kWinSize24Bit: decode24Bit(data, n, acc, out); break;
                case kWinSize32Bit: decode32Bit(data, n, acc, out); break;
                default: decodeAbsolute(data, n, out); break;
                }
            }
        }

        // A block that follows its channel's last one at the same rate
        // extends that run; any other starts a new run, which
        // finishChannels puts in its place. (Done after the samples, so that
        // a new channel's small run list is allocated after its sample
        // buffer: in that order a regular minute file decodes measurably
        // faster.)
        const auto sps = static_cast<std::int32_t>(n);
        std::vector<TraceSegment>& runs = record->segments;
        if (runs.empty() || runs.back().endTime() != blockTime || runs.back().sps != sps) {
            runs.push_back({blockTime, sps, record->samples.size() - n, 0, 0});
        }
        TraceSegment& run = runs.back();
        run.sampleCount += n;
        run.seconds += 1;

        pos += headerBytes + kFirstSampleBytes + trailing;
    }
}

}  // namespace tremcvt
