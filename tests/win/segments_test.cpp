// Irregular WIN files: every channel block's samples at the block's time,
// each second once, in segments of consecutive seconds at one rate, and the
// irregularities told. Sample values encode their own time, so that a sample
// found at the wrong time, twice or not at all shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/calendar/calendar.h"
#include "converter/win/channel_table.h"
#include "converter/win/irregularity_text.h"
#include "converter/win/win_decoder.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt {
namespace {

using Kind = IrregularityKind;

constexpr std::uint16_t kChannelA = 0x00C1;  // follows each case
constexpr std::uint16_t kChannelB = 0x00C2;  // in every second block of the file, at the full rate

// One second block of a file: its second (from the file's minute) and how
// channel A appears in it.
struct Block {
    int second = 0;
    bool withA = true;
    int aDivisor = 1;     // A holds rate / aDivisor samples
    bool aAltered = false;  // A's samples differ from the true ones
};

std::vector<Block> seconds(int from, int to)
{
    std::vector<Block> out;
    for (int s = from; s < to; ++s) out.push_back({s});
    return out;
}

std::vector<Block> operator+(std::vector<Block> a, const std::vector<Block>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::vector<Block> with(std::vector<Block> blocks, int second, void (*change)(Block&))
{
    for (Block& block : blocks) {
        if (block.second == second) change(block);
    }
    return blocks;
}

// The value of sample i of the second s (from the minute) at sps samples per
// second: its time in milliseconds after the minute, plus a bias that keeps
// it positive. An altered copy is off by one.
std::int32_t valueAt(int second, int i, int sps, bool altered = false)
{
    return (second + 100) * 1000 + i * (1000 / sps) + (altered ? 1 : 0);
}

std::vector<std::int32_t> secondOf(int second, int sps, bool altered)
{
    std::vector<std::int32_t> out;
    for (int i = 0; i < sps; ++i) out.push_back(valueAt(second, i, sps, altered));
    return out;
}

ChannelTable decodeFile(const std::vector<Block>& blocks, double minute, int rate)
{
    ChannelTable table;
    for (const Block& block : blocks) {
        WinSecond second;
        setSecondTime(second, minute + block.second);
        const int aRate = rate / block.aDivisor;
        if (block.withA) second.channels.push_back({kChannelA, secondOf(block.second, aRate, block.aAltered)});
        second.channels.push_back({kChannelB, secondOf(block.second, rate, false)});
        std::vector<std::uint8_t> bytes;
        EXPECT_TRUE(appendSecondBlock(second, bytes));
        decodeSecondBlock(bytes.data() + 4, bytes.size() - 4, table);
    }
    finishChannels(table);
    return table;
}

// What the channel must hold: each second that occurs, once, as its first
// copy in the file, in time order.
std::vector<float> keptSamples(const std::vector<Block>& blocks, bool channelA, int rate)
{
    std::map<int, Block> kept;
    for (const Block& block : blocks) {
        if (!channelA || block.withA) kept.emplace(block.second, block);
    }
    std::vector<float> out;
    for (const auto& [second, block] : kept) {
        const int sps = channelA ? rate / block.aDivisor : rate;
        for (std::int32_t value : secondOf(second, sps, channelA && block.aAltered)) out.push_back(float(value));
    }
    return out;
}

// Every sample of every segment is the one recorded at its time, and the
// segments lie in time order without overlap, covering the samples once.
void expectSamplesAtTheirTimes(const ChannelTrace& trace, double minute)
{
    ASSERT_FALSE(trace.segments.empty());
    EXPECT_EQ(trace.startTime, trace.segments.front().startTime);
    EXPECT_EQ(trace.endTime, trace.segments.back().endTime());
    std::size_t next = 0;
    double end = trace.startTime;
    for (const TraceSegment& segment : trace.segments) {
        EXPECT_EQ(segment.firstSample, next);
        EXPECT_GE(segment.startTime, end);
        EXPECT_EQ(segment.sampleCount, std::size_t(segment.sps) * std::size_t(segment.seconds));
        next += segment.sampleCount;
        end = segment.endTime();
        const int first = int(segment.startTime - minute);
        for (std::size_t j = 0; j < segment.sampleCount && next <= trace.samples.size(); ++j) {
            const int second = first + int(j / std::size_t(segment.sps));
            const int i = int(j % std::size_t(segment.sps));
            // An altered (dropped or kept) copy is one off at most.
            const float value = trace.samples[segment.firstSample + j];
            const float expected = float(valueAt(second, i, segment.sps));
            if (value != expected && value != expected + 1) {
                ADD_FAILURE() << "sample " << j << " of the segment at " << first << " s is " << value
                              << ", recorded at another time than " << expected;
                return;
            }
        }
    }
    EXPECT_EQ(next, trace.samples.size());
}

struct SegmentAt {
    int second;
    int divisor;
    int seconds;
};

struct IrregularityAt {
    Kind kind;
    int from;
    int to;
    int fromDivisor = 0;
    int toDivisor = 0;
    bool differing = false;
};

TEST(WinSegments, PutsEverySampleOfAnIrregularMinuteAtItsTimeOnce)
{
    struct Case {
        const char* name;
        std::vector<Block> file;
        std::vector<SegmentAt> segments;          // of channel A
        std::vector<IrregularityAt> irregularities;  // of channel A
    };
    const auto noA = [](Block& b) { b.withA = false; };
    const auto halfRate = [](Block& b) { b.aDivisor = 2; };
    std::vector<Block> aMissing = seconds(0, 60);
    for (int s = 20; s <= 24; ++s) aMissing = with(aMissing, s, noA);
    // The minute sent twice, A's second copy differing: the first copy stays.
    std::vector<Block> twice = seconds(0, 60);
    std::vector<IrregularityAt> twiceRepeats;
    for (int s = 0; s < 60; ++s) {
        twice.push_back({s, true, 1, true});
        twiceRepeats.push_back({Kind::RepeatedSecond, s, s + 1, 0, 0, true});
    }
    const std::vector<Case> cases = {
        {"regular", seconds(0, 60), {{0, 1, 60}}, {}},
        {"second 30 missing", seconds(0, 30) + seconds(31, 60), {{0, 1, 30}, {31, 1, 29}}, {{Kind::Gap, 30, 31}}},
        {"channel A missing from seconds 20-24", aMissing, {{0, 1, 20}, {25, 1, 35}}, {{Kind::Gap, 20, 25}}},
        {"second 12 twice, identical", seconds(0, 13) + seconds(12, 60), {{0, 1, 60}},
         {{Kind::RepeatedSecond, 12, 13}}},
        {"second 12 twice, A differing",
         seconds(0, 13) + std::vector<Block>{{12, true, 1, true}} + seconds(13, 60), {{0, 1, 60}},
         {{Kind::RepeatedSecond, 12, 13, 0, 0, true}}},
        {"the minute twice, A's copy differing", twice, {{0, 1, 60}}, twiceRepeats},
        {"seconds 10 and 11 swapped", seconds(0, 10) + seconds(11, 12) + seconds(10, 11) + seconds(12, 60),
         {{0, 1, 60}}, {{Kind::OutOfOrder, 10, 11}}},
        {"previous minute's 50th second first", seconds(-10, -9) + seconds(0, 60), {{-10, 1, 1}, {0, 1, 60}},
         {{Kind::Gap, -9, 0}}},
        {"previous minute's last second first", seconds(-1, 60), {{-1, 1, 61}}, {}},
        {"previous minute's 50th second last", seconds(0, 60) + seconds(-10, -9), {{-10, 1, 1}, {0, 1, 60}},
         {{Kind::Gap, -9, 0}, {Kind::OutOfOrder, -10, -9}}},
        {"second 30 at half the rate", with(seconds(0, 60), 30, halfRate), {{0, 1, 30}, {30, 2, 1}, {31, 1, 29}},
         {{Kind::RateChange, 30, 31, 1, 2}, {Kind::RateChange, 31, 32, 2, 1}}},
        {"a first block at half the rate, then a gap, then out of order",
         with(seconds(0, 5), 0, halfRate) + seconds(7, 10) + seconds(5, 6), {{0, 2, 1}, {1, 1, 5}, {7, 1, 3}},
         {{Kind::Gap, 6, 7}, {Kind::OutOfOrder, 5, 6}, {Kind::RateChange, 1, 2, 2, 1}}},
    };
    const double minutes[] = {secondsFromCivil(2010, 3, 3, 2, 0, 0.0f),
                              // the seconds cross an hour, a day and a year
                              secondsFromCivil(2010, 12, 31, 23, 59, 30.0f)};
    for (const Case& c : cases) {
        for (const double minute : minutes) {
            for (const int rate : {20, 100, 200}) {
                SCOPED_TRACE(std::string(c.name) + " at " + calendarText(minute) + ", " + std::to_string(rate) +
                             " sps");
                const ChannelTable table = decodeFile(c.file, minute, rate);
                ASSERT_EQ(table.size(), 2u);
                const ChannelTrace& a = table[0];
                const ChannelTrace& b = table[1];
                ASSERT_EQ(a.channelId, kChannelA);
                EXPECT_EQ(a.sps, rate / c.file.front().aDivisor);  // the first block's n in the file
                EXPECT_EQ(a.samples, keptSamples(c.file, true, rate));
                EXPECT_EQ(b.samples, keptSamples(c.file, false, rate));
                expectSamplesAtTheirTimes(a, minute);
                expectSamplesAtTheirTimes(b, minute);

                std::vector<TraceSegment> segments;
                std::size_t first = 0;
                for (const SegmentAt& s : c.segments) {
                    const int sps = rate / s.divisor;
                    segments.push_back({minute + s.second, sps, first, std::size_t(sps * s.seconds), s.seconds});
                    first += std::size_t(sps * s.seconds);
                }
                EXPECT_EQ(a.segments, segments);
                std::vector<TraceIrregularity> irregularities;
                for (const IrregularityAt& i : c.irregularities) {
                    irregularities.push_back({i.kind, minute + i.from, minute + i.to,
                                              i.fromDivisor ? rate / i.fromDivisor : 0,
                                              i.toDivisor ? rate / i.toDivisor : 0, i.differing});
                }
                EXPECT_EQ(a.irregularities, irregularities);

                // Finishing again changes nothing.
                ChannelTable again = table;
                finishChannels(again);
                EXPECT_EQ(again[0].samples, a.samples);
                EXPECT_EQ(again[0].segments, a.segments);
                EXPECT_EQ(again[0].irregularities, a.irregularities);
                EXPECT_EQ(again[0].endTime, a.endTime);
            }
        }
    }
}

// On a regular file the finished trace is the trace of the blocks joined in
// file order, exactly as decoding alone leaves it: one segment per channel.
TEST(WinSegments, LeavesARegularFileAsItsBlocksInFileOrder)
{
    const double t0 = secondsFromCivil(2010, 3, 3, 2, 59, 0.0f);
    std::vector<WinSecond> file(120);
    for (std::size_t k = 0; k < file.size(); ++k) {
        const auto s = std::int64_t(t0) + std::int64_t(k);
        setSecondTime(file[k], double(s));
        file[k].channels = {{0xA100, syntheticSecond(0xA100, 1, s, 100, 3000)},
                            {0x00C1, syntheticSecond(0x00C1, 2, s, 20, 100000), 4},
                            {0x0001, {}},  // n 0 in every second
                            {0xF111, syntheticSecond(0xF111, 3, s, 500, 70), kWinWriterAutoSize, true}};
        if (k >= 7) file[k].channels.push_back({0x00C2, syntheticSecond(0x00C2, 4, s, 200, 30)});  // from second 7 on
    }
    ChannelTable table;
    for (const WinSecond& second : file) {
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(appendSecondBlock(second, bytes));
        decodeSecondBlock(bytes.data() + 4, bytes.size() - 4, table);
    }
    const ChannelTable decoded = table;
    finishChannels(table);
    ASSERT_EQ(table.size(), 5u);
    for (std::size_t c = 0; c < table.size(); ++c) {
        const ChannelTrace& before = decoded[c];
        const ChannelTrace& after = table[c];
        SCOPED_TRACE(after.channelId);
        EXPECT_EQ(after.samples, before.samples);
        EXPECT_EQ(after.sps, before.sps);
        EXPECT_EQ(after.firstSizeCode, before.firstSizeCode);
        EXPECT_EQ(after.startTime, before.startTime);
        EXPECT_EQ(after.endTime, before.endTime);
        EXPECT_EQ(after.sampleCount(), before.sampleCount());
        EXPECT_TRUE(after.irregularities.empty());
        const std::int32_t seconds = c == 4 ? 113 : 120;
        EXPECT_EQ(after.endTime - after.startTime, double(seconds));
        EXPECT_EQ(after.segments, (std::vector<TraceSegment>{{after.startTime, after.sps, 0,
                                                               std::size_t(after.sps) * std::size_t(seconds),
                                                               seconds}}));
    }
    // A trace put together without the decoder becomes one segment.
    ChannelTable made;
    ChannelTrace trace;
    trace.sps = 2;
    trace.samples = {1, 2, 3, 4, 5, 6};
    trace.startTime = t0;
    trace.endTime = t0 + 3;
    made.append(trace);
    finishChannels(made);
    EXPECT_EQ(made[0].segments, (std::vector<TraceSegment>{{t0, 2, 0, 6, 3}}));
}

TEST(WinSegments, DropsTheLaterCopyOfAChannelTwiceInOneSecondBlock)
{
    const double t0 = secondsFromCivil(2010, 3, 3, 2, 0, 0.0f);
    std::vector<WinSecond> file(3);
    for (std::size_t k = 0; k < file.size(); ++k) setSecondTime(file[k], t0 + double(k));
    file[0].channels = {{0xB, {10, 20}}};
    file[1].channels = {{0xB, {30, 40}}, {0xB, {30, 40}}};
    file[2].channels = {{0xB, {50, 60}}, {0xB, {70, 80}}};
    ChannelTable table;
    for (const WinSecond& second : file) {
        std::vector<std::uint8_t> bytes;
        ASSERT_TRUE(appendSecondBlock(second, bytes));
        decodeSecondBlock(bytes.data() + 4, bytes.size() - 4, table);
    }
    finishChannels(table);
    ASSERT_EQ(table.size(), 1u);
    EXPECT_EQ(table[0].samples, (std::vector<float>{10, 20, 30, 40, 50, 60}));
    EXPECT_EQ(table[0].endTime, t0 + 3.0);
    EXPECT_EQ(table[0].irregularities,
              (std::vector<TraceIrregularity>{{Kind::RepeatedSecond, t0 + 1, t0 + 2, 0, 0, false},
                                              {Kind::RepeatedSecond, t0 + 2, t0 + 3, 0, 0, true}}));
}

TEST(IrregularityText, GivesOneLinePerKindInTimeOrder)
{
    const double t = secondsFromCivil(2010, 3, 3, 2, 0, 0.0f);
    const TraceIrregularity gap1{Kind::Gap, t + 20, t + 25};
    const TraceIrregularity gap2{Kind::Gap, t + 30, t + 31};
    const TraceIrregularity same{Kind::RepeatedSecond, t + 12, t + 13, 0, 0, false};
    const TraceIrregularity differing{Kind::RepeatedSecond, t + 13, t + 14, 0, 0, true};
    const TraceIrregularity late{Kind::OutOfOrder, t - 10, t - 9};
    const TraceIrregularity swapped{Kind::OutOfOrder, t + 10, t + 11};
    const TraceIrregularity slower{Kind::RateChange, t + 30, t + 31, 100, 50};
    std::vector<TraceIrregularity> many;
    for (int k = 0; k < 12; ++k) many.push_back({Kind::Gap, t + 2 * k, t + 2 * k + 1});

    struct Case {
        std::vector<TraceIrregularity> irregularities;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {{}, {}},
        {{gap2}, {"KAM::BHZ: gap 2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)"}},
        {{gap1, gap2, same, differing, late, swapped, slower},
         {"KAM::BHZ: 2 gaps: 2010-03-03T02:00:20 - 2010-03-03T02:00:25 (5 s), "
          "2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)",
          "KAM::BHZ: 2 repeated seconds: 2010-03-03T02:00:12 (identical copy dropped), "
          "2010-03-03T02:00:13 (differing copy dropped)",
          "KAM::BHZ: 2 out-of-order blocks: 2010-03-03T01:59:50, 2010-03-03T02:00:10 (put in their place)",
          "KAM::BHZ: rate change 100 -> 50 sps at 2010-03-03T02:00:30"}},
        {{differing, late}, {"KAM::BHZ: repeated second 2010-03-03T02:00:13 (differing copy dropped)",
                             "KAM::BHZ: out-of-order block 2010-03-03T01:59:50 (put in its place)"}},
        {many,
         {"KAM::BHZ: 12 gaps: 2010-03-03T02:00:00 - 2010-03-03T02:00:01 (1 s), 2010-03-03T02:00:02 - "
          "2010-03-03T02:00:03 (1 s), 2010-03-03T02:00:04 - 2010-03-03T02:00:05 (1 s), 2010-03-03T02:00:06 - "
          "2010-03-03T02:00:07 (1 s), 2010-03-03T02:00:08 - 2010-03-03T02:00:09 (1 s), 2010-03-03T02:00:10 - "
          "2010-03-03T02:00:11 (1 s), 2010-03-03T02:00:12 - 2010-03-03T02:00:13 (1 s), 2010-03-03T02:00:14 - "
          "2010-03-03T02:00:15 (1 s), 2010-03-03T02:00:16 - 2010-03-03T02:00:17 (1 s), 2010-03-03T02:00:18 - "
          "2010-03-03T02:00:19 (1 s), ..."}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(describeIrregularities("KAM::BHZ", c.irregularities), c.lines);
    }
}

}  // namespace
}  // namespace tremcvt
