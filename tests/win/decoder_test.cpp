// Decoding of WIN second blocks: sample widths, channel headers, bookkeeping
// of the channel table and damaged blocks. Expected samples come from the
// WIN writer or from bytes laid out by hand in the test.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "common/calendar/calendar.h"
#include "converter/win/channel_table.h"
#include "converter/win/win_decoder.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kSentinel = 0x0BAD;

// Decodes from an exactly sized heap copy, so that AddressSanitizer reports
// any read past the body.
void decode(const Bytes& body, ChannelTable& table, std::size_t length)
{
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[length > 0 ? length : 1]);
    std::copy(body.begin(), body.begin() + static_cast<std::ptrdiff_t>(length), copy.get());
    decodeSecondBlock(copy.get(), length, table);
}

void decode(const Bytes& body, ChannelTable& table) { decode(body, table, body.size()); }

// A body: the time bytes of 2010-03-03 02:00:00 followed by the given bytes.
Bytes body(const Bytes& channelBlocks, Bytes time = {0x10, 0x03, 0x03, 0x02, 0x00, 0x00})
{
    time.insert(time.end(), channelBlocks.begin(), channelBlocks.end());
    return time;
}

// The body of a writer-made second block (its 4-byte length stripped).
Bytes writtenBody(const WinSecond& second)
{
    Bytes block;
    if (!appendSecondBlock(second, block)) {
        ADD_FAILURE() << "the writer refused a second block";
        return {};
    }
    return Bytes(block.begin() + 4, block.end());
}

std::vector<float> asFloats(const std::vector<std::int32_t>& values)
{
    return std::vector<float>(values.begin(), values.end());
}

// Samples whose differences cycle through up, down and 0, so that both ends
// of a width's range occur (in 32-bit wrap-around arithmetic).
std::vector<std::int32_t> walk(std::size_t n, std::int32_t first, std::int32_t up, std::int32_t down)
{
    std::vector<std::int32_t> out;
    std::uint32_t value = static_cast<std::uint32_t>(first);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(static_cast<std::int32_t>(value));
        const std::int32_t d = (i % 3 == 0) ? up : (i % 3 == 1 ? down : 0);
        value += static_cast<std::uint32_t>(d);
    }
    return out;
}

TEST(WinDecoder, DecodesEverySampleWidthAndFindsTheNextChannelBlock)
{
    struct Case {
        const char* name;
        int sizeCode;
        bool longHeader;
        std::vector<std::int32_t> samples;
    };
    const std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
    const std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
    const std::vector<Case> cases = {
        {"4-bit, even n", 0, false, walk(100, -3, 7, -8)},
        {"4-bit, odd n", 0, false, walk(101, 5, 7, -8)},
        {"4-bit, n 2", 0, false, {1, -7}},
        {"4-bit, n 3", 0, false, {1, -7, 0}},
        {"8-bit", 1, false, walk(100, 1000, 127, -128)},
        {"16-bit", 2, false, walk(100, -20000, 32767, -32768)},
        {"24-bit", 3, false, walk(100, 123456, 8388607, -8388608)},
        {"32-bit", 4, false, walk(100, -5, kMax, kMin)},
        {"absolute values", 5, false, {kMin, kMax, 0, -1, 16777217, 7}},
        {"n above 255", 2, false, walk(1000, 0, 300, -29000)},
        {"n 4095 in a short header", 1, false, walk(4095, 0, 1, -100)},
        {"n 0", 2, false, {}},
        {"n 1", 3, false, {-42}},
        {"n 1, absolute", 5, false, {kMin}},
        {"32-bit wrap-around", 0, false, {kMax - 1, kMax, kMin, kMin + 1, kMax}},
        {"wrap-around in 32-bit differences", 4, false, {kMin, kMax, kMin, 0}},
        {"5-byte header, 4096 samples", 2, true, walk(4096, 7, 3000, -3000)},
        {"5-byte header, 20-bit n", 1, true, walk(70000, -9, 100, -100)},
        {"5-byte header, small n", 0, true, walk(20, 0, 1, -2)},
        {"5-byte header, absolute", 5, true, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WinSecond second;
        second.channels.push_back({0x00C1, c.samples, c.sizeCode, c.longHeader});
        second.channels.push_back({kSentinel, {11, 12, 13}, 1, false});
        ChannelTable table;
        decode(writtenBody(second), table);

        ASSERT_EQ(table.size(), 2u);
        const ChannelTrace& trace = table[0];
        EXPECT_EQ(trace.channelId, 0x00C1);
        EXPECT_EQ(trace.firstSizeCode, c.sizeCode);
        EXPECT_EQ(trace.sps, static_cast<std::int32_t>(c.samples.size()));
        EXPECT_EQ(trace.sampleCount(), static_cast<std::int32_t>(c.samples.size()));
        EXPECT_EQ(trace.samples, asFloats(c.samples));
        // The block after it decodes only when its start was found exactly.
        EXPECT_EQ(table[1].channelId, kSentinel);
        EXPECT_EQ(table[1].samples, (std::vector<float>{11, 12, 13}));
    }
}

TEST(WinDecoder, DecodesHandMadeChannelBlocks)
{
    struct Case {
        const char* name;
        Bytes blocks;
        std::vector<float> samples;
        int sizeCode;
        std::int32_t sps;
    };
    const std::vector<Case> cases = {
        // 4 samples from 10 with nibbles 1, F, E (and padding): the next
        // channel block follows at offset 10.
        {"4-bit even n", {0x00, 0x01, 0x00, 0x04, 0, 0, 0, 10, 0x1F, 0xE0}, {10, 11, 10, 8}, 0, 4},
        {"4-bit odd n uses every nibble", {0x00, 0x01, 0x00, 0x05, 0, 0, 0, 10, 0x1F, 0xE7}, {10, 11, 10, 8, 15}, 0, 5},
        {"16-bit FF FE is -2", {0x00, 0x01, 0x20, 0x02, 0, 0, 0, 5, 0xFF, 0xFE}, {5, 3}, 2, 2},
        {"24-bit +1 and -1", {0x00, 0x01, 0x30, 0x03, 0, 0, 0, 5, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF}, {5, 6, 5}, 3, 3},
        {"32-bit from a negative first sample",
         {0x00, 0x01, 0x40, 0x02, 0xFF, 0xFF, 0xFF, 0xFE, 0x00, 0x00, 0x01, 0x00},
         {-2, 254}, 4, 2},
        {"absolute 32-bit values", {0x00, 0x01, 0x50, 0x02, 0x00, 0x00, 0x00, 0x07, 0x80, 0x00, 0x00, 0x00},
         {7, -2147483648.0f}, 5, 2},
        {"5-byte header with n 2", {0x00, 0x01, 0x90, 0x00, 0x02, 0, 0, 0, 1, 0xFF}, {1, 0}, 1, 2},
        {"n 0 occupies the first-sample field", {0x00, 0x01, 0x10, 0x00, 0x12, 0x34, 0x56, 0x78}, {}, 1, 0},
        {"a sample beyond 2^24 rounds to the nearest float", {0x00, 0x01, 0x10, 0x01, 0x01, 0x00, 0x00, 0x03}, {16777220.0f}, 1, 1},
    };
    const Bytes sentinel = {0x0B, 0xAD, 0x10, 0x02, 0, 0, 0, 1, 0x01};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes blocks = c.blocks;
        blocks.insert(blocks.end(), sentinel.begin(), sentinel.end());
        ChannelTable table;
        decode(body(blocks), table);
        ASSERT_EQ(table.size(), 2u);
        EXPECT_EQ(table[0].samples, c.samples);
        EXPECT_EQ(table[0].firstSizeCode, c.sizeCode);
        EXPECT_EQ(table[0].sps, c.sps);
        EXPECT_EQ(table[1].channelId, kSentinel);
        EXPECT_EQ(table[1].samples, (std::vector<float>{1, 2}));
    }
}

TEST(WinDecoder, TakesTheBlockTimeFromItsBcdFields)
{
    struct Case {
        Bytes time;
        int year, month, day, hour, minute, second;
    };
    const std::vector<Case> cases = {
        {{0x09, 0x03, 0x05, 0x07, 0x08, 0x09}, 2009, 3, 5, 7, 8, 9},
        {{0x99, 0x12, 0x31, 0x23, 0x59, 0x59}, 1999, 12, 31, 23, 59, 59},
        {{0x70, 0x01, 0x01, 0x00, 0x00, 0x00}, 1970, 1, 1, 0, 0, 0},
        {{0x69, 0x06, 0x30, 0x12, 0x30, 0x00}, 2069, 6, 30, 12, 30, 0},
        {{0x00, 0x02, 0x29, 0x00, 0x00, 0x00}, 2000, 2, 29, 0, 0, 0},
    };
    for (const Case& c : cases) {
        ChannelTable table;
        decode(body({0x00, 0xC1, 0x10, 0x01, 0, 0, 0, 0}, c.time), table, 14);
        ASSERT_EQ(table.size(), 1u);
        const double expected = secondsFromCivil(c.year, c.month, c.day, c.hour, c.minute, float(c.second));
        EXPECT_EQ(table[0].startTime, expected) << c.year;
        EXPECT_EQ(table[0].endTime, expected + 1.0);
    }
    // Time bytes alone, or fewer, hold no channel.
    for (std::size_t length = 0; length <= 6; ++length) {
        ChannelTable table;
        decode(body({}), table, length);
        EXPECT_TRUE(table.empty());
    }
}

TEST(WinDecoder, KeepsChannelsInFirstOccurrenceAndCountsTheirBlocks)
{
    const double t0 = secondsFromCivil(2010, 3, 3, 2, 0, 0.0f);
    std::vector<WinSecond> seconds(4);
    for (std::size_t k = 0; k < seconds.size(); ++k) setSecondTime(seconds[k], t0 + double(k));
    // Second 0: a, b. Second 1: b only (a is missing). Second 2: c appears
    // late, then a with half its rate. Second 3: b twice. Decoding alone
    // keeps each channel's blocks in file order; finishChannels then puts
    // them at their times (segments_test.cpp).
    seconds[0].channels = {{0xA, {1, 2, 3, 4}}, {0xB, {10, 20}}};
    seconds[1].channels = {{0xB, {30, 40}}};
    seconds[2].channels = {{0xC, {7}}, {0xA, {5, 6}}};
    seconds[3].channels = {{0xB, {50, 60}}, {0xB, {70, 80}}};
    ChannelTable table;
    for (const auto& second : seconds) decode(writtenBody(second), table);

    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(table[0].channelId, 0xA);
    EXPECT_EQ(table[1].channelId, 0xB);
    EXPECT_EQ(table[2].channelId, 0xC);

    // a: its two blocks one after another; rate of its first block.
    EXPECT_EQ(table[0].samples, (std::vector<float>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(table[0].sps, 4);
    EXPECT_EQ(table[0].startTime, t0);
    EXPECT_EQ(table[0].endTime, t0 + 2.0);
    // b: four blocks in three seconds, appended in order.
    EXPECT_EQ(table[1].samples, (std::vector<float>{10, 20, 30, 40, 50, 60, 70, 80}));
    EXPECT_EQ(table[1].endTime, t0 + 4.0);
    // c: starts at the time of the block where it first occurs.
    EXPECT_EQ(table[2].startTime, t0 + 2.0);
    EXPECT_EQ(table[2].endTime, t0 + 3.0);
    EXPECT_EQ(table.find(0xB), &table[1]);
    EXPECT_EQ(table.find(0xD), nullptr);
}

TEST(WinDecoder, KeepsWhatWasCompleteOfATruncatedBody)
{
    WinSecond second;
    second.channels = {{0x1, walk(9, 3, 1, -2), 0},
                       {0x2, walk(50, -100, 100, -90), 1},
                       {0x3, walk(30, 1, 1000, -1000), 2, true},
                       {0x4, walk(10, 5, 70000, -70000), 3},
                       {0x5, {1, 2, 3}, 5}};
    const Bytes full = writtenBody(second);
    // Where each channel block ends inside the body.
    std::vector<std::size_t> ends;
    {
        std::size_t end = 6;
        for (const auto& channel : second.channels) {
            Bytes one;
            ASSERT_TRUE(appendChannelBlock(channel, one));
            end += one.size();
            ends.push_back(end);
        }
        ASSERT_EQ(end, full.size());
    }
    for (std::size_t length = 0; length <= full.size(); ++length) {
        SCOPED_TRACE(length);
        ChannelTable table;
        decode(full, table, length);
        std::size_t complete = 0;
        while (complete < ends.size() && ends[complete] <= length) ++complete;
        ASSERT_EQ(table.size(), complete);
        for (std::size_t i = 0; i < complete; ++i) {
            EXPECT_EQ(table[i].samples, asFloats(second.channels[i].samples));
        }
    }
}

TEST(WinDecoder, DropsTheRestOfTheBodyAtAChannelBlockOfUnknownLength)
{
    const Bytes good = {0x00, 0x01, 0x10, 0x02, 0, 0, 0, 4, 0x01};
    for (std::uint8_t code : {std::uint8_t{0x60}, std::uint8_t{0x70}, std::uint8_t{0xE0}, std::uint8_t{0xF0}}) {
        Bytes blocks = good;
        const Bytes unknown = {0x00, 0x02, code, 0x02, 0, 0, 0, 1, 0x00, 0x00, 0x00, 0x02};
        blocks.insert(blocks.end(), unknown.begin(), unknown.end());
        blocks.insert(blocks.end(), good.begin(), good.end());
        ChannelTable table;
        decode(body(blocks), table);
        ASSERT_EQ(table.size(), 1u) << int(code);
        EXPECT_EQ(table[0].samples, (std::vector<float>{4, 5}));
        EXPECT_EQ(table[0].endTime - table[0].startTime, 1.0);
    }
    // A count far beyond the body is refused without reading or reserving it.
    ChannelTable table;
    decode(body({0x00, 0x03, 0x8F, 0xFF, 0xFF, 0, 0, 0, 1, 0x00}), table);
    EXPECT_TRUE(table.empty());
}

TEST(ChannelTable, ReservesFromTheSizeHintWithinItsBudget)
{
    ChannelTable table;
    table.setSizeHint(3600, 1000000);
    WinSecond second;
    second.channels = {{0x1, walk(100, 0, 1, -1)}, {0x2, walk(100, 0, 1, -1)}, {0x3, walk(100, 0, 1, -1)}};
    decode(writtenBody(second), table);
    ASSERT_EQ(table.size(), 3u);
    EXPECT_GE(table[0].samples.capacity(), 360000u);
    EXPECT_GE(table[1].samples.capacity(), 360000u);
    // The third reservation would exceed the budget: it gets what is left.
    EXPECT_LT(table[2].samples.capacity(), 360000u);
    EXPECT_EQ(table[2].samples, asFloats(walk(100, 0, 1, -1)));
}

}  // namespace
}  // namespace tremcvt
