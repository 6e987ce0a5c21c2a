// The converter's table of decoded channels, one ChannelTrace per WIN
// channel, in order of first occurrence in the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/fixed_text.h"

namespace tremcvt {

// A run of consecutive seconds of one channel at one rate: its samples lie
// at startTime + i / sps and are samples[firstSample .. firstSample +
// sampleCount) of their ChannelTrace.
struct TraceSegment {
    double startTime = 0.0;        // seconds since 1970 of its first second
    std::int32_t sps = 0;          // n of each of its channel blocks
    std::size_t firstSample = 0;   // index of its first sample in ChannelTrace::samples
    std::size_t sampleCount = 0;   // seconds * sps
    std::int32_t seconds = 0;      // channel blocks it holds, one per second

    double endTime() const { return startTime + seconds; }
    bool operator==(const TraceSegment&) const = default;
};

enum class IrregularityKind {
    Gap,             // from .. to holds no block of the channel
    RepeatedSecond,  // the second at from occurred again; the later copy was dropped
    OutOfOrder,      // the block of the second at from came after a later second's block
    RateChange,      // from fromSps to toSps samples per second at from
};

// One irregularity of a channel's blocks. Times are seconds since 1970.
struct TraceIrregularity {
    IrregularityKind kind = IrregularityKind::Gap;
    double from = 0.0;         // gap: end of the segment before it; otherwise: the second concerned
    double to = 0.0;           // gap: start of the segment after it; otherwise: from + 1
    std::int32_t fromSps = 0;  // rate change only
    std::int32_t toSps = 0;    // rate change only
    bool differing = false;    // repeated second only: the dropped copy's samples differed

    bool operator==(const TraceIrregularity&) const = default;
};

struct ChannelTrace {
    std::int32_t sps = 0;            // n of the channel's first block in the file
    std::int32_t firstSizeCode = 0;  // sample-size code (0 to 5) of the channel's first block
    std::uint16_t channelId = 0;     // WIN channel number
    std::vector<float> samples;      // every kept sample, in time order (segment after segment)
    double startTime = 0.0;          // seconds since 1970 of the first segment
    // With one segment: startTime plus its seconds, one per channel block.
    // With several: the end of the last one, so endTime - startTime is the
    // span the channel covers, gaps included. (While blocks are still being
    // decoded: the first block's time plus the channel blocks so far.)
    double endTime = 0.0;
    FixedText<8> component;          // set from the station list
    FixedText<12> station;           // set from the command line
    // The channel's runs of consecutive seconds at one rate, in time order,
    // without overlap; a regular file gives one segment. While blocks are
    // still being decoded they are the runs in file order, which
    // finishChannels (win_decoder.h) puts in time order.
    std::vector<TraceSegment> segments;
    // What kept the channel from being one segment of its blocks in file
    // order: by kind (gaps, repeated seconds, out-of-order blocks, rate
    // changes), each kind in time order.
    std::vector<TraceIrregularity> irregularities;

    std::int32_t sampleCount() const { return static_cast<std::int32_t>(samples.size()); }
};

// The table owns every record and its samples. Records are found by channel
// number from the start and appended at the end.
class ChannelTable {
public:
    std::size_t size() const { return records_.size(); }
    bool empty() const { return records_.empty(); }
    ChannelTrace& operator[](std::size_t index) { return records_[index]; }
    const ChannelTrace& operator[](std::size_t index) const { return records_[index]; }

    // The first record of that channel number, or nullptr.
    ChannelTrace* find(std::uint16_t channelId);
    const ChannelTrace* find(std::uint16_t channelId) const;
    // The index of the first record of that channel number, or size().
    std::size_t indexOf(std::uint16_t channelId) const;
    ChannelTrace& append(ChannelTrace record);
    void clear() { records_.clear(); }

    // A hint from a caller that knows the file: about how many second blocks
    // are still to come (for example the file size over the first block's
    // length) and an upper bound on the samples the file can hold. A channel
    // seen for the first time then reserves room for that many of its first
    // block's samples at once, so a whole file is held without the slack of
    // repeated growth. The reservations of all channels together stay within
    // sampleBudget, so a hint from a corrupt file cannot reserve without
    // limit. Without a hint (the default) the samples simply grow.
    void setSizeHint(std::size_t expectedBlocks, std::size_t sampleBudget)
    {
        expectedBlocks_ = expectedBlocks;
        sampleBudget_ = sampleBudget;
    }

    // The hint for a file of fileBytes bytes whose first second block is
    // firstBlockBytes long (its length field included), to be given before
    // that block is decoded. A file holds at most two samples per byte.
    void setSizeHintForFile(std::uint64_t fileBytes, std::uint64_t firstBlockBytes);

    // Makes room for n more samples at the end of record.samples and returns
    // where they go. Growth is by half the current capacity at a time, which
    // keeps the slack of a long file well below doubling.
    float* appendSamples(ChannelTrace& record, std::size_t n);

    auto begin() { return records_.begin(); }
    auto end() { return records_.end(); }
    auto begin() const { return records_.begin(); }
    auto end() const { return records_.end(); }

private:
    std::vector<ChannelTrace> records_;
    std::size_t expectedBlocks_ = 0;
    std::size_t sampleBudget_ = 0;
};

}  // namespace tremcvt
